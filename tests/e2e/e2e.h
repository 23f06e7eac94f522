// e2e.h - run the built ziptext as a user does, in a private directory
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/zip_builder.h"

namespace vtq::e2e {

struct RunResult {
    int status = -1;        // exit status; -1 when killed by a signal
    int signal = 0;         // the signal that ended it, or 0
    bool timed_out = false; // killed after the time limit
    long max_rss_kib = 0;   // peak resident memory seen while it ran (sampled)
    std::string out, err;   // standard output and error
    // The result code in a "ziptext: X: ... (code N)" line, or 0.
    uint32_t Code() const;
};

// With VTQ_E2E_MEMCHECK set (and not "0") Run() starts ziptext inside
// valgrind's memcheck with leak checking, gives it twenty times the time,
// and fails the test on any memcheck report.
bool UnderMemcheck();

// Each test gets a directory of its own with work/, the tool's current
// directory, and tmp/, its TMPDIR; removed when the test passes, kept when
// it fails.  Every test ends by checking that tmp/ is empty.
class ZiptextTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Runs ziptext with args in work/, extra environment entries added;
    // killed after timeout_s seconds.
    RunResult Run(const std::vector<std::string> &args,
                  const std::vector<std::pair<std::string, std::string>> &env = {},
                  int timeout_s = 60) const;

    // Starts ziptext with args in work/ as Run() does, standard output on
    // out_fd, and returns at once with its process id (-1 on failure).
    pid_t Start(const std::vector<std::string> &args, int out_fd,
                const std::vector<std::pair<std::string, std::string>> &env = {}) const;

    std::string Work(const std::string &name = "") const {
        return name.empty() ? root_ + "/work" : root_ + "/work/" + name;
    }
    std::string Tmp() const { return root_ + "/tmp"; }
    // Every path below dir, relative, sorted; directories end in "/".
    static std::vector<std::string> Tree(const std::string &dir);

    // A command that runs ziptext (its arguments follow), such as setpriv.
    std::vector<std::string> launcher_;
    // A file of work/ that ziptext reads as standard input; "": the test's own.
    std::string stdin_;

private:
    std::string root_;
};

// Table rows print as their label, so that a failing row is named.
template <typename Row>
    requires requires(const Row &r) { std::string(r.label); }
void PrintTo(const Row &row, std::ostream *os) {
    *os << row.label;
}

// A ZIP archive as bytes: members given as (name, content) pairs, deflated.
std::string Zip(const std::vector<std::pair<std::string, std::string>> &members);

// The compose-mode block of one member: labels, text, a line break.
inline std::string Block(const std::string &name, const std::string &text) {
    return "Filename: " + name + "\nContent: \n" + text + "\n";
}

} // namespace vtq::e2e

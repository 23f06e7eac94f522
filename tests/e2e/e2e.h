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

using Env = std::vector<std::pair<std::string, std::string>>;

struct RunResult {
    int status = -1, signal = 0; // exit status (-1 when killed), the signal that ended it
    bool timed_out = false;      // killed after the time limit
    long max_rss_kib = 0;        // peak resident memory seen while it ran (sampled)
    std::string out, err;
    uint32_t Code() const;       // N of a last "ziptext: ... (code N)" line, or 0
};

// With VTQ_E2E_MEMCHECK set (and not "0") Run() starts ziptext inside
// valgrind's memcheck, with twenty times the time, and fails the test on
// any memcheck report.
bool UnderMemcheck();

// Each test gets a directory with work/, the tool's current directory, and
// tmp/, its TMPDIR, which must end empty; removed when the test passes.
class ZiptextTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Runs ziptext with args in work/, env added; killed after timeout_s.
    RunResult Run(const std::vector<std::string> &args, const Env &env = {}, int timeout_s = 60) const;
    // Starts it as Run() does with standard output on out_fd; its pid.
    pid_t Start(const std::vector<std::string> &args, int out_fd, const Env &env = {}) const;
    std::string Work(const std::string &name = "") const { return root_ + "/work" + (name.empty() ? "" : "/" + name); }
    std::string Tmp() const { return root_ + "/tmp"; }
    // Every path below dir, relative, sorted; directories end in "/".
    static std::vector<std::string> Tree(const std::string &dir);

    std::vector<std::string> launcher_; // a command that runs ziptext, such as setpriv
    std::string stdin_;                 // a file of work/ as standard input; "": the test's own

private:
    std::string root_;
};

// Table rows print as their label.
template <typename Row>
    requires requires(const Row &r) { std::string(r.label); }
void PrintTo(const Row &row, std::ostream *os) {
    *os << row.label;
}

// A ZIP archive of (name, content) members, deflated.
std::string Zip(const std::vector<std::pair<std::string, std::string>> &members);

// The compose-mode block of one member: labels, text, a line break.
inline std::string Block(const std::string &name, const std::string &text) {
    return "Filename: " + name + "\nContent: \n" + text + "\n";
}

} // namespace vtq::e2e

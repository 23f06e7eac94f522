// e2e.h - run the built ziptext as a user does, in a private directory
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "tests/support/zip_builder.h"

namespace vtq::e2e {

using Strings = std::vector<std::string>;
using Env = std::vector<std::pair<std::string, std::string>>;

struct RunResult {
    int status = -1, signal = 0; // exit status (-1 when killed), the signal that ended it
    bool timed_out = false;
    long max_rss_kib = 0; // peak resident memory seen while it ran (sampled)
    std::string out, err;
    uint32_t Code() const; // N of a last "ziptext: ... (code N)" line, or 0
};

// VTQ_E2E_MEMCHECK set, not "0": ziptext runs inside memcheck, with twenty times the time, and any
// memcheck report fails the test.
bool UnderMemcheck();

// Each test gets a directory with work/, the tool's current directory, and tmp/, its TMPDIR, which
// must end empty; removed when the test passes.
class ZiptextTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Runs ziptext with args in work/, env added; killed after timeout_s.
    RunResult Run(const Strings &args, const Env &env = {}, int timeout_s = 60) const;
    // Starts it as Run() does with standard output on out_fd; its pid.
    pid_t Start(const Strings &args, int out_fd, const Env &env = {}) const;
    std::string Work(const std::string &name = "") const {
        return root_ + "/work" + (name.empty() ? "" : "/" + name);
    }
    std::string Tmp() const { return root_ + "/tmp"; }
    // Every path below dir, relative, sorted; directories end in "/".
    static Strings Tree(const std::string &dir);

    Strings launcher_;  // a command that runs ziptext, such as setpriv
    std::string stdin_; // a file of work/ as standard input; "": the test's own

private:
    std::string root_;
};

using Check = std::function<void(const RunResult &, const std::string &work)>;
using Planter = std::function<void(const std::string &work)>;

// One run of ziptext in work/, with a.zip made and out/ there, and how it must end.  Always: work/
// holds nothing new at its top, nothing appears beside it, time and memory stay bounded.
struct Row {
    std::string label = "";
    std::function<std::string(const std::string &work)> archive = nullptr; // null: no a.zip
    Strings args = {};
    int status = 0;
    std::optional<uint32_t> code = std::nullopt; // of the last message
    using Paths = std::vector<std::pair<std::string, std::string>>;
    Paths after = {};     // paths of work/, What() they must be
    std::string err = ""; // in the messages; with a final line break, all of them
    Check check = nullptr;
    Planter plant = nullptr;                       // before the run (may skip the test)
    std::optional<std::string> out = std::nullopt; // standard output, or what the FIFO got
    std::string in = "";                           // a file of work/ as standard input
    const char *fifo = nullptr; // a FIFO of work/ read while it runs (must get out)
    Env env = {};
    long max_rss_kib = 256 << 10;
    bool needs_root = false, read_only_out = false; // mknod or mount; out/ not writable
};
// A row from its leading fields, as a call: a row stays a line or two.
inline Row Ends(std::string label, decltype(Row::archive) archive, Strings args, int status,
                std::optional<uint32_t> code, Row::Paths after = {}, std::string err = "",
                Check check = nullptr, Planter plant = nullptr) {
    return {label, archive, args, status, code, after, err, check, plant};
}
class Runs : public ZiptextTest, public ::testing::WithParamInterface<Row> {};
#define VTQ_ROWS(name, rows)                                                                       \
    INSTANTIATE_TEST_SUITE_P(name, Runs, ::testing::ValuesIn(rows),                                \
                             [](const auto &r) { return r.param.label; })
inline void PrintTo(const Row &row, std::ostream *os) { *os << row.label; }

// What is at path: "<fifo>", "<link>", "<device>", "<directory>", "<none>", or a file's bytes.
std::string What(const std::string &path);
inline auto Fixed(std::string bytes) {
    return [bytes](const std::string &) { return bytes; };
}
// (name, content) members deflated, directories stored.
std::string Zip(const std::vector<std::pair<std::string, std::string>> &members);
// The compose-mode block of one member: labels, text, a line break.
inline std::string Block(const std::string &name, const std::string &text) {
    return "Filename: " + name + "\nContent: \n" + text + "\n";
}

} // namespace vtq::e2e

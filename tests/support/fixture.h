// fixture.h - per-test work directory and host reset for the unit tests
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "tests/support/test_host.h"
#include "vtq/zozaz.h"

namespace vtq::test {

// Each test gets a fresh directory of its own (removed when the test
// passes, kept for a look when it fails), a reset test host, and a leak
// check of host allocations at the end.
class HostTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Path of name inside the test's directory.
    std::string Path(const std::string &name) const { return dir_ + "/" + name; }
    const std::string &dir() const { return dir_; }
    // Every path under dir (relative, sorted; directories end in "/").
    std::vector<std::string> Tree(const std::string &under = "") const;
    // The host's memory files opened during the test that still exist.
    std::vector<std::string> MemoryFiles() const;

private:
    std::string dir_;
};

// A context whose writers go to out.txt in the test's directory, or to
// stream_ once a test sets stream mode; options opts_, parent parent_.
class OutputTest : public HostTest {
protected:
    void SetUp() override;
    void TearDown() override; // closes the output
    // What reached the output so far (closes the file).
    std::string Output();

    TxtOptions opts_{};
    std::unique_ptr<ParentInfo> parent_ = std::make_unique<ParentInfo>();
    std::unique_ptr<ZipBus> bus_ = std::make_unique<ZipBus>();
    StringStream stream_;
    std::string out_path_;
};

// A context for the extraction loop as an entry point leaves it: opts, its
// own parent, file mode, output path out and work path work.  The strings
// must outlive the context (it keeps out's pointer).
std::unique_ptr<ZipBus> LoopBus(TxtOptions *opts, const std::string &out,
                                const std::string &work = "");

// Runs the extraction loop on archive and frees what it hands out as an
// entry point does, closing the output; a failure must leave the
// out-parameters alone.  names, when given, gets "name:size" for each
// record ("-" for an empty one).
uint32_t RunLoop(const std::string &archive, ZipBus *bus, std::vector<std::string> *names = nullptr);

// One file member of an extended-mode walk, as its events and the host
// saw it.
struct Walked {
    std::string name, reason, content; // content: what the host got, if anything
    uint32_t code = 0;                 // END's
    uint32_t depth = 0;                // enclosing members whose END was still to come
    bool handed = false;
    VtqMemberEvent begin{};            // pointers not valid after the event
};

// Runs the extraction loop in extended compose mode (mode: the ModeFlags
// besides Enabled, Extended and Compose) on archive, composing into out
// (removed afterwards), with ext as the
// extension (its OnMember and User replaced by a recorder); *walked gets
// the file members in the order of their BEGIN events, *deferred the
// DeferredError.  Checks that BEGIN and END pair up, name the same member,
// and that an END says why exactly when it gives a failure.  Returns the
// loop's code.  The host's per-member hook is borrowed for the call:
// members are copied, as by default, or handed to nested (when set).
uint32_t RunExtended(const std::string &archive, const std::string &out, VtqExtension ext,
                     uint32_t mode, std::vector<Walked> *walked, uint32_t *deferred = nullptr,
                     const std::function<uint32_t(MemberCall &)> &nested = nullptr);

// Descriptors open in this process.
size_t OpenFds();

// Root of the bundled corpus of public archives, or "" when it is absent.
std::string CorpusDir();

} // namespace vtq::test

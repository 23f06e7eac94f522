// fixture.h - per-test work directory and host reset for the unit tests
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "tests/support/test_host.h"
#include "vtq/zozaz.h"

namespace vtq::test {

// A fresh directory per test (removed when the test passes, kept when it
// fails), a reset test host, and a leak check of host allocations.
class HostTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    std::string Path(const std::string &name) const { return dir_ + "/" + name; }
    const std::string &dir() const { return dir_; }
    // Every path under dir (relative, sorted; directories end in "/").
    std::vector<std::string> Tree(const std::string &under = "") const;
    // The host's memory files opened during the test that still exist.
    std::vector<std::string> MemoryFiles() const;

private:
    std::string dir_;
};

// A context for the extraction loop as an entry point leaves it: opts, its
// own parent, file mode, output path out, work path work (the strings must
// outlive it).
std::unique_ptr<ZipBus> LoopBus(TxtOptions *opts, const std::string &out,
                                const std::string &work = "");

// Runs the extraction loop on archive and frees what it hands out, closing
// the output; a failure must leave the out-parameters alone.
uint32_t RunLoop(const std::string &archive, ZipBus *bus);

// One file member of an extended-mode walk, as its events and the host
// saw it.
struct Walked {
    std::string name, reason, content; // content: what the host got, if anything
    uint32_t code = 0;                 // END's
    bool handed = false;
    VtqMemberEvent begin{}; // pointers not valid after the event
};

// Runs the extraction loop in extended compose mode (mode: ModeFlags
// besides Enabled, Extended and Compose) on archive into out (removed
// afterwards), with ext's OnMember and User replaced by a recorder: *walked
// gets the file members in BEGIN order, *deferred the DeferredError.
// Checks that BEGIN and END pair up and name the same member, and that an
// END says why exactly when it gives a failure.  Returns the loop's code.
// Members are copied, as by default, or handed to nested (when set).
uint32_t RunExtended(const std::string &archive, const std::string &out, VtqExtension ext,
                     uint32_t mode, std::vector<Walked> *walked, uint32_t *deferred = nullptr,
                     const std::function<uint32_t(MemberCall &)> &nested = nullptr);

size_t OpenFds();        // descriptors open in this process
std::string CorpusDir(); // root of the bundled corpus, "" when absent

} // namespace vtq::test

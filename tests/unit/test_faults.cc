// test_faults.cc - every failable host call of an extraction fails in turn
//
// For each scenario a clean run first counts the calls of each kind; then
// call 1, 2, ... N of that kind fails, once, and then from that call on
// (every later call of the kind fails too, as when a disk stays full).
// Every run must end with a documented code, give back every allocation
// and every descriptor, leave no memory file behind, and put nothing
// outside the output directory.  The call counts make this exhaustive: a
// run whose fault did not fire means the count was wrong.
//
// Leftovers the contract allows, and which the checks therefore let
// through: a member file whose removal failed, and a member file written
// short (24).  Outside the output directory nothing may appear, ever.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "tests/support/encoders.h"
#include "tests/support/fixture.h"
#include "tests/support/zip_builder.h"
#include "vtq/zozaz.h"

namespace fs = std::filesystem;

namespace vtq::test {
namespace {

// What a fault of each kind may end in: the kind's own code, or, where
// the failing call belongs to one member's reading, a code for that member
// (the damage codes of a read that came back empty).  Besides these, any
// run may end with 0 (the failure was one the extraction can live with) or
// with a member's 6000/6003 when KeepGoing records the member and goes on.
struct Kind {
    HostCall call;
    const char *name;
    std::set<uint32_t> codes;
};
const Kind kKinds[] = {
    {kAlloc, "alloc", {12, 3100, 6002}},
    {kOpen, "open", {22}},
    {kRead, "read", {25, 27, 2001, 3100, 3101, 3102}},
    {kSeek, "seek", {25, 3100}},
    {kTell, "tell", {25, 3100}},
    {kWrite, "write", {24, 6002}},
    {kMkDir, "mkdir", {22}},
    {kRmDir, "rmdir", {}},
    {kRemove, "remove", {}},
    {kOpenDir, "opendir", {}},
    {kTmpName, "tmpname", {22}},
    {kConv, "convert", {}},
};
const std::set<uint32_t> kAnyFault = {0, 6000, 6003};
const Kind &KindOf(HostCall call) {
    return *std::find_if(std::begin(kKinds), std::end(kKinds), [call](const Kind &k) { return k.call == call; });
}

enum class Via { kTop, kLoop };

struct Scenario {
    const char *label;
    Via via;
    uint32_t mode;   // ModeFlags besides Enabled
    uint32_t format; // FormatFlags
    std::function<ZipArchive()> archive;
    uint32_t clean_code;    // the result without faults
    size_t clean_calls;     // hand-offs without faults
};

// The host's per-member extraction for these tests: a member that is an
// archive goes back into the filter, as the stand-in host does it; a
// member named *.bin has no filter (6000); the rest is copied as text.
uint32_t Member(MemberCall &call) {
    if (call.path.ends_with(".bin")) return VTQ_E_NO_FILTER;
    if (call.content.rfind("PK\x03\x04", 0) != 0) return CopyMember(call);
    // Compose mode: the nested level writes an output of its own beside the
    // top-level one.  Split mode: its texts go under its own work directory,
    // which it makes beside the top-level one.
    const std::string out =
        call.mode == 2 ? fs::path(call.parent->Path).parent_path().string() + "/nested.txt"
                       : call.path + ".txt";
    return GetText4WithErrCallback(call.path.c_str(), out.c_str(), call.opts, nullptr,
                                   call.parent, call.user_data);
}

ZipArchive Archive(std::initializer_list<std::tuple<const char *, std::string, uint16_t>> members) {
    ZipArchive a;
    for (const auto &[name, data, method] : members) a.Add(name, data, method);
    return a;
}
ZipArchive Inner() { return Archive({{"d/", "", 0}, {"d/x.txt", "inner x\n", 8}, {"y.txt", "inner y\n", 0}}); }

const Scenario kScenarios[] = {
    // Pruned at the end: an empty directory and an empty text.
    {"SplitWithDirectories", Via::kTop, 0, 0,
     [] {
         return Archive({{"d/", "", 0}, {"d/e/", "", 0}, {"d/e/f.txt", "deep text\n", 8}, {"g.txt", "top text\n", 0},
                         {"h/i.txt", "implied directory\n", 8}, {"empty/", "", 0}, {"z.txt", "", 0}});
     },
     0, 4},
    {"Flat", Via::kTop, VTQ_MODE_FLAT, 0,
     [] { return Archive({{"x/a.txt", "first a\n", 0}, {"y/a.doc", "second a\n", 8}, {"b.txt", std::string(3000, 'b'), 8}}); },
     0, 3},
    // The member without a filter is recorded and the walk goes on; the
    // log file is one more file to open, write and close.
    {"ComposeKeepGoingWithLog", Via::kTop, VTQ_MODE_COMPOSE | VTQ_MODE_KEEP_GOING, VTQ_FMT_LOG,
     [] { return Archive({{"a.txt", "alpha\n", 0}, {"skip.bin", "no filter", 0}, {"c.txt", std::string(2000, 'c'), 8}}); },
     6000, 3},
    {"NestedSplit", Via::kTop, 0, 0, [] { return Archive({{"note.txt", "outer\n", 0}, {"inner.zip", Inner().Build(), 0}}); },
     0, 4},
    {"NestedComposeInParent", Via::kTop, VTQ_MODE_COMPOSE | VTQ_MODE_TEMP_IN_PARENT, 0,
     [] { return Archive({{"inner.zip", Inner().Build(), 8}, {"note.txt", "outer\n", 0}}); }, 0, 4},
    // Straight into the loop, with a password in the context, as no entry
    // point supplies one.
    {"EncryptedWithPassword", Via::kLoop, VTQ_MODE_COMPOSE, 0,
     [] {
         ZipArchive a = Archive({{"s.txt", "stored secret\n", 0}, {"t.txt", std::string(500, 't'), 8}, {"p.txt", "plain\n", 0}});
         a.members[0].password = a.members[1].password = "pw";
         return a;
     },
     0, 3},
    // The extended mode with its password "pw": a stub in front, ZIP64
    // fields, AES and traditional encryption, bzip2, a nested archive, and
    // a member with a wrong CRC that is skipped (6003 at the end).
    {"Extended", Via::kTop, VTQ_MODE_EXTENDED | VTQ_MODE_COMPOSE | VTQ_MODE_KEEP_GOING, 0,
     [] {
         ZipArchive a = Archive({{"a.txt", "alpha\n", 0}, {"bad.txt", "crc\n", 0}, {"inner.zip", Inner().Build(), 8}});
         a.stub = "#!/bin/sh\n";
         a.members[0].zip64 = true;
         a.members[1].crc = 1;
         Encode(a.Add("aes.txt", std::string(700, 'a')), 12, VTQ_ENC_AES256, "pw");
         Encode(a.Add("crypt.txt", "traditional\n"), 8, VTQ_ENC_ZIPCRYPTO, "pw");
         return a;
     },
     6003, 6},
};

void PrintTo(const Scenario &s, std::ostream *os) { *os << s.label; }

class Faults : public HostTest, public ::testing::WithParamInterface<Scenario> {
protected:
    void SetUp() override {
        HostTest::SetUp();
        fs::create_directories(Path("in"));
        fs::create_directories(Path("out"));
        WriteFile(Path("in/a.zip"), GetParam().archive().Build());
        host().member = Member;
        fds_ = OpenFds();
    }

    // One extraction of the scenario, fault armed as the caller left it.
    uint32_t RunOnce() {
        const Scenario &s = GetParam();
        opts_ = TxtOptions{};
        opts_.ModeFlags = VTQ_MODE_ENABLED | s.mode;
        opts_.FormatFlags = s.format | VTQ_FMT_EOL_LF;
        opts_.Extension = &ext_; // read in extended mode only
        const std::string archive = Path("in/a.zip"), out = Path("out/a.txt");
        if (s.via == Via::kTop)
            return GetTextWithErrCallback(archive.c_str(), out.c_str(), &opts_, nullptr, 0);

        auto bus = LoopBus(&opts_, out, Path("in"));
        static const char kPassword[] = "pw";
        bus->CryptOn = 1;
        bus->Password = reinterpret_cast<const unsigned char *>(kPassword);
        bus->PasswordLen = 2;
        return RunLoop(archive, bus.get());
    }

    // The checks every run must pass; trace names the run.
    void Check(uint32_t r, const Kind &kind, const std::string &trace) {
        EXPECT_TRUE(r == GetParam().clean_code || kind.codes.count(r) || kAnyFault.count(r))
            << trace << ": code " << r;
        EXPECT_EQ(host().live_allocs, 0) << trace << ": code " << r;
        EXPECT_EQ(OpenFds(), fds_) << trace << ": a file was left open, code " << r;
        // Outside the output directory, never anything but the archive.
        for (const std::string &p : Tree())
            if (p != "in/" && p != "in/a.zip" && p.rfind("out/", 0) != 0)
                ADD_FAILURE() << trace << ": code " << r << ", wrote " << p;
        // No memory file is left, but for the leftovers of the file
        // comment.  (The code does not tell them apart: a recorded member
        // failure outranks the loop's 24.)
        for (const std::string &p : MemoryFiles()) {
            if (kind.call == kRemove || kind.call == kWrite) break;
            ADD_FAILURE() << trace << ": code " << r << ", left " << p;
        }
    }

    // Each run starts from the same empty directory and store, so that it
    // makes the same host calls as the clean run up to its fault.
    void Clear() {
        for (const auto &e : fs::directory_iterator(Path("out"))) fs::remove_all(e.path());
        for (const std::string &p : MemoryFiles()) VTQ_ASC_remove(p.c_str());
        host().member_calls.clear();
    }

    TxtOptions opts_{};
    const VtqExtension ext_{sizeof ext_, VTQ_EXTENSION_VERSION, reinterpret_cast<const unsigned char *>("pw"),
                            2, 0, nullptr, nullptr, {}, nullptr, {}};
    size_t fds_ = 0;
};

TEST_P(Faults, EveryCallOfEveryKind) {
    const Scenario &s = GetParam();
    uint64_t runs = 0;
    for (const Kind &k : kKinds) {
        // The clean run, counting.  A fault point past every call never fires.
        host().Arm(k.call, UINT64_MAX);
        const uint32_t clean = RunOnce();
        const uint64_t n_calls = host().calls;
        ASSERT_EQ(host().fired, 0u);
        EXPECT_EQ(clean, s.clean_code) << k.name;
        EXPECT_EQ(host().member_calls.size(), s.clean_calls) << k.name;
        Check(clean, k, std::string(k.name) + " clean");
        Clear();

        for (bool persistent : {false, true}) {
            for (uint64_t n = 1; n <= n_calls; ++n) {
                const std::string trace = std::string(k.name) + (persistent ? " from " : " ") +
                                          std::to_string(n) + "/" + std::to_string(n_calls);
                host().Arm(k.call, n, persistent);
                const uint32_t r = RunOnce();
                const uint64_t fired = host().fired;
                host().Disarm();
                EXPECT_GE(fired, 1u) << trace << ": the call was never reached";
                Check(r, k, trace);
                Clear();
                ++runs;
                if (HasFailure()) return;
            }
        }
    }
    // Sanity: the scenario really exercised the host.
    EXPECT_GT(runs, 100u);
}

// A host whose reads deliver 1, 7 or 31 bytes at a time.  The extended
// walk reads until it has what it asked for, so its result and every
// member's bytes are those of whole reads.  The documented walk takes one
// read's count on trust; it must still end with a code and clean up.
TEST_P(Faults, ShortReads) {
    const Scenario &s = GetParam();
    const uint32_t whole = RunOnce();
    std::vector<std::string> members;
    for (const MemberCall &c : host().member_calls) members.push_back(c.content);
    Clear();
    for (size_t limit : {1, 7, 31}) {
        host().read_limit = limit;
        const uint32_t r = RunOnce();
        const std::string trace = "reads of " + std::to_string(limit);
        if (s.mode & VTQ_MODE_EXTENDED) {
            EXPECT_EQ(r, whole) << trace;
            std::vector<std::string> got;
            for (const MemberCall &c : host().member_calls) got.push_back(c.content);
            EXPECT_EQ(got, members) << trace;
        }
        Check(r, KindOf(kRead), trace);
        Clear();
    }
}

INSTANTIATE_TEST_SUITE_P(Scenarios, Faults, ::testing::ValuesIn(kScenarios),
                         [](const ::testing::TestParamInfo<Scenario> &i) {
                             return std::string(i.param.label);
                         });

} // namespace
} // namespace vtq::test

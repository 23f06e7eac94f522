// test_faults.cc - every failable host call of an extraction fails in turn: a clean run counts
// the calls of each kind, then call 1, 2, ... N fails, once and from then on (a disk that stays
// full).  Every run ends with a code its kind allows, gives back every allocation and descriptor,
// leaves no memory file (a member file whose removal failed or that was written short may stay)
// and writes nothing outside the output directory; a fault that never fired is a wrong count.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "tests/support/encoders.h"
#include "tests/support/fixture.h"
#include "tests/support/zip_builder.h"
#include "vtq/zozaz.h"

namespace fs = std::filesystem;

namespace vtq::test {
namespace {

// The codes a fault of each kind may end in besides the clean run's, 0 (a failure the extraction
// can live with), and a member's 6000/6003 when KeepGoing records the member and goes on.
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

using Members = std::vector<std::tuple<const char *, std::string, uint16_t>>;
ZipArchive Archive(const Members &members) {
    ZipArchive a;
    for (const auto &[name, data, method] : members) a.Add(name, data, method);
    return a;
}
const std::string kInner =
    Archive({{"d/", "", 0}, {"d/x.txt", "inner x\n", 8}, {"y.txt", "inner y\n", 0}}).Build();

struct Scenario {
    const char *label;
    bool loop;       // straight into the loop, with the password "pw" in the context
    uint32_t mode;   // ModeFlags besides Enabled
    uint32_t format; // FormatFlags
    Members members;
    void (*edit)(ZipArchive &);
    uint32_t clean_code;
    size_t clean_calls; // hand-offs without faults
};

Scenario S(const char *label, bool loop, uint32_t mode, uint32_t format, Members members,
           uint32_t clean_code, size_t clean_calls, void (*edit)(ZipArchive &) = nullptr) {
    return {label, loop, mode, format, std::move(members), edit, clean_code, clean_calls};
}
const Scenario kScenarios[] = {
    // Pruned at the end: an empty directory and an empty text.
    S("SplitWithDirectories", false, 0, 0,
      {{"d/", "", 0},
       {"d/e/", "", 0},
       {"d/e/f.txt", "deep text\n", 8},
       {"g.txt", "top text\n", 0},
       {"h/i.txt", "implied directory\n", 8},
       {"empty/", "", 0},
       {"z.txt", "", 0}},
      0, 4),
    S("Flat", false, VTQ_MODE_FLAT, 0,
      {{"x/a.txt", "first a\n", 0},
       {"y/a.doc", "second a\n", 8},
       {"b.txt", std::string(3000, 'b'), 8}},
      0, 3),
    // A member without a filter (6000) is recorded and the walk goes on; the log is one more
    // file to open, write and close.
    S("ComposeKeepGoingWithLog", false, VTQ_MODE_COMPOSE | VTQ_MODE_KEEP_GOING, VTQ_FMT_LOG,
      {{"a.txt", "alpha\n", 0}, {"skip.bin", "no filter", 0}, {"c.txt", std::string(2000, 'c'), 8}},
      6000, 3),
    S("NestedSplit", false, 0, 0, {{"note.txt", "outer\n", 0}, {"inner.zip", kInner, 0}}, 0, 4),
    S("NestedComposeInParent", false, VTQ_MODE_COMPOSE | VTQ_MODE_TEMP_IN_PARENT, 0,
      {{"inner.zip", kInner, 8}, {"note.txt", "outer\n", 0}}, 0, 4),
    S("EncryptedWithPassword", true, VTQ_MODE_COMPOSE, 0,
      {{"s.txt", "stored secret\n", 0},
       {"t.txt", std::string(500, 't'), 8},
       {"p.txt", "plain\n", 0}},
      0, 3, [](ZipArchive &a) { a.members[0].password = a.members[1].password = "pw"; }),
    // Extended mode, password "pw": a stub, ZIP64 fields, AES and traditional encryption, a
    // nested archive, and a CRC failure skipped (6003).
    S("Extended", false, VTQ_MODE_EXTENDED | VTQ_MODE_COMPOSE | VTQ_MODE_KEEP_GOING, 0,
      {{"a.txt", "alpha\n", 0}, {"bad.txt", "crc\n", 0}, {"inner.zip", kInner, 8}}, 6003, 6,
      [](ZipArchive &a) {
          a.stub = "#!/bin/sh\n";
          a.members[0].zip64 = true;
          a.members[1].crc = 1;
          Encode(a.Add("aes.txt", std::string(700, 'a')), 12, VTQ_ENC_AES256, "pw");
          Encode(a.Add("crypt.txt", "traditional\n"), 8, VTQ_ENC_ZIPCRYPTO, "pw");
      }),
};

void PrintTo(const Scenario &s, std::ostream *os) { *os << s.label; }

// The host's extraction: an archive member goes back into the filter (in compose mode into an
// output of its own beside the top-level one, in split mode under a work directory of its own),
// *.bin has no filter, the rest is copied as text.
uint32_t Member(MemberCall &call) {
    if (call.path.ends_with(".bin")) return VTQ_E_NO_FILTER;
    if (call.content.rfind("PK\x03\x04", 0) != 0) return CopyMember(call);
    const std::string out = call.mode == 2
                                ? fs::path(call.parent->Path).parent_path().string() + "/nested.txt"
                                : call.path + ".txt";
    return GetText4WithErrCallback(call.path.c_str(), out.c_str(), call.opts, nullptr, call.parent,
                                   call.user_data);
}

class Faults : public HostTest, public ::testing::WithParamInterface<Scenario> {
protected:
    void SetUp() override {
        HostTest::SetUp();
        fs::create_directories(Path("in"));
        fs::create_directories(Path("out"));
        ZipArchive a = Archive(GetParam().members);
        if (GetParam().edit != nullptr) GetParam().edit(a);
        WriteFile(Path("in/a.zip"), a.Build());
        host().member = Member;
        fds_ = OpenFds();
        ext_.User = &open_members_;
        ext_.OnMember = [](void *user, const VtqMemberEvent *e) {
            *static_cast<int *>(user) += e->Kind == VTQ_EVENT_BEGIN ? 1
                                         : e->Kind == VTQ_EVENT_END ? -1
                                                                    : 0;
        };
    }
    // One extraction, fault armed as the caller left it; then the checks every run must pass,
    // and a clean start for the next (so that it makes the same host calls up to its fault).
    uint32_t Run(const Kind &kind, const std::string &trace) {
        const Scenario &s = GetParam();
        TxtOptions opts{};
        opts.ModeFlags = VTQ_MODE_ENABLED | s.mode;
        opts.FormatFlags = s.format | VTQ_FMT_EOL_LF;
        opts.Extension = &ext_; // read in extended mode only
        const std::string archive = Path("in/a.zip"), out = Path("out/a.txt");
        uint32_t r = 0;
        if (!s.loop) {
            r = GetTextWithErrCallback(archive.c_str(), out.c_str(), &opts, nullptr, 0);
        } else {
            auto bus = LoopBus(&opts, out, Path("in"));
            bus->CryptOn = 1;
            bus->Password = ext_.Password;
            bus->PasswordLen = 2;
            r = RunLoop(archive, bus.get());
        }
        const uint64_t calls = host().calls, fired = host().fired;
        host().Disarm();
        host().calls = calls, host().fired = fired;
        EXPECT_TRUE(r == s.clean_code || r == 0 || r == 6000 || r == 6003 || kind.codes.count(r))
            << trace << ": code " << r;
        EXPECT_EQ(host().live_allocs, 0) << trace << ": code " << r;
        EXPECT_EQ(std::exchange(open_members_, 0), 0) << trace << ": a BEGIN without its END";
        EXPECT_EQ(OpenFds(), fds_) << trace << ": a file was left open, code " << r;
        for (const std::string &p : Tree())
            if (p != "in/" && p != "in/a.zip" && p.rfind("out/", 0) != 0)
                ADD_FAILURE() << trace << ": wrote " << p;
        for (const std::string &p : MemoryFiles()) {
            if (kind.call != kRemove && kind.call != kWrite)
                ADD_FAILURE() << trace << ": left " << p;
            VTQ_ASC_remove(p.c_str());
        }
        for (const auto &e : fs::directory_iterator(Path("out"))) fs::remove_all(e.path());
        return r;
    }
    int open_members_ = 0; // extended mode: BEGIN events less END events
    VtqExtension ext_ = [] {
        VtqExtension e{};
        e.Size = sizeof e, e.Version = VTQ_EXTENSION_VERSION, e.PasswordLen = 2;
        e.Password = reinterpret_cast<const unsigned char *>("pw");
        return e;
    }();
    size_t fds_ = 0;
};

TEST_P(Faults, EveryCallOfEveryKind) {
    const Scenario &s = GetParam();
    uint64_t runs = 0;
    for (const Kind &k : kKinds) {
        host().Arm(k.call, UINT64_MAX); // counts, never fires
        host().member_calls.clear();
        EXPECT_EQ(Run(k, std::string(k.name) + " clean"), s.clean_code) << k.name;
        const uint64_t n_calls = host().calls;
        ASSERT_EQ(host().fired, 0u);
        EXPECT_EQ(host().member_calls.size(), s.clean_calls) << k.name;
        for (bool persistent : {false, true}) {
            for (uint64_t n = 1; n <= n_calls; ++n, ++runs) {
                const std::string trace = std::string(k.name) + (persistent ? " from " : " ") +
                                          std::to_string(n) + "/" + std::to_string(n_calls);
                host().Arm(k.call, n, persistent);
                Run(k, trace);
                EXPECT_GE(host().fired, 1u) << trace << ": the call was never reached";
                if (HasFailure()) return;
            }
        }
    }
    EXPECT_GT(runs, 100u);
}

// Reads of 1, 7 or 31 bytes at a time.  The extended walk reads until it has what it asked for,
// so its result and members are those of whole reads; the documented walk takes one read's count
// on trust, and must still end with a code and clean up.
TEST_P(Faults, ShortReads) {
    const Kind &read = kKinds[2];
    const auto contents = [] {
        std::vector<std::string> v;
        for (const MemberCall &c : host().member_calls) v.push_back(c.content);
        host().member_calls.clear();
        return v;
    };
    const uint32_t whole = Run(read, "whole reads");
    const std::vector<std::string> members = contents();
    for (size_t limit : {1, 7, 31}) {
        host().read_limit = limit;
        const uint32_t r = Run(read, "reads of " + std::to_string(limit));
        if (GetParam().mode & VTQ_MODE_EXTENDED) {
            EXPECT_EQ(r, whole) << limit;
            EXPECT_EQ(contents(), members) << limit;
        }
        host().member_calls.clear();
    }
}

INSTANTIATE_TEST_SUITE_P(Scenarios, Faults, ::testing::ValuesIn(kScenarios),
                         [](const ::testing::TestParamInfo<Scenario> &i) {
                             return std::string(i.param.label);
                         });

} // namespace
} // namespace vtq::test

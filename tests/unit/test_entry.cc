// test_entry.cc - entry points (refusals, work paths, the log, clean-up and results) and the work
// directories on disk (names, tree removal and pruning)
#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "entry/workdir_path.h"
#include "tests/support/fixture.h"
#include "tests/support/zip_builder.h"
#include "vtq/zozaz.h"

namespace vtq::test {
namespace {

namespace fs = std::filesystem;
using entry::EntryKind;
constexpr EntryKind kTop = EntryKind::kTop, kNested = EntryKind::kNested,
                    kStream = EntryKind::kStream;
constexpr uint32_t kEn = VTQ_MODE_ENABLED, kC = VTQ_MODE_COMPOSE, kK = VTQ_MODE_KEEP_GOING,
                   kF = VTQ_MODE_FLAT, kN = VTQ_MODE_NO_LABELS, kLog = VTQ_FMT_LOG;
constexpr uint32_t kWrote = 0x10000; // in a hand-off script: text left behind

// FormatFlags as the ten option words: the group bit (12) lets bit 13 or bits 14 and 15 count, and
// the lowest of bits 3 to 7 picks the line-break mode (1 without any).
TEST(Options, TransOptionFillsEveryWord) {
    using Words = std::array<uint32_t, 10>;
    const std::pair<uint32_t, Words> rows[] = {
        {0, {0, 0, 0, 0, 0, 0, 0, 0, 0, 1}},
        {1u << 1 | 0xE000u, {1, 0, 1, 0, 0, 0, 0, 0, 0, 1}},
        {0xF000u | 1u << 4, {0, 1, 0, 1, 1, 0, 0, 0, 0, 2}},
        {1u << 18 | 1u << 19 | 1u << 22 | 1u << 27 | 0xC0u, {0, 0, 0, 0, 0, 1, 1, 1, 1, 4}},
        {1u << 5 | 1u << 7, {0, 0, 0, 0, 0, 0, 0, 0, 0, 3}},
        {1u << 7, {0, 0, 0, 0, 0, 0, 0, 0, 0, 5}},
    };
    for (const auto &[flags, want] : rows) {
        Words words;
        words.fill(0xEE); // every word must be written
        TransOption(words.data(), flags);
        EXPECT_EQ(words, want) << std::hex << flags;
    }
}

TEST(WorkPath, WorkedExamples) {
    const struct {
        EntryKind kind;
        uint32_t mode;
        const char *archive, *out, *parent, *src_dir, *src_name, *dst;
    } rows[] = {
        {kTop, 0, "/in/a.zip", "/out/a.txt", "", "/out", "a.zip", "/out/a.zip"},
        {kTop, kF, "/in/a.zip", "/out/a.txt", "", "/out", "a.zip", "/out"},
        {kTop, kC, "/in/a.zip", "/out/a.txt", "", "/in", "a.zip", "/in"},
        {kTop, 0, "/in/a.zip", "a.txt", "", "", "a.zip", ".//a.zip"},
        {kTop, 0, "a.zip", "/out/a.txt", "", "/out", "", "/out/a.zip"},
        {kTop, kF, "a.zip", "/out/a.txt", "", "/out", "", "/out"},
        {kTop, 0, "a.zip", "a.txt", "", "", "", "a.zip"},
        {kTop, kC, "a.zip", "/out/a.txt", "", "", "", "a.zip"},
        {kTop, kC, "c:/a.zip", "/out/a.txt", "", "c:/a.zip", "a.zip", "c:/a.zip"},
        {kTop, kC, "x/a.zip", "a.txt", "", "x", "a.zip", "x/"},
        {kNested, 0, "/w/in.zip", "/t/in.txt", "/out/a.txt", "/out", "in.zip", "/out/in.zip"},
        {kNested, 0, "/w/in.zip", "/t/in.txt", "", "/t", "in.zip", "/t/in.zip"},
        {kNested, 0, "in.zip", "/t/in.txt", "/out/a.txt", "/out", "", "/t/in.zip"},
        {kNested, 0, "in.zip", "in.txt", "/out/a.txt", "/out", "", "in.zip"},
        {kNested, kC, "/w/in.zip", "/t/in.txt", "/out/a.txt", "/w", "in.zip", "/w"},
        // A one-character parent directory is laid over "./" too.
        {kNested, 0, "/w/in.zip", "in.txt", "x/a.txt", "x", "in.zip", "x//in.zip"},
        {kStream, 0, "/in/a.zip", nullptr, "", "", "a.zip", "./"},
        {kStream, kF, "/in/a.zip", nullptr, "", "", "a.zip", "./"},
        {kStream, 0, "a.zip", nullptr, "", "", "", "./a.zip"},
        {kStream, kC, "/in/a.zip", nullptr, "", "/in", "a.zip", "/in"},
    };
    for (const auto &c : rows) {
        auto bus = std::make_unique<ZipBus>();
        std::memset(bus.get(), 'z', sizeof *bus); // stale bytes must not show through
        EXPECT_EQ(entry::FormWorkPath(*bus, {c.kind, c.mode, c.archive, c.out, c.parent}), 0u);
        SCOPED_TRACE(std::string(c.archive) + " -> " + c.dst);
        EXPECT_STREQ(bus->SrcDir, c.src_dir);
        EXPECT_STREQ(bus->SrcName, c.src_name);
        EXPECT_STREQ(bus->DstFileTmp, c.dst);
    }
}

// Split mode: the output's directory + "/a.zip", of total length len; "./" + a bare archive
// name overflows in compose mode, split mode replaces that form with the name alone.
TEST(WorkPath, LongestPathThatFits) {
    auto bus = std::make_unique<ZipBus>();
    for (size_t len : {4094u, 4095u, 4096u}) {
        const std::string out = std::string("/").append(len - 7, 'd') + "/a.txt";
        EXPECT_EQ(entry::FormWorkPath(*bus, {kTop, 0, "/in/a.zip", out.c_str(), ""}),
                  len < VTQ_PATH_MAX ? 0u : VTQ_E_PATH);
        EXPECT_EQ(std::strlen(bus->DstFileTmp), len < VTQ_PATH_MAX ? len : 0u);
    }
    const std::string bare(4094, 'a');
    EXPECT_EQ(entry::FormWorkPath(*bus, {kTop, kC, bare.c_str(), "a.txt", ""}), VTQ_E_PATH);
    EXPECT_EQ(entry::FormWorkPath(*bus, {kTop, 0, bare.c_str(), "a.txt", ""}), 0u);
    EXPECT_EQ(bus->DstFileTmp, bare);
}

// Archive in/arch.zip, output out/a.txt (nested: out/n.txt under a parent
// whose output is out/a.txt), current directory out/ (the stream's "./").
// Like the real host, Run takes a log reference for every nested call (and
// drops it after a refusal); at the end every file and log must be closed.
class Entry : public HostTest {
protected:
    void SetUp() override {
        HostTest::SetUp();
        fs::create_directories(Path("in"));
        fs::create_directories(Path("out"));
        cwd_ = fs::current_path();
        fs::current_path(Path("out"));
        unsetenv("VTQ_LOG_FILE");
        std::snprintf(parent_.Path, sizeof parent_.Path, "%s", Path("out/a.txt").c_str());
        fds_ = OpenFds();
    }
    void TearDown() override {
        vtq_logfclose(kLog, parent_.Log);
        EXPECT_EQ(OpenFds(), fds_) << "a file or a log was left open";
        fs::current_path(cwd_);
        unsetenv("VTQ_LOG_FILE");
        HostTest::TearDown();
    }
    std::string Zip(const ZipArchive &a) {
        WriteFile(Path("in/arch.zip"), a.Build());
        return Path("in/arch.zip");
    }
    uint32_t Run(EntryKind k, const std::string &archive, uint32_t mode, uint32_t fmt = 0,
                 uint64_t max_size = 1u << 20, const std::string &out = "") {
        opts_ = TxtOptions{};
        opts_.ModeFlags = mode;
        opts_.FormatFlags = fmt;
        opts_.MaxSize = max_size;
        opts_.Extension = ext_;
        const std::string o = !out.empty() ? out : Path(k == kNested ? "out/n.txt" : "out/a.txt");
        const char *zip = archive.c_str();
        if (k == kTop) return GetTextWithErrCallback(zip, o.c_str(), &opts_, nullptr, 42);
        if (k == kStream)
            return GetTextStreamWithErrCallback(zip, stream_.get(), &opts_, nullptr, 42);
        vtq_logfretain(parent_.Log);
        const uint32_t r = GetText4WithErrCallback(zip, o.c_str(), &opts_, nullptr, &parent_, 42);
        if (r == VTQ_E_REFUSED || r == VTQ_E_NOT_ENABLED || r == VTQ_E_NO_RECORD)
            vtq_logfclose(kLog, parent_.Log);
        return r;
    }
    // The hand-offs answer in turn: 0 extracts as the default host does, any
    // other code is returned; with kWrote a text file is left beside the member.
    void Script(std::vector<uint32_t> results) {
        host().member = [results, i = size_t(0)](MemberCall &c) mutable {
            const uint32_t r = i < results.size() ? results[i] : 0;
            ++i;
            if ((r & kWrote) != 0)
                std::ofstream(c.path.substr(0, c.path.rfind('.')) + ".txt") << c.content;
            return r == 0 ? CopyMember(c) : (r & ~kWrote);
        };
    }
    std::string OutTree() {
        std::string s;
        for (const std::string &p : Tree("out")) s += (s.empty() ? "" : " ") + p;
        return s;
    }
    TxtOptions opts_{};
    const VtqExtension *ext_ = nullptr; // TxtOptions.Extension of every Run
    ParentInfo parent_{};
    StringStream stream_;
    fs::path cwd_;
    size_t fds_ = 0;
};

// Refusals, the disabled state and paths that do not fit are answered
// before the log is opened and before anything is touched.
TEST_F(Entry, RefusalsAndOverlongPathsTouchNothing) {
    ZipArchive a;
    a.Add("a.doc", "alpha");
    const std::string zip = Zip(a), top = Path("out/a.txt"), missing = Path("in/missing.zip");
    setenv("VTQ_LOG_FILE", Path("log").c_str(), 1);
    parent_.Log = vtq_logfopen(kLog, Path("parent.log").c_str());
    // n4096 leaves no room for its NUL; deep + "/a.txt" fits, deep + "/arch.zip" does not.
    const std::string n4096(4096, 'x'), deep = std::string("/").append(4087, 'd') + "/a.txt";
    const std::tuple<EntryKind, std::string, std::string, std::string> overlong[] = {
        {kTop, n4096, "", top},
        {kTop, zip, n4096, top},
        {kTop, zip, deep, top},
        {kNested, zip, "", n4096},
        {kNested, zip, "", deep},
        {kStream, n4096, "", top},
        {kStream, std::string(4094, 'x'), "", top}, // "./" + the bare name
    };
    for (const auto &[kind, archive, out, parent] : overlong) {
        std::snprintf(parent_.Path, sizeof parent_.Path, "%s", parent.c_str());
        EXPECT_EQ(Run(kind, archive, kEn, kLog, 1u << 20, out), 27u)
            << static_cast<int>(kind) << " " << archive.size() << " " << out.size();
    }
    std::snprintf(parent_.Path, sizeof parent_.Path, "%s", top.c_str());
    // An extension record the filter cannot read is refused (11), and only in extended mode:
    // without the bit it is never looked at.
    VtqExtension bad[2] = {};
    bad[0].Size = 7, bad[0].Version = 1;
    bad[1].Size = sizeof bad[1], bad[1].Version = 2;
    for (EntryKind k : {kTop, kNested, kStream}) {
        for (const auto &[mode, code] : {std::pair{VTQ_MODE_REFUSED | kEn, 6006u},
                                         {VTQ_MODE_REFUSED, 6006u},
                                         {0u, 3003u},
                                         {kC | kK, 3003u}})
            EXPECT_EQ(Run(k, missing, mode, kLog), code) << static_cast<int>(k);
        for (const VtqExtension &b : bad) {
            ext_ = &b;
            EXPECT_EQ(Run(k, missing, kEn | VTQ_MODE_EXTENDED, kLog), 11u);
            EXPECT_EQ(Run(k, zip, kEn | VTQ_MODE_EXTENDED | VTQ_MODE_REFUSED, kLog), 6006u);
            EXPECT_EQ(Run(kTop, missing, kEn), 22u);
        }
    }
    ext_ = nullptr;
    EXPECT_FALSE(fs::exists(Path("log")));
    EXPECT_EQ(ReadFile(Path("parent.log")), "");
    EXPECT_TRUE(host().member_calls.empty());
    EXPECT_EQ(OutTree(), "");
}

// The log's name and lines: the top level's log is named after the
// output, the stream's after the archive; the nested level writes to its
// parent's.  A failure is logged, and the log is closed however it ends.
TEST_F(Entry, LogLines) {
    parent_.Log = vtq_logfopen(kLog, Path("parent.log").c_str());
    const std::string missing = Path("in/missing.zip");
    EXPECT_EQ(Run(kStream, missing, kEn | kC, kLog), VTQ_E_OPEN);
    EXPECT_EQ(Run(kNested, missing, kEn, kLog), VTQ_E_OPEN);
    EXPECT_EQ(ReadFile(missing + ".zip.log"), "vtq_zoZAZ gettext().\r\n");
    EXPECT_EQ(ReadFile(Path("parent.log")), "vtq_zoZAZ gettext4().\r\n");
    EXPECT_EQ(stream_.data, "");
    EXPECT_EQ(Run(kTop, missing, kEn, kLog), VTQ_E_OPEN);
    EXPECT_EQ(ReadFile(Path("out/a.txt.zip.log")), "vtq_zoZAZ gettext().\r\n");
    ZipArchive a;
    a.Add("a.doc", "alpha");
    a.Add("b.doc", "beta").crc = 1;
    const std::string wd = Path("out/arch.zip");
    // The same lines with a log that takes its text as it stands rather
    // than as a printf format.
    for (bool literal : {false, true}) {
        fs::remove(Path("out/a.txt.zip.log"));
        host().literal_log = literal;
        EXPECT_EQ(Run(kTop, Zip(a), kEn, kLog), VTQ_E_DAMAGED);
        EXPECT_EQ(ReadFile(Path("out/a.txt.zip.log")),
                  "vtq_zoZAZ gettext().\r\nbus.DstFileTmp=" + wd + "\r\nptxt=" + wd +
                      "/a.doc\r\nerror in unzip file.\r\n")
            << literal;
    }
    EXPECT_EQ(OutTree(), "a.txt.zip.log");
}

enum Arch { kOne, kTwo, kDirs, kBadSecond, kBadCentral };

// script: the hand-off results in turn (0: extract); tree: out/ afterwards;
// pre_existing: out/arch.zip/keep.txt is there beforehand.
struct DecisionRow {
    const char *what;
    EntryKind kind;
    uint32_t mode;
    Arch arch;
    std::vector<uint32_t> script;
    uint32_t code;
    std::string tree;
    bool pre_existing = false;
};

ZipArchive Build(Arch kind) {
    ZipArchive a;
    if (kind == kDirs) return a.Add("d/"), a.Add("d/e/"), a;
    a.Add("a.doc", "alpha");
    if (kind == kTwo) a.Add("b.doc", "beta");
    if (kind == kBadSecond) a.Add("b.doc", "beta").crc = 1;
    if (kind == kBadCentral) a.cd_disk = 1; // refused before any work directory is made
    return a;
}

const std::string kKept = "arch.zip/ arch.zip/keep.txt", kSplitA = "arch.zip/ arch.zip/a.txt",
                  kSplitAB = kSplitA + " arch.zip/b.txt";
const DecisionRow kRows[] = {
    {"top_limit_before_empty_output", kTop, kC | kN, kOne, {3005}, 3005, "a.txt"},
    {"top_empty_output_removed", kTop, kC | kN | kK, kTwo, {6000, 6000}, 6002, ""},
    {"top_dirs_only_pruned", kTop, 0, kDirs, {}, 6002, ""},
    {"top_split_ok", kTop, 0, kOne, {}, 0, kSplitA},
    {"top_split_damaged_removed", kTop, 0, kBadSecond, {}, 6003, ""},
    {"top_flat_damaged_keeps", kTop, kF, kBadSecond, {}, 6003, "a.txt"},
    {"top_compose_damaged_no_output", kTop, kC | kN, kBadCentral, {}, 6003, ""},
    {"top_single_6000_removed", kTop, kK, kOne, {kWrote | 6000}, 6000, ""},
    {"top_6000_then_text_kept", kTop, kK, kTwo, {kWrote | 6000, 0}, 6000, kSplitAB},
    {"top_keep_going_mapped", kTop, kC | kN | kK, kTwo, {3101, 0}, 6003, "a.txt"},
    {"top_stop_removes_output", kTop, kC | kN, kTwo, {0, 9}, 9, ""},
    {"top_member_code_beats_loop", kTop, kK, kBadSecond, {7}, 7, ""},
    {"top_keep_going_latest_counts", kTop, kK, kTwo, {7, 9}, 9, ""},
    {"top_split_goes_on_past_the_limit",
     kTop,
     0,
     kTwo,
     {3005, 0},
     3005,
     "arch.zip/ arch.zip/b.txt"},
    {"top_other_s_dir_kept", kTop, 0, kBadSecond, {}, 6003, kKept, true},
    {"top_unmade_dir_kept", kTop, 0, kBadCentral, {}, 6003, kKept, true},
    {"top_fresh_name", kTop, 0, kOne, {}, 0, kKept + " arch.zipDIR/ arch.zipDIR/a.txt", true},
    {"nested_compose_no_text", kNested, kC, kDirs, {}, 6002, ""},
    {"nested_split_dirs_only", kNested, 0, kDirs, {}, 0, "arch.zip/ arch.zip/d/ arch.zip/d/e/"},
    {"nested_split_damaged_removed", kNested, 0, kBadSecond, {}, 6003, ""},
    {"nested_single_6000_removed", kNested, kK, kOne, {kWrote | 6000}, 6000, ""},
    {"nested_empty_output_kept", kNested, kC | kN | kK, kTwo, {6000, 6000}, 6000, "n.txt"},
    {"nested_stop_removes_output", kNested, kC | kN, kTwo, {0, 9}, 9, ""},
    // Stream: work directories in the current directory, out/.
    {"stream_limit", kStream, kC | kN, kOne, {3005}, 3005, ""},
    {"stream_split_dirs_only_pruned", kStream, 0, kDirs, {}, 6002, ""},
    {"stream_split_ok_pruned", kStream, 0, kOne, {}, 0, ""},
    {"stream_split_damaged_removed", kStream, 0, kBadSecond, {kWrote}, 6003, ""},
    // Nothing made yet, so nothing removed: above all not "./" itself.
    {"stream_damaged_directory", kStream, 0, kBadCentral, {}, 6003, kKept, true},
    {"stream_single_6000", kStream, kK, kOne, {kWrote | 6000}, 6000, ""},
    {"stream_stop", kStream, kC | kN, kTwo, {0, 9}, 9, ""},
};

class Decision : public Entry, public ::testing::WithParamInterface<DecisionRow> {};

TEST_P(Decision, ResultAndWhatRemains) {
    const DecisionRow &row = GetParam();
    if (row.pre_existing) {
        fs::create_directories(Path("out/arch.zip"));
        WriteFile(Path("out/arch.zip/keep.txt"), "keep");
    }
    Script(row.script);
    // The size limit is on (and far away), so that a 3005 from the host
    // leaves no line break behind.
    EXPECT_EQ(
        Run(row.kind, Zip(Build(row.arch)), kEn | row.mode, VTQ_FMT_SIZE_LIMIT | VTQ_FMT_EOL_LF),
        row.code);
    EXPECT_EQ(OutTree(), row.tree);
    if (row.kind == kStream && row.code == 0) {
        EXPECT_EQ(stream_.data, "alpha");
    }
    for (const MemberCall &c : host().member_calls) EXPECT_EQ(c.user_data, 42u);
}

INSTANTIATE_TEST_SUITE_P(Rows, Decision, ::testing::ValuesIn(kRows),
                         [](const auto &row) { return std::string(row.param.what); });

using Tree_ = std::vector<std::string>;

class Workdir : public HostTest {
protected:
    // Lays out entries under the test directory: "x/" a directory, "x" an
    // empty file, "x=text" a file holding text.
    void Build(const Tree_ &entries) {
        for (const std::string &e : entries) {
            if (e.back() == '/') {
                fs::create_directories(Path(e));
                continue;
            }
            size_t eq = e.find('=');
            std::ofstream(Path(e.substr(0, eq)), std::ios::binary)
                << (eq == std::string::npos ? "" : e.substr(eq + 1));
        }
    }
    // Empties the test directory (its tmp/ folder aside).
    void Clear() {
        for (const auto &e : fs::directory_iterator(dir()))
            if (e.path().filename() != "tmp") fs::remove_all(e.path());
    }
    std::unique_ptr<ZipBus> bus_ = std::make_unique<ZipBus>();
    char buf_[VTQ_PATH_MAX] = {};
    void SetBuf(const std::string &p) { std::snprintf(buf_, sizeof buf_, "%s", p.c_str()); }
};

TEST_F(Workdir, MakePathNaming) {
    // Mode 1 (unique) or 0 (plain), what exists, the request, the result, the directory made
    // (and the buffer), the counter and base (none: untouched); the nth VTQ_MkDir fails.
    using Row =
        std::tuple<int, Tree_, const char *, int32_t, const char *, uint32_t, const char *, int>;
    const Row cases[] = {
        {1, {}, "P", 0, "P", 0, "", 0},
        {1, {"P"}, "P", 0, "PDIR", 1, "PDIR", 0},
        {1, {"P/", "PDIR"}, "P", 0, "PDIR1", 2, "PDIR", 0},
        {1, {"P", "PDIR/", "PDIR1/"}, "P", 0, "PDIR2", 3, "PDIR", 0},
        {1, {}, "no/P", -1, "no/P", 0, "", 0},
        {0, {}, "P", 0, "P", 0, "", 0},
        {0, {"P"}, "P", 0, "PDIR", 0, "", 0},
        {0, {"P", "PDIR"}, "P", 27, "PDIR", 0, "", 0},
        {0, {"P/"}, "P", -1, "P", 0, "", 0}, // already a directory
        {0, {}, "no/P", -1, "no/P", 0, "", 0},
        {1, {}, "P", 0, "P", 0, "", 1}, // refused with nothing there
        {0, {"P"}, "P", 27, "PDIR", 0, "", 2},
        {1, {"P"}, "P", 0, "PDIR", 1, "PDIR", 2},
    };
    for (const auto &[mode, existing, request, result, made, counter, base, fault] : cases) {
        SCOPED_TRACE(std::to_string(mode) + " " + made + " " + std::to_string(fault));
        Clear();
        *bus_ = ZipBus{};
        Build(existing);
        SetBuf(Path(request));
        if (fault != 0) host().Arm(kMkDir, static_cast<uint64_t>(fault));
        EXPECT_EQ(zip_makepath(bus_.get(), buf_, mode), result);
        EXPECT_EQ(host().fired, fault != 0 ? 1u : 0u);
        host().Disarm();
        EXPECT_EQ(std::string(buf_), Path(made));
        EXPECT_TRUE(result != 0 || fs::is_directory(Path(made)));
        EXPECT_EQ(bus_->DirCounter, counter);
        EXPECT_EQ(std::string(bus_->DirBase), *base ? Path(base) : "");
    }
    // The numbering lives in the context: a later taken name continues the
    // first request's base.
    Build({"Q/"});
    SetBuf(Path("Q"));
    EXPECT_EQ(zip_makepath(bus_.get(), buf_, 1), 0);
    EXPECT_EQ(std::string(buf_), Path("PDIR1"));
}

// Each host call of the walks fails in one row (fault: the kind armed once
// at call nth; prune: Zip_deletenullpath, else Zip_deletepath).  One entry
// per level makes the listing order irrelevant; the wide tree shows that an
// emptied entry after a kept one does not clear the level's flag.
TEST_F(Workdir, RemovalAndPruning) {
    const Tree_ chain = {"t/", "t/s/", "t/s/f"};
    const Tree_ full = {"t/", "t/s/", "t/s/f=x"};
    const Tree_ wide = {"t/",    "t/e",  "t/n=1",  "t/s/",      "t/s/x/",
                        "t/s/e", "t/u/", "t/u/d/", "t/u/d/n=2", "t/u/e"};
    // what, the tree before, the fault and its call, prune, the flag in, the result, the flag
    // out, the tree after.
    using Row =
        std::tuple<const char *, Tree_, uint32_t, int, bool, uint32_t, int32_t, uint32_t, Tree_>;
    const Row cases[] = {
        {"delete: wide", wide, 0, 0, false, 0, 0, 0, {}},
        {"prune: wide", wide, 0, 0, true, 0, 0, 1, {"t/", "t/n", "t/u/", "t/u/d/", "t/u/d/n"}},
        {"delete: all of it", chain, 0, 0, false, 0, 0, 0, {}},
        {"delete: missing path", {}, 0, 0, false, 0, 0, 0, {}},
        {"delete: a file stays", chain, kRemove, 1, false, 0, 26, 0, {"t/", "t/s/", "t/s/f"}},
        {"delete: inner rmdir fails", chain, kRmDir, 1, false, 0, 26, 0, {"t/", "t/s/"}},
        {"delete: outer rmdir fails", chain, kRmDir, 2, false, 0, 26, 0, {"t/"}},
        {"delete: root unlisted", chain, kOpenDir, 1, false, 0, 0, 0, {"t/", "t/s/", "t/s/f"}},
        {"delete: inner unlisted", chain, kOpenDir, 2, false, 0, 26, 0, {"t/", "t/s/", "t/s/f"}},
        {"delete: no memory", chain, kAlloc, 1, false, 0, 26, 0, {"t/", "t/s/", "t/s/f"}},
        {"delete: no memory 2", chain, kAlloc, 2, false, 0, 26, 0, {"t/", "t/s/", "t/s/f"}},
        {"prune: empty chain", chain, 0, 0, true, 0, 0, 0, {}},
        {"prune: content keeps the chain", full, 0, 0, true, 0, 0, 1, full},
        {"prune: flag 1 keeps the root", chain, 0, 0, true, 1, 0, 1, {"t/"}},
        {"prune: missing path leaves flag", {}, 0, 0, true, 1, 0, 1, {}},
        {"prune: unopenable file is kept", chain, kOpen, 1, true, 0, 0, 1, chain},
        {"prune: untold size is kept", chain, kTell, 1, true, 0, 0, 1, chain},
        {"prune: remove fails", chain, kRemove, 1, true, 0, 26, 0, chain},
        {"prune: rmdir fails", chain, kRmDir, 1, true, 0, 26, 0, {"t/", "t/s/"}},
        {"prune: no memory", chain, kAlloc, 2, true, 0, 26, 0, chain},
    };
    for (const auto &[what, before, fault, nth, prune, kept_in, result, kept_out, after] : cases) {
        SCOPED_TRACE(what);
        Clear();
        Build(before);
        if (fault != 0) host().Arm(fault, static_cast<uint64_t>(nth));
        uint32_t kept = kept_in;
        const std::string t = Path("t");
        EXPECT_EQ(prune ? Zip_deletenullpath(t.c_str(), bus_.get(), &kept)
                        : Zip_deletepath(t.c_str(), bus_.get()),
                  result);
        EXPECT_EQ(host().fired, fault != 0 ? 1u : 0u);
        host().Disarm();
        EXPECT_EQ(kept, kept_out);
        Tree_ names;
        for (const std::string &e : after) names.push_back(e.substr(0, e.find('=')));
        std::sort(names.begin(), names.end());
        EXPECT_EQ(Tree(), names);
        EXPECT_EQ(host().live_allocs, 0);
    }
}

} // namespace
} // namespace vtq::test

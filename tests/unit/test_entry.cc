// test_entry.cc - entry points: option words, work paths, the log, and what each result leaves
// behind
#include <array>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
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
    uint32_t Run(EntryKind k, const std::string &archive, uint32_t mode, uint32_t fmt = 0) {
        opts_ = TxtOptions{};
        opts_.ModeFlags = mode;
        opts_.FormatFlags = fmt;
        opts_.MaxSize = 1u << 20;
        const std::string o = Path(k == kNested ? "out/n.txt" : "out/a.txt");
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
    ParentInfo parent_{};
    StringStream stream_;
    fs::path cwd_;
    size_t fds_ = 0;
};

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

} // namespace
} // namespace vtq::test

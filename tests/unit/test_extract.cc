// test_extract.cc - the member extraction loop, through the test host
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/fixture.h"
#include "tests/support/zip_builder.h"
#include "vtq/zozaz.h"

namespace fs = std::filesystem;

namespace vtq::test {
namespace {

constexpr uint32_t kCompose = VTQ_MODE_COMPOSE;
constexpr uint32_t kSplit = 0;
constexpr uint32_t kFlat = VTQ_MODE_FLAT;
constexpr uint32_t kKeepGoing = VTQ_MODE_KEEP_GOING;

// A member whose content starts with "rc=NNNN;" makes the host return NNNN
// after it has extracted the text as usual.
uint32_t ScriptedMember(MemberCall &call) {
    uint32_t code = 0;
    if (call.content.rfind("rc=", 0) == 0) code = static_cast<uint32_t>(std::stoul(call.content.substr(3)));
    CopyMember(call);
    return code;
}

struct Result {
    uint32_t code = 0;
    uint32_t count = 0;
    std::vector<std::string> records; // the first count records; "-" for an empty one
};

class ExtractTest : public HostTest {
protected:
    void SetUp() override {
        HostTest::SetUp();
        work_ = Path("work");
        out_ = Path("out.txt");
        host().member = ScriptedMember;
        Reset(kCompose);
    }
    void TearDown() override {
        CloseOutput();
        HostTest::TearDown();
    }
    // A fresh context as an entry point leaves it, in the given mode.  Flat
    // mode writes into an existing directory (the output's).
    void Reset(uint32_t mode) {
        CloseOutput();
        opts_ = TxtOptions{};
        opts_.ModeFlags = VTQ_MODE_ENABLED | mode;
        bus_ = std::make_unique<ZipBus>();
        bus_->Options = &opts_;
        bus_->Parent = &bus_->OwnParent;
        bus_->FileMode = 1;
        bus_->OutPath = out_.c_str();
        std::strcpy(bus_->OwnParent.Path, out_.c_str());
        std::strcpy(bus_->DstFileTmp, work_.c_str());
        if (mode & kFlat) fs::create_directories(work_);
    }
    void SetPassword(const std::string &pw) {
        password_ = pw;
        bus_->CryptOn = 1;
        bus_->Password = reinterpret_cast<const unsigned char *>(password_.c_str());
        bus_->PasswordLen = static_cast<uint32_t>(pw.size());
    }
    void CloseOutput() {
        if (bus_ && bus_->OutFile) VTQ_FileClose(bus_->OutFile);
        if (bus_) bus_->OutFile = nullptr;
    }
    Result Extract(const ZipArchive &a) { return ExtractBytes(a.Build()); }
    Result ExtractBytes(const std::string &bytes) {
        WriteFile(Path("a.zip"), bytes);
        return ExtractFile(Path("a.zip"));
    }
    // Runs the loop, frees what it hands out as a caller must, and checks
    // that a failure leaves the out-parameters alone.
    Result ExtractFile(const std::string &archive) {
        Result r;
        MemberRecord sentinel{};
        MemberRecord *records = &sentinel;
        r.count = 0xEEEE;
        r.code = VtqZip_GetUnCompressFile(archive.c_str(), &r.count, &records, bus_.get());
        CloseOutput();
        EXPECT_EQ(bus_->SplitOutList, nullptr);
        if (r.code != 0) {
            EXPECT_EQ(r.count, 0xEEEEu);
            EXPECT_EQ(records, &sentinel);
            return r;
        }
        for (uint32_t i = 0; i < r.count; ++i) {
            r.records.push_back(records[i].Name ? std::string(records[i].Name) + ":" +
                                                      std::to_string(records[i].Size)
                                                : "-");
            VTQ_free(records[i].Name);
        }
        VTQ_free(records);
        return r;
    }
    // Member file paths handed to the host, with the work directory as "W".
    std::vector<std::string> Handed() const {
        std::vector<std::string> v;
        for (const MemberCall &c : host().member_calls)
            v.push_back(c.path.rfind(work_, 0) == 0 ? "W" + c.path.substr(work_.size()) : c.path);
        return v;
    }

    std::string work_, out_, password_;
    TxtOptions opts_{};
    std::unique_ptr<ZipBus> bus_;
};

ZipArchive Mixed() {
    ZipArchive a;
    a.Add("d/");
    a.Add("d/a.doc", "stored member");
    // The data starts after the local extra field, not the central one.
    a.Add("b.pdf", std::string(5000, 'b') + "deflated", 8).local_extra = "LOCAL-EXTRA";
    a.Add("d/e/");
    a.Add("empty.odt");
    return a;
}

TEST_F(ExtractTest, MembersAndDirectoriesInEachMode) {
    const struct {
        uint32_t mode;
        std::vector<std::string> handed, tree;
    } rows[] = {
        {kSplit,
         {"W/d/a.doc", "W/b.pdf", "W/empty.odt"},
         {"work/", "work/b.txt", "work/d/", "work/d/a.txt", "work/d/e/", "work/empty.txt"}},
        {kFlat,
         {"W/a.doc", "W/b.pdf", "W/empty.odt"},
         {"work/", "work/a.txt", "work/b.txt", "work/empty.txt"}},
    };
    const ZipArchive a = Mixed();
    for (const auto &row : rows) {
        fs::remove_all(work_);
        Reset(row.mode);
        host().member_calls.clear();
        const Result r = Extract(a);
        ASSERT_EQ(r.code, 0u) << row.mode;
        EXPECT_EQ(r.records, (std::vector<std::string>{"d/a.doc:13", "b.pdf:5008", "empty.odt:0"}));
        EXPECT_EQ(Handed(), row.handed);
        std::vector<std::string> tree = Tree("");
        tree.erase(std::remove_if(tree.begin(), tree.end(),
                                  [](const std::string &p) { return p.rfind("work", 0) != 0; }),
                   tree.end());
        EXPECT_EQ(tree, row.tree) << row.mode;
        ASSERT_EQ(host().member_calls.size(), 3u);
        EXPECT_EQ(host().member_calls[1].content, a.members[2].data);
        EXPECT_EQ(host().member_calls[1].mode, 1u);
    }

    // Compose mode: temporary member files, no work directory, all gone after.
    fs::remove_all(work_);
    Reset(kCompose);
    host().member_calls.clear();
    const Result r = Extract(a);
    ASSERT_EQ(r.code, 0u);
    EXPECT_EQ(r.count, 3u);
    ASSERT_EQ(host().member_calls.size(), 3u);
    EXPECT_EQ(host().member_calls[0].content, "stored member");
    EXPECT_EQ(host().member_calls[2].content, "");
    EXPECT_EQ(host().member_calls[0].mode, 2u);
    EXPECT_FALSE(fs::exists(work_));
    EXPECT_TRUE(TmpFiles().empty());
}

TEST_F(ExtractTest, DirectoryOnlyArchive) {
    ZipArchive a;
    a.Add("x/");
    a.Add("x/y/z/");
    for (uint32_t mode : {kSplit, kCompose}) {
        fs::remove_all(work_);
        Reset(mode);
        const Result r = Extract(a);
        ASSERT_EQ(r.code, 0u);
        EXPECT_EQ(r.count, 0u);
        EXPECT_EQ(fs::is_directory(work_ + "/x/y/z"), mode == kSplit);
        EXPECT_EQ(fs::exists(work_), mode == kSplit);
    }
}

TEST_F(ExtractTest, ComposeSuffixesAndTheLog) {
    const struct {
        const char *name, *suffix;
    } rows[] = {{"Notes.docx", ".ocx"}, {"docs/Report.pdf", ".pdf"}, {"a.b", ".a.b"},
                {"bin/ls", "._ls"},     {"a/b/c", ".b_c"},           {"ab", ".ab"},
                {"x", ".x"}};
    ZipArchive a;
    for (const auto &row : rows) a.Add(row.name, row.name);
    const std::string log_path = Path("filter.log");
    opts_.FormatFlags = VTQ_FMT_LOG;
    bus_->Log = vtq_logfopen(opts_.FormatFlags, log_path.c_str());
    ASSERT_NE(bus_->Log, nullptr);
    ASSERT_EQ(Extract(a).code, 0u);
    vtq_logfclose(opts_.FormatFlags, bus_->Log);
    const std::string log = ReadFile(log_path);
    ASSERT_EQ(host().member_calls.size(), std::size(rows));
    for (size_t i = 0; i < std::size(rows); ++i) {
        const std::string &p = host().member_calls[i].path;
        EXPECT_EQ(p.rfind(Path("tmp/"), 0), 0u) << p;
        EXPECT_EQ(p.substr(p.size() - std::strlen(rows[i].suffix)), rows[i].suffix) << p;
        EXPECT_NE(log.find("\r\nptxt=" + p + "\r\n"), std::string::npos) << p;
    }
    // TempInParent: beside the top-level output instead of in TMPDIR.
    Reset(kCompose | VTQ_MODE_TEMP_IN_PARENT);
    host().member_calls.clear();
    ASSERT_EQ(Extract(a).code, 0u);
    EXPECT_EQ(host().member_calls[0].path.rfind(Path("vtqz-"), 0), 0u);
    EXPECT_TRUE(TmpFiles().empty());
}

// Hand-off results: 3005, KeepGoing, and the clean-up after a failure.
TEST_F(ExtractTest, HandOffResults) {
    auto archive = [](std::vector<std::string> contents) {
        ZipArchive a;
        int i = 0;
        for (const std::string &c : contents) a.Add("m" + std::to_string(i++) + ".doc", c);
        return a;
    };
    const struct {
        const char *what;
        uint32_t mode;
        std::vector<std::string> contents;
        uint32_t code, count, calls, deferred, limit;
    } rows[] = {
        {"compose stops at the limit", kCompose, {"a", "rc=3005;", "c"}, 0, 3, 2, 0, 1},
        {"split goes on past it", kSplit, {"a", "rc=3005;", "c"}, 0, 3, 3, 0, 1},
        {"a failure ends the walk", kCompose, {"a", "rc=6000;", "c"}, 6000, 0, 2, 6000, 0},
        {"keep going, the latest counts", kCompose | kKeepGoing,
         {"rc=6000;", "b", "rc=4242;", "d"}, 0, 4, 4, 4242, 0},
        {"keep going in split mode", kSplit | kKeepGoing, {"rc=6000;", "b"}, 0, 2, 2, 6000, 0},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        fs::remove_all(work_);
        Reset(row.mode);
        host().member_calls.clear();
        const Result r = Extract(archive(row.contents));
        EXPECT_EQ(r.code, row.code);
        if (row.code == 0) {
            EXPECT_EQ(r.count, row.count);
        }
        EXPECT_EQ(host().member_calls.size(), row.calls);
        EXPECT_EQ(bus_->DeferredError, row.deferred);
        EXPECT_EQ(bus_->LimitReached, row.limit);
        if (row.code == 0 && row.calls < row.count) {
            EXPECT_EQ(r.records.back(), "-");
        }
    }

    // Split mode: a failed hand-off removes the whole work directory.
    fs::remove_all(work_);
    Reset(kSplit);
    ZipArchive a = archive({"a", "rc=6000;"});
    a.Add("sub/");
    EXPECT_EQ(Extract(a).code, 6000u);
    EXPECT_FALSE(fs::exists(work_));
}

// Flat mode: node paths, and which text files a failed hand-off removes.
TEST_F(ExtractTest, FlatModeTextFiles) {
    const struct {
        std::vector<std::string> names;
        std::vector<std::string> left; // under the work directory afterwards
    } rows[] = {
        // The last member fails; the earlier members' text files go, its own stays.
        {{"x/Report.pdf", "docs/Report.final.pdf", "README", ".profile"}, {".txt"}},
        // Same text path as the failed member: left alone.
        {{"x/Report.pdf", "y/Report.doc"}, {"Report.txt"}},
    };
    for (const auto &row : rows) {
        fs::remove_all(work_);
        Reset(kFlat);
        host().member_calls.clear();
        ZipArchive a;
        for (size_t i = 0; i < row.names.size(); ++i)
            a.Add(row.names[i], i + 1 == row.names.size() ? "rc=6000;" : "text");
        EXPECT_EQ(Extract(a).code, 6000u);
        EXPECT_EQ(Tree("work"), row.left);
    }
    EXPECT_EQ(Handed(), (std::vector<std::string>{"W/Report.pdf", "W/Report.doc"}));
}

// Names that must not reach outside the work directory, and names that
// only look like they might.
TEST_F(ExtractTest, MemberNamesStayInsideTheWorkDirectory) {
    const std::string empty_name("\0ab", 3); // a name whose string is empty
    const struct {
        std::string name;
        uint32_t code;       // without KeepGoing
        std::string handed;  // with KeepGoing, "" for none
    } rows[] = {
        {"../evil.doc", 27, ""},
        {"a/../../evil.doc", 27, ""},
        {"a/..", 27, ""},
        {empty_name, 27, ""},
        {"..evil/x..y.doc", 0, "W/..evil/x..y.doc"},
        {"..\\evil.doc", 0, "W/..\\evil.doc"},
        {"/abs/x.doc", 0, "W//abs/x.doc"},
    };
    for (uint32_t mode : {kSplit, kFlat}) {
        for (const auto &row : rows) {
            SCOPED_TRACE(row.name + " " + std::to_string(mode));
            for (uint32_t keep : {0u, kKeepGoing}) {
                fs::remove_all(work_);
                Reset(mode | keep);
                host().member_calls.clear();
                ZipArchive a;
                a.Add("../up/");  // a directory entry that makes nothing
                a.Add(row.name, "x");
                a.Add("last.doc", "y");
                const Result r = Extract(a);
                EXPECT_EQ(r.code, keep ? 0u : row.code);
                EXPECT_EQ(bus_->DeferredError, row.code);
                if (keep != 0 && mode == kSplit) {
                    std::vector<std::string> want;
                    if (!row.handed.empty()) want.push_back(row.handed);
                    want.push_back("W/last.doc");
                    EXPECT_EQ(Handed(), want);
                }
                for (const std::string &p : Tree(""))
                    EXPECT_TRUE(p == "a.zip" || p.rfind("work/", 0) == 0) << p;
            }
        }
    }
    // In compose mode the name only labels the text.
    Reset(kCompose);
    ZipArchive a;
    a.Add("../evil.doc", "x");
    a.Add(empty_name, "y");
    EXPECT_EQ(Extract(a).code, 0u);
    EXPECT_EQ(host().member_calls.back().path.back(), '.');
}

// Split-mode path length: DstFileTmp + "/" + name of 4095 bytes fits.
TEST_F(ExtractTest, PathLengthBoundary) {
    const size_t base = work_.size() + 1;
    auto long_name = [&](size_t total) { // components short enough for the file system
        std::string n;
        while (base + n.size() + 201 < total) n += std::string(200, 'd') + "/";
        return n + std::string(total - base - n.size(), 'f');
    };
    for (uint32_t keep : {0u, kKeepGoing}) {
        for (size_t total : {size_t{4095}, size_t{4096}}) {
            fs::remove_all(work_);
            Reset(kSplit | keep);
            host().member_calls.clear();
            ZipArchive a;
            a.Add(long_name(total), "long");
            a.Add("short.doc", "short");
            const Result r = Extract(a);
            const bool fits = total == 4095;
            EXPECT_EQ(r.code, fits || keep ? 0u : 27u) << total;
            EXPECT_EQ(bus_->DeferredError, fits ? 0u : 27u) << total;
            EXPECT_EQ(host().member_calls.size(), fits ? 2u : keep ? 1u : 0u) << total;
            if (fits) {
                EXPECT_EQ(host().member_calls[0].path.size(), 4095u);
            }
        }
    }
    // Names up to 65535 bytes: prefixes that do not fit are not made.
    ZipArchive a;
    a.Add(std::string(30000, 'q') + "/" + std::string(35534, 'r'), "huge");
    a.Add(std::string(65534, 's') + "/");
    for (uint32_t mode : {kSplit, kFlat, kCompose}) {
        fs::remove_all(work_);
        Reset(mode | kKeepGoing);
        EXPECT_EQ(Extract(a).code, 0u);
        EXPECT_EQ(bus_->DeferredError, mode == kCompose ? 0u : 27u);
    }
}

TEST_F(ExtractTest, EncryptedMembers) {
    ZipArchive a;
    a.Add("plain.doc", "before");
    a.Add("s.doc", "stored secret").password = "pw";
    a.Add("d.doc", std::string(3000, 'z') + "deflated secret", 8).password = "pw";
    a.Add("zero.doc").password = "pw";
    const struct {
        const char *what;
        int password; // 0 none, 1 "pw", 2 wrong, 3 empty, 4 CryptOn without a pointer
        uint32_t mode, code, calls;
    } rows[] = {
        {"right password", 1, kCompose, 0, 4},
        {"no password", 0, kCompose | kKeepGoing, 3001, 1},
        {"no password pointer", 4, kCompose, 3001, 1},
        {"empty password", 3, kCompose, 5001, 1},
        {"wrong password, stored", 2, kCompose, 3102, 1},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        Reset(row.mode);
        host().member_calls.clear();
        if (row.password == 1) SetPassword("pw");
        if (row.password == 2) SetPassword("wrong");
        if (row.password == 3) SetPassword("");
        if (row.password == 4) bus_->CryptOn = 1;
        EXPECT_EQ(Extract(a).code, row.code);
        EXPECT_EQ(host().member_calls.size(), row.calls);
    }
    EXPECT_EQ(host().member_calls[0].content, "before");

    // Deflated with the wrong password; data too short for its header; an
    // empty member with an empty password reads nothing.
    const struct {
        uint16_t method;
        std::optional<std::string> raw;
        std::string password;
        uint32_t code;
    } more[] = {{8, std::nullopt, "wrong", 3101}, {0, "short", "pw", 3102},
                {8, "short", "pw", 3101}};
    for (const auto &m : more) {
        Reset(kCompose);
        SetPassword(m.password);
        ZipArchive b;
        ZipMember &e = b.Add("e.doc", "content to hide", m.method);
        e.password = "pw";
        e.raw = m.raw;
        EXPECT_EQ(Extract(b).code, m.code);
    }
    Reset(kCompose);
    SetPassword("");
    ZipArchive c;
    c.Add("zero.doc").password = "pw";
    EXPECT_EQ(Extract(c).code, 0u);
}

// Archives written by Info-ZIP's zip with -P, when it is installed.
TEST_F(ExtractTest, InfoZipEncryptedArchive) {
    if (!fs::exists("/usr/bin/zip")) GTEST_SKIP() << "no /usr/bin/zip";
    const std::string text = std::string(2000, 't') + " the end\n";
    WriteFile(Path("one.txt"), text);
    WriteFile(Path("two.txt"), "second\n");
    for (const char *level : {"-0", "-6"}) {
        fs::remove(Path("i.zip"));
        const std::string cmd = "cd '" + dir() + "' && /usr/bin/zip -q " + level +
                                " -P 'se cret' i.zip one.txt two.txt";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
        Reset(kCompose);
        host().member_calls.clear();
        SetPassword("se cret");
        const Result r = ExtractFile(Path("i.zip"));
        ASSERT_EQ(r.code, 0u) << level;
        ASSERT_EQ(host().member_calls.size(), 2u);
        EXPECT_EQ(host().member_calls[0].content, text);
        EXPECT_EQ(host().member_calls[1].content, "second\n");
        Reset(kCompose);
        SetPassword("secret");
        EXPECT_EQ(ExtractFile(Path("i.zip")).code, level[1] == '0' ? 3102u : 3101u);
    }
}

// Archives and members the loop refuses, with or without KeepGoing.
TEST_F(ExtractTest, DamagedArchivesAndMembers) {
    auto one = [](void (*edit)(ZipArchive &)) {
        ZipArchive a;
        a.Add("first.doc", "first");
        a.Add("m.doc", "member data");
        edit(a);
        return a.Build();
    };
    // The members' local headers, then an end record counting no entry.
    const std::string full = one([](ZipArchive &) {});
    const size_t cd_at = full.size() - 22 - 2 * 46 - 14;
    std::string no_central = full.substr(0, cd_at) + "PK\x05\x06" + std::string(8, '\0');
    no_central += std::string("\0\0\0\0", 4);
    for (int i = 0; i < 4; ++i) no_central.push_back(static_cast<char>(cd_at >> (8 * i)));
    no_central += std::string(2, '\0');
    const struct {
        const char *what;
        std::string bytes;
        uint32_t code, calls;
    } rows[] = {
        {"byte-swapped signature", "\x04\x03KP" + one([](ZipArchive &) {}).substr(4), 2001, 0},
        {"stub in front", one([](ZipArchive &a) { a.stub = "MZ stub"; }), 2001, 0},
        {"no end record", one([](ZipArchive &) {}).substr(0, 60), 3100, 0},
        {"empty central directory", no_central, 3100, 0},
        // The first entry is read at the end record less the directory size.
        {"central signature", one([](ZipArchive &a) { a.cd_size = 2 * 46 + 14 - 1; }), 3100, 0},
        {"local header", one([](ZipArchive &a) { a.members[1].local_crc = 7; }), 3100, 1},
        {"crc", one([](ZipArchive &a) { a.members[1].crc = 7; }), 3102, 1},
        {"method 14 goes to the inflater", one([](ZipArchive &a) { a.members[1].method = 14; }),
         3101, 1},
        {"stored data shorter than the member",
         one([](ZipArchive &a) { a.members[1].raw = "mem"; }), 3102, 1},
        {"local header past the end of the file",
         one([](ZipArchive &a) { a.members[1].local_offset = 0x7FFFFFF0; }), 3100, 1},
        {"4 GiB from a few bytes",
         one([](ZipArchive &a) { a.members[1].uncompressed_size = 0xFFFFFFFF; }), 12, 1},
        {"end record counts none",
         one([](ZipArchive &a) { a.entries_total = 0; }), 3100, 0},
    };
    for (uint32_t keep : {0u, kKeepGoing}) {
        for (const auto &row : rows) {
            SCOPED_TRACE(row.what);
            Reset(kCompose | keep);
            host().member_calls.clear();
            EXPECT_EQ(ExtractBytes(row.bytes).code, row.code);
            EXPECT_EQ(host().member_calls.size(), row.calls);
        }
    }
    EXPECT_EQ(ExtractFile(Path("missing.zip")).code, 22u);
}

// Fail each host call in turn: every run ends with a documented code,
// leaks nothing and leaves nothing behind but what the contract allows.
TEST_F(ExtractTest, HostFaults) {
    ZipArchive a;
    a.Add("d/");
    a.Add("d/a.doc", "stored");
    a.Add("b.doc", std::string(4000, 'b'), 8);
    a.Add("c.doc", "hidden", 8).password = "pw";
    const std::string bytes = a.Build();
    const uint32_t documented[] = {0, 12, 22, 24, 25, 27, 2001, 3100, 3101, 3102};
    const HostCall kinds[] = {kAlloc, kOpen, kRead, kSeek, kTell, kWrite, kMkDir, kRemove, kTmpName};
    for (uint32_t mode : {kCompose, kSplit, kFlat}) {
        for (HostCall kind : kinds) {
            for (uint64_t n = 1;; ++n) {
                SCOPED_TRACE(std::to_string(mode) + "/" + std::to_string(kind) + "/" +
                             std::to_string(n));
                fs::remove_all(work_);
                fs::remove_all(Path("tmp"));
                fs::create_directory(Path("tmp"));
                Reset(mode);
                SetPassword("pw");
                WriteFile(Path("a.zip"), bytes);
                host().member_calls.clear();
                host().Arm(kind, n);
                const Result r = ExtractFile(Path("a.zip"));
                const bool fired = host().fired != 0;
                host().Disarm();
                EXPECT_NE(std::find(std::begin(documented), std::end(documented), r.code),
                          std::end(documented))
                    << r.code;
                EXPECT_EQ(host().live_allocs, 0);
                // A member file that could not be made or was written short
                // stays (with the host's name reservation), as does one the
                // host could not remove.
                if (r.code != 22 && r.code != 24 && kind != kRemove) {
                    EXPECT_TRUE(TmpFiles().empty());
                }
                if (!fired) {
                    EXPECT_EQ(r.code, 0u);
                    EXPECT_EQ(host().member_calls.size(), 3u);
                    break;
                }
                ASSERT_LT(n, 2000u);
            }
        }
    }
}

} // namespace
} // namespace vtq::test

// test_extract.cc - the end record search and the member extraction loop, through the test host
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/fixture.h"
#include "tests/support/zip_builder.h"
#include "vtq/zozaz.h"

namespace fs = std::filesystem;

namespace vtq::test {
namespace {

constexpr uint32_t kCompose = VTQ_MODE_COMPOSE, kSplit = 0, kFlat = VTQ_MODE_FLAT,
                   kKeepGoing = VTQ_MODE_KEEP_GOING;
using Strings = std::vector<std::string>;

// A member "rc=N;" makes the host return N after extracting as usual.  Reset gives a fresh
// context as an entry point leaves it, password pw when not null; flat mode writes into an
// existing directory.  Extract runs the loop: its code, records_ the "name:size" records.
class ExtractTest : public HostTest {
protected:
    void SetUp() override {
        HostTest::SetUp();
        work_ = Path("work"), out_ = Path("out.txt");
        host().member = [](MemberCall &c) {
            CopyMember(c);
            return c.content.starts_with("rc=") ? uint32_t(std::stoul(c.content.substr(3))) : 0u;
        };
        Reset(kCompose);
    }
    void Reset(uint32_t mode, const char *pw = nullptr) {
        fs::remove_all(work_);
        host().member_calls.clear();
        opts_ = TxtOptions{};
        opts_.ModeFlags = VTQ_MODE_ENABLED | mode;
        bus_ = LoopBus(&opts_, out_, work_);
        if (mode & kFlat) fs::create_directories(work_);
        bus_->CryptOn = pw != nullptr;
        bus_->Password = reinterpret_cast<const unsigned char *>(pw);
        bus_->PasswordLen = pw != nullptr ? static_cast<uint32_t>(std::strlen(pw)) : 0;
    }
    uint32_t Extract(const std::string &bytes, const std::string &file = "a.zip") {
        if (!bytes.empty()) WriteFile(Path(file), bytes);
        records_.clear();
        return RunLoop(Path(file), bus_.get(), &records_);
    }
    // Member file paths handed to the host, the work directory shown as "W".
    Strings Handed() const {
        Strings v;
        for (const MemberCall &c : host().member_calls)
            v.push_back(c.path.starts_with(work_) ? "W" + c.path.substr(work_.size()) : c.path);
        return v;
    }
    std::string work_, out_;
    TxtOptions opts_{};
    std::unique_ptr<ZipBus> bus_;
    Strings records_;
};

TEST_F(ExtractTest, MembersAndDirectoriesInEachMode) {
    ZipArchive a;
    a.Add("d/");
    a.Add("d/a.doc", "stored member");
    // The data starts after the local extra field, not the central one.
    a.Add("b.pdf", std::string(5000, 'b') + "deflated", 8).local_extra = "LOCAL-EXTRA";
    a.Add("d/e/");
    a.Add("empty.odt");
    const struct {
        uint32_t mode;
        Strings handed, work;
    } rows[] = {
        {kSplit,
         {"W/d/a.doc", "W/b.pdf", "W/empty.odt"},
         {"b.txt", "d/", "d/a.txt", "d/e/", "empty.txt"}},
        {kFlat, {"W/a.doc", "W/b.pdf", "W/empty.odt"}, {"a.txt", "b.txt", "empty.txt"}},
        {kCompose, {}, {}},
    };
    for (const auto &row : rows) {
        Reset(row.mode);
        ASSERT_EQ(Extract(a.Build()), 0u) << row.mode;
        EXPECT_EQ(records_, (Strings{"d/a.doc:13", "b.pdf:5008", "empty.odt:0"}));
        ASSERT_EQ(host().member_calls.size(), 3u);
        EXPECT_EQ(host().member_calls[1].content, a.members[2].data);
        EXPECT_EQ(host().member_calls[0].mode, row.mode == kCompose ? 2u : 1u);
        EXPECT_TRUE(row.mode == kCompose || Handed() == row.handed);
        EXPECT_EQ(Tree("work"), row.work); // member files are gone, text files stay
        EXPECT_EQ(fs::exists(work_), row.mode != kCompose);
        EXPECT_TRUE(MemoryFiles().empty());
    }
    // Only directory entries: nothing to hand off, but the tree is made.
    ZipArchive dirs;
    dirs.Add("x/");
    dirs.Add("x/y/z/");
    Reset(kSplit);
    EXPECT_EQ(Extract(dirs.Build()), 0u);
    EXPECT_TRUE(records_.empty());
    EXPECT_EQ(Tree("work"), (Strings{"x/", "x/y/", "x/y/z/"}));
}

// Compose mode's memory files end in a suffix made of the name's last characters, also with
// TempInParent: a memory file has no place beside the output either.
TEST_F(ExtractTest, ComposeSuffixes) {
    const std::pair<const char *, const char *> rows[] = {{"Notes.docx", ".ocx"},
                                                          {"docs/Report.pdf", ".pdf"},
                                                          {"a.b", ".a.b"},
                                                          {"bin/ls", "._ls"},
                                                          {"a/b/c", ".b_c"},
                                                          {"ab", ".ab"},
                                                          {"x", ".x"}};
    ZipArchive a;
    for (const auto &[name, suffix] : rows) a.Add(name, name);
    for (uint32_t mode : {kCompose, kCompose | VTQ_MODE_TEMP_IN_PARENT}) {
        Reset(mode);
        ASSERT_EQ(Extract(a.Build()), 0u);
        ASSERT_EQ(host().member_calls.size(), std::size(rows));
        for (size_t i = 0; i < std::size(rows); ++i) {
            const std::string &p = host().member_calls[i].path;
            EXPECT_TRUE(p.starts_with("/proc/self/vtqmem/") && p.ends_with(rows[i].second)) << p;
        }
        EXPECT_EQ(Tree(), (Strings{"a.zip", "out.txt"}));
    }
}

// Two members, the second edited; the first is handed off before it.
std::string Two(void (*edit)(ZipMember &), void (*arc)(ZipArchive &) = nullptr) {
    ZipArchive a;
    a.Add("first.doc", "first");
    edit(a.Add("m.doc", std::string(3000, 'z') + "member data", 8));
    if (arc != nullptr) arc(a);
    return a.Build();
}
void None(ZipMember &) {}
void Pw(ZipMember &m) { m.password = "pw"; }
void Stored(ZipMember &m) { m.password = "pw", m.method = 0; }

// Archives and members the loop refuses, with or without KeepGoing, and encrypted members with
// and without the right password.  A success means the CRC of the decoded bytes matched.
TEST_F(ExtractTest, Refusals) {
    const struct {
        const char *what;
        std::string bytes;
        const char *password;
        uint32_t code, calls;
    } rows[] = {
        {"byte-swapped signature", "\x04\x03KP" + Two(None).substr(4), nullptr, 2001, 0},
        {"stub in front", Two(None, [](ZipArchive &a) { a.stub = "MZ"; }), nullptr, 2001, 0},
        {"no end record", Two(None).substr(0, 60), nullptr, 3100, 0},
        // The first entry is read at the end record less the directory size.
        {"central signature", Two(None, [](ZipArchive &a) { a.cd_size = 2 * 46 + 14 - 1; }),
         nullptr, 3100, 0},
        {"end record counts none", Two(None, [](ZipArchive &a) { a.entries_total = 0; }), nullptr,
         3100, 0},
        // The local header against the central entry: which disagreements are fatal.
        {"local crc", Two([](ZipMember &m) { m.local_crc = 7; }), nullptr, 3100, 1},
        {"local crc, bit 3", Two([](ZipMember &m) { m.local_crc = 1, m.local_flags = 8; }), nullptr,
         0, 2},
        {"local sizes zero, bit 3", Two([](ZipMember &m) { m.bit3 = true; }), nullptr, 0, 2},
        {"local sizes zero without bit 3",
         Two([](ZipMember &m) { m.bit3 = true, m.local_flags = 0; }), nullptr, 3100, 1},
        {"local compressed size", Two([](ZipMember &m) { m.local_compressed_size = 1; }), nullptr,
         3100, 1},
        {"local uncompressed size", Two([](ZipMember &m) { m.local_uncompressed_size = 1; }),
         nullptr, 3100, 1},
        {"local method", Two([](ZipMember &m) { m.local_method = 0; }), nullptr, 3100, 1},
        {"local name length", Two([](ZipMember &m) { m.local_name_len = 3; }), nullptr, 3100, 1},
        {"local name length, bit 3", Two([](ZipMember &m) { m.bit3 = true, m.local_name_len = 3; }),
         nullptr, 3100, 1},
        {"local signature", Two([](ZipMember &m) { m.local_offset = 1; }), nullptr, 3100, 1},
        {"local flags and extra of its own",
         Two([](ZipMember &m) { m.local_flags = 0x800, m.local_extra = std::string(9, 'e'); }),
         nullptr, 0, 2},
        {"local header past the end", Two([](ZipMember &m) { m.local_offset = 0x7FFFFFF0; }),
         nullptr, 3100, 1},
        {"crc", Two([](ZipMember &m) { m.crc = 7; }), nullptr, 3102, 1},
        {"method 14 goes to the inflater", Two([](ZipMember &m) { m.method = 14; }), nullptr, 3101,
         1},
        {"stored data shorter than the member",
         Two([](ZipMember &m) { m.method = 0, m.raw = "mem"; }), nullptr, 3102, 1},
        {"4 GiB from a few bytes", Two([](ZipMember &m) { m.uncompressed_size = 0xFFFFFFFF; }),
         nullptr, 12, 1},
        {"right password, deflated", Two(Pw), "pw", 0, 2},
        {"right password, stored", Two(Stored), "pw", 0, 2},
        {"no password", Two(Pw), nullptr, 3001, 1},
        {"empty password", Two(Pw), "", 5001, 1},
        {"wrong password, deflated", Two(Pw), "wrong", 3101, 1},
        {"wrong password, stored", Two(Stored), "wrong", 3102, 1},
        // Too short for the encryption header: no content at all.
        {"encrypted, 5 bytes, stored",
         Two([](ZipMember &m) { m.password = "pw", m.method = 0, m.raw = "short"; }), "pw", 3102,
         1},
        {"encrypted, 5 bytes, deflated",
         Two([](ZipMember &m) { m.password = "pw", m.raw = "short"; }), "pw", 3101, 1},
        // An empty member reads nothing, so even an empty password passes.
        {"empty member, empty password", Two([](ZipMember &m) { m.password = "pw", m.data = ""; }),
         "", 0, 2},
    };
    for (uint32_t keep : {0u, kKeepGoing}) {
        for (const auto &row : rows) {
            SCOPED_TRACE(row.what);
            Reset(kCompose | keep, row.password);
            EXPECT_EQ(Extract(row.bytes), row.code);
            EXPECT_EQ(host().member_calls.size(), row.calls);
        }
    }
    Reset(kCompose);
    bus_->CryptOn = 1; // but no password pointer
    EXPECT_EQ(Extract(Two(Pw)), 3001u);
    EXPECT_EQ(Extract("", "missing.zip"), 22u);
}

std::string Le32(uint32_t v) {
    std::string s;
    for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>(v >> (8 * i)));
    return s;
}

// One "rb" host handle on a file the test wrote; FormatChk's results in pos_ and entries_.
class ReaderTest : public HostTest {
protected:
    void TearDown() override {
        VTQ_FileClose(file_);
        HostTest::TearDown();
    }
    uint32_t Check(const std::string &bytes) {
        VTQ_FileClose(file_);
        WriteFile(Path("a.zip"), bytes);
        file_ = VTQ_FileOpen(Path("a.zip").c_str(), "rb");
        pos_ = {0xDEAD, 0xBEEF};
        entries_ = 0xCAFE;
        return VtqZip_FormatChk(file_, &pos_, &entries_);
    }
    VTQ_FILE *file_ = nullptr;
    ZipDirPos pos_{};
    uint32_t entries_ = 0;
};

ZipArchive TwoMembers() {
    ZipArchive a;
    a.Add("one.txt", "first member");
    a.Add("dir/two.txt", "second member, deflated", 8).extra = std::string("XY\x02\x00zz", 6);
    return a;
}

// End records of every shape the search and the check must handle.
TEST_F(ReaderTest, EndRecordVariants) {
    const std::string plain = TwoMembers().Build();
    const uint32_t eocd = static_cast<uint32_t>(plain.size() - 22);
    ASSERT_EQ(Check(plain), 0u);
    const ZipDirPos real = pos_;
    auto edit = [&](size_t at, uint16_t v) {
        std::string s = plain;
        s[at] = static_cast<char>(v), s[at + 1] = static_cast<char>(v >> 8);
        return s;
    };
    ZipArchive fake = TwoMembers(); // a whole all-zero end record in the comment
    fake.comment = "x" + Le32(0x06054b50) + std::string(18, '\0') + "tail";
    ZipArchive wrapped = TwoMembers();
    wrapped.cd_offset = 0xFFFFFFF0u; // offset + size wraps to 0x10
    wrapped.cd_size = 0x20;
    const std::string wrapped_bytes = wrapped.Build();
    ZipArchive stubbed = TwoMembers();
    stubbed.stub.assign(1000, 'S');
    const struct {
        const char *what;
        std::string bytes;
        uint32_t code, central, before, entries; // the last three on success
        uint32_t fault = 0, nth = 0;             // host call kind failing at call nth
        bool persistent = false;
    } rows[] = {
        {"empty file", "", 23, 0, 0, 0},
        {"only a signature", Le32(0x06054b50), 23, 0, 0, 0},
        {"record at position 0", Le32(0x06054b50) + std::string(18, '\0'), 23, 0, 0, 0},
        {"record cut off: fields read as 0", std::string(100, 'x') + Le32(0x06054b50) + "\0\0", 0,
         0, 100, 0},
        {"the signature nearest the end wins", fake.Build(), 0, 0, eocd + 23, 0},
        {"this disk", edit(eocd + 4, 1), 3100, 0, 0, 0},
        {"start disk", edit(eocd + 6, 1), 3100, 0, 0, 0},
        {"entries on this disk", edit(eocd + 8, 1), 3100, 0, 0, 0},
        {"directory past the record", edit(eocd + 16, static_cast<uint16_t>(real.CentralPos + 1)),
         3100, 0, 0, 0},
        {"32-bit wrap", wrapped_bytes, 0, 0xFFFFFFF0u,
         static_cast<uint32_t>(wrapped_bytes.size() - 22 - 0x10), 2},
        {"junk after the record", plain + "trailing junk", 0, real.CentralPos, 0, 2},
        {"stub in front", stubbed.Build(), 0, real.CentralPos, 1000, 2},
        {"no search buffer", plain, 23, 0, 0, 0, kAlloc, 1},
        {"no size: nothing is there", plain, 23, 0, 0, 0, kTell, 1},
        {"window seek", plain, 23, 0, 0, 0, kSeek, 1},
        {"window read", plain, 23, 0, 0, 0, kRead, 1},
        {"seek to the record", plain, 25, 0, 0, 0, kSeek, 2},
        // Every read from the this-disk field on fails: the fields stay 0.
        {"field reads fail", plain, 0, 0, eocd, 0, kRead, 6, true},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.what);
        host().Arm(r.fault, r.nth, r.persistent);
        ASSERT_EQ(Check(r.bytes), r.code);
        EXPECT_EQ(host().fired != 0, r.fault != 0);
        host().Disarm();
        EXPECT_EQ(pos_.CentralPos, r.code == 0 ? r.central : 0xDEADu);
        EXPECT_TRUE(r.code != 0 || (pos_.BytesBefore == r.before && entries_ == r.entries));
    }
    EXPECT_EQ(VtqZip_FormatChk(file_, nullptr, &entries_), 11u);
}

// The record must start in the last 65535 bytes; windows step by 1024 and
// overlap by 4, so signatures across a step boundary are seen.
TEST_F(ReaderTest, TailSearchWindowsAndSpan) {
    for (uint32_t comment :
         {1001u, 1002u, 1003u, 1004u, 1005u, 2025u, 2026u, 2027u, 2028u, 2029u, 65513u, 65514u}) {
        ZipArchive a = TwoMembers();
        a.comment.assign(comment, 'c');
        const std::string bytes = a.Build();
        ASSERT_EQ(Check(bytes), comment <= 65513 ? 0u : 23u) << comment;
        EXPECT_EQ(VtqZip_SearchCentralDir(file_),
                  comment <= 65513 ? bytes.size() - 22 - comment : 0u);
    }
}

} // namespace
} // namespace vtq::test

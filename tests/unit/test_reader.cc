// test_reader.cc - the central directory reader against hand-built archives
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/support/fixture.h"
#include "tests/support/zip_builder.h"
#include "vtq/zozaz.h"

namespace vtq::test {
namespace {

// An open "rb" host handle on a file written by the test.
class ReaderTest : public HostTest {
protected:
    void TearDown() override {
        Close();
        HostTest::TearDown();
    }
    VTQ_FILE *Open(const std::string &bytes) {
        Close();
        WriteFile(Path("a.zip"), bytes);
        file_ = VTQ_FileOpen(Path("a.zip").c_str(), "rb");
        EXPECT_NE(file_, nullptr);
        return file_;
    }
    void Close() {
        if (file_ != nullptr) VTQ_FileClose(file_);
        file_ = nullptr;
    }
    // FormatChk on bytes; pos and entries are preset to sentinels.
    uint32_t Check(const std::string &bytes) {
        pos_ = {0xDEAD, 0xBEEF};
        entries_ = 0xCAFE;
        return VtqZip_FormatChk(Open(bytes), &pos_, &entries_);
    }
    VTQ_FILE *file_ = nullptr;
    ZipDirPos pos_{};
    uint32_t entries_ = 0;
};

std::string Le32(uint32_t v) {
    std::string s;
    for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>(v >> (8 * i)));
    return s;
}

TEST_F(ReaderTest, FieldReadersAreLittleEndianAndKeepTheOutputOnFailure) {
    VTQ_FILE *f = Open(std::string("\x34\x12\x50\x4B\x03\x04\x01\x02\x03", 9));
    uint32_t v = 7;
    ASSERT_EQ(VtqZip_getWord(f, &v), 0u);
    EXPECT_EQ(v, 0x1234u);
    ASSERT_EQ(VtqZip_getDoubleWord(f, &v), 0u);
    EXPECT_EQ(v, 0x04034b50u);
    // Three bytes left: the double word fails, consumes them, keeps v.
    EXPECT_EQ(VtqZip_getDoubleWord(f, &v), 25u);
    EXPECT_EQ(v, 0x04034b50u);
    EXPECT_EQ(VtqZip_getByte(f, &v), 25u);
    EXPECT_EQ(v, 0x04034b50u);

    // A failing host read in the middle of a word.
    VTQ_FileSeek(f, 0, 0);
    host().Arm(kRead, 2);
    EXPECT_EQ(VtqZip_getWord(f, &v), 25u);
    EXPECT_EQ(v, 0x04034b50u);
    EXPECT_EQ(VtqZip_getByte(f, &v), 0u); // the position moved past byte 0 only
    EXPECT_EQ(v, 0x12u);
}

TEST(Reader, NextPathDelimiter) {
    const struct {
        const char *path;
        uint32_t want;
    } rows[] = {{"a/b", 1}, {"abc", 3}, {"/abc", 0}, {"", 0}, {"dir/", 3}, {"a\\b/c", 3}};
    for (const auto &r : rows) EXPECT_EQ(VtqZip_nextPathDelimiter(r.path), r.want) << r.path;
}

// One archive with two members behind various fronts and tails.
ZipArchive TwoMembers() {
    ZipArchive a;
    a.Add("one.txt", "first member");
    a.Add("dir/two.txt", "second member, deflated", 8).extra = "XY\x02\x00zz";
    return a;
}

TEST_F(ReaderTest, StubInFrontBecomesBytesBeforeAndEveryRecordIsStillFound) {
    for (uint32_t stub : {0u, 1000u}) {
        ZipArchive a = TwoMembers();
        a.stub.assign(stub, 'S');
        a.comment = "archive comment";
        ASSERT_EQ(Check(a.Build()), 0u) << stub;
        EXPECT_EQ(pos_.BytesBefore, stub);
        EXPECT_EQ(entries_, 2u);

        ZipEntryInfo info{};
        ZipDirPos at = pos_;
        for (const ZipMember &m : a.members) {
            uint32_t local = 0, data = 0;
            char *name = nullptr;
            ASSERT_EQ(VtqZip_GetCurrentFileInfo(file_, at, &info, &local, &data, &name), 0u);
            EXPECT_STREQ(name, m.name.c_str());
            VTQ_free(name);
            EXPECT_EQ(info.CompressedSize, m.method == 8 ? Deflate(m.data).size() : m.data.size());
            EXPECT_EQ(info.UncompressedSize, m.data.size());
            EXPECT_EQ(info.Crc32, Crc32(m.data));
            EXPECT_EQ(info.Method, m.method);
            EXPECT_EQ(info.ExtraLen, m.extra.size());
            EXPECT_EQ(info.VersionMadeBy, 0x031eu);
            EXPECT_EQ(info.ExternalAttr, 0x81a40000u);
            EXPECT_EQ(data, local + 30 + info.NameLen + info.ExtraLen);
            ASSERT_EQ(VtqZip_CurFileCoherencyCheck(file_, at, &info, local), 0u);
            EXPECT_EQ(info.LocalExtraLen, m.extra.size());
            at.CentralPos += 46 + info.NameLen + info.ExtraLen + info.CommentLen;
        }
    }
}

// End records of every shape the search and the check must handle.
TEST_F(ReaderTest, EndRecordVariants) {
    const std::string plain = TwoMembers().Build();
    const uint32_t eocd = static_cast<uint32_t>(plain.size() - 22);
    ZipDirPos real{};
    ASSERT_EQ(Check(plain), 0u);
    real = pos_;

    struct Row {
        const char *what;
        std::string bytes;
        uint32_t code;
        uint32_t central, before, entries; // checked on success only
    };
    ZipArchive fake_in_comment = TwoMembers();
    // A complete all-zero end record inside the comment, nearer the end.
    fake_in_comment.comment = "x" + Le32(0x06054b50) + std::string(18, '\0') + "tail";
    ZipArchive wrapped = TwoMembers();
    wrapped.cd_offset = 0xFFFFFFF0u; // offset + size wraps to a small sum
    wrapped.cd_size = 0x20;
    const std::string wrapped_bytes = wrapped.Build();

    auto edit = [&](size_t at, uint16_t v) {
        std::string s = plain;
        s[at] = static_cast<char>(v);
        s[at + 1] = static_cast<char>(v >> 8);
        return s;
    };
    const Row rows[] = {
        {"empty file", "", 23, 0, 0, 0},
        {"only a signature", Le32(0x06054b50), 23, 0, 0, 0},
        {"record at position 0", Le32(0x06054b50) + std::string(18, '\0'), 23, 0, 0, 0},
        {"truncated record", std::string(100, 'x') + Le32(0x06054b50) + "\0\0", 0, 0, 100, 0},
        {"signature in the comment wins", fake_in_comment.Build(), 0, 0, eocd + 23, 0},
        {"this disk", edit(eocd + 4, 1), 3100, 0, 0, 0},
        {"start disk", edit(eocd + 6, 1), 3100, 0, 0, 0},
        {"entries on this disk", edit(eocd + 8, 1), 3100, 0, 0, 0},
        {"directory past the record", edit(eocd + 16, static_cast<uint16_t>(real.CentralPos + 1)),
         3100, 0, 0, 0},
        {"32-bit wrap", wrapped_bytes, 0, 0xFFFFFFF0u,
         static_cast<uint32_t>(wrapped_bytes.size() - 22 - 0x10), 2},
        {"junk after the record", plain + "trailing junk", 0, real.CentralPos, 0, 2},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.what);
        ASSERT_EQ(Check(r.bytes), r.code);
        if (r.code == 0) {
            EXPECT_EQ(pos_.CentralPos, r.central);
            EXPECT_EQ(pos_.BytesBefore, r.before);
            EXPECT_EQ(entries_, r.entries);
        } else {
            EXPECT_EQ(pos_.CentralPos, 0xDEADu); // untouched
        }
    }
    EXPECT_EQ(VtqZip_FormatChk(file_, nullptr, &entries_), 11u);
}

// The record must start in the last 65535 bytes; windows step by 1024 and
// overlap by 4, so signatures across a step boundary are seen.
TEST_F(ReaderTest, TailSearchWindowsAndSpan) {
    for (uint32_t comment : {1001u, 1002u, 1003u, 1004u, 1005u, 2025u, 2026u, 2027u, 2028u,
                             2029u, 65513u, 65514u}) {
        ZipArchive a = TwoMembers();
        a.comment.assign(comment, 'c');
        const std::string bytes = a.Build();
        const uint32_t code = Check(bytes);
        ASSERT_EQ(code, comment <= 65513 ? 0u : 23u) << comment;
        if (code == 0) {
            EXPECT_EQ(VtqZip_SearchCentralDir(file_), bytes.size() - 22 - comment);
            EXPECT_EQ(pos_.BytesBefore, 0u) << comment;
        }
    }
}

TEST_F(ReaderTest, SearchAndCheckFailures) {
    const std::string bytes = TwoMembers().Build();
    struct Row {
        uint32_t kind;
        uint64_t n;
        uint32_t code;
    } rows[] = {
        {kAlloc, 1, 23}, // search buffer
        {kTell, 1, 23},  // size reads as 0xFFFFFFFF; nothing there
        {kSeek, 1, 23},  // the window seek
        {kRead, 1, 23},  // the window read
        {kSeek, 2, 25},  // the seek to the record
    };
    for (const Row &r : rows) {
        Open(bytes);
        host().Arm(r.kind, r.n);
        EXPECT_EQ(VtqZip_FormatChk(file_, &pos_, &entries_), r.code) << r.kind << "/" << r.n;
        EXPECT_EQ(host().fired, 1u);
        host().Disarm();
    }
    // Every read from the this-disk field on fails: the fields stay 0.
    Open(bytes);
    host().Arm(kRead, 6, true);
    ASSERT_EQ(VtqZip_FormatChk(file_, &pos_, &entries_), 0u);
    EXPECT_EQ(entries_, 0u);
    EXPECT_EQ(pos_.CentralPos, 0u);
    EXPECT_EQ(pos_.BytesBefore, bytes.size() - 22);
}

TEST_F(ReaderTest, CentralEntryFailures) {
    ZipArchive a;
    a.Add("name.txt", "data");
    ZipArchive no_name = a;
    no_name.members[0].central_name_len = 0;
    no_name.members[0].local_name_len = 0;

    for (const ZipArchive *arc : {&a, &no_name}) {
        ASSERT_EQ(Check(arc->Build()), 0u);
        ZipEntryInfo info{};
        uint32_t local = 0, data = 0;
        char *name = reinterpret_cast<char *>(&info); // must stay as it is on failure
        char *const sentinel = name;
        if (arc == &no_name) {
            // A name length of 0 asks the host for 0 bytes: a failed read.
            EXPECT_EQ(VtqZip_GetCurrentFileInfo(file_, pos_, &info, &local, &data, &name), 25u);
            EXPECT_EQ(name, sentinel);
            continue;
        }
        ZipDirPos wrong = pos_;
        wrong.CentralPos += 1;
        EXPECT_EQ(VtqZip_GetCurrentFileInfo(file_, wrong, &info, &local, &data, &name), 3100u);
        const struct {
            uint32_t kind, n, code;
        } faults[] = {{kAlloc, 1, 12}, {kSeek, 1, 25}, {kRead, 47, 25}}; // 47: the name read
        for (const auto &f : faults) {
            host().Arm(f.kind, f.n);
            EXPECT_EQ(VtqZip_GetCurrentFileInfo(file_, pos_, &info, &local, &data, &name), f.code);
            EXPECT_EQ(name, sentinel);
            host().Disarm();
        }
    }
}

// A central entry cut off by the end of the file keeps the previous entry's
// values in every field it could not read.
TEST_F(ReaderTest, TruncatedCentralEntryKeepsStaleValues) {
    Open(Le32(0x02014b50) + std::string("\x14\x00\x0a\x00\x01\x00", 6));
    ZipEntryInfo info{};
    std::memset(&info, 0x11, sizeof info);
    uint32_t local = 0x22222222, data = 0;
    char *name = nullptr;
    EXPECT_EQ(VtqZip_GetCurrentFileInfo(file_, ZipDirPos{0, 0}, &info, &local, &data, &name), 25u);
    EXPECT_EQ(info.VersionMadeBy, 0x14u);
    EXPECT_EQ(info.VersionNeeded, 0x0au);
    EXPECT_EQ(info.Flags, 1u);
    EXPECT_EQ(info.Method, 0x11111111u);
    EXPECT_EQ(info.ExternalAttr, 0x11111111u);
    EXPECT_EQ(local, 0x22222222u);
    EXPECT_EQ(name, nullptr);
}

// Local header versus central entry: which disagreements are fatal.
TEST_F(ReaderTest, CoherencyCheck) {
    struct Row {
        const char *what;
        void (*edit)(ZipMember &);
        uint32_t code;
        uint32_t local_extra;
    };
    const Row rows[] = {
        {"agreeing", [](ZipMember &) {}, 0, 2},
        {"longer local extra", [](ZipMember &m) { m.local_extra = std::string(9, 'e'); }, 0, 9},
        {"no local extra", [](ZipMember &m) { m.local_extra = ""; }, 0, 0},
        {"other flags", [](ZipMember &m) { m.local_flags = 0x800; }, 0, 2},
        {"bit 3, zero sizes", [](ZipMember &m) { m.bit3 = true; }, 0, 2},
        {"zero sizes without bit 3",
         [](ZipMember &m) {
             m.bit3 = true;
             m.local_flags = 0;
         },
         3100, 0},
        {"crc", [](ZipMember &m) { m.local_crc = 1; }, 3100, 0},
        {"crc, bit 3", [](ZipMember &m) {
             m.local_crc = 1;
             m.local_flags = 8;
         }, 0, 2},
        {"compressed size", [](ZipMember &m) { m.local_compressed_size = 1; }, 3100, 0},
        {"uncompressed size", [](ZipMember &m) { m.local_uncompressed_size = 1; }, 3100, 0},
        {"method", [](ZipMember &m) { m.local_method = 8; }, 3100, 0},
        {"name length", [](ZipMember &m) { m.local_name_len = 3; }, 3100, 0},
        {"name length, bit 3",
         [](ZipMember &m) {
             m.bit3 = true;
             m.local_name_len = 3;
         },
         3100, 0},
        {"signature", [](ZipMember &m) { m.local_offset = 1; }, 3100, 0},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.what);
        ZipArchive a;
        ZipMember &m = a.Add("file.bin", "some bytes");
        m.extra = "ab";
        r.edit(m);
        ASSERT_EQ(Check(a.Build()), 0u);
        ZipEntryInfo info{};
        info.LocalExtraLen = 0;
        uint32_t local = 0, data = 0;
        char *name = nullptr;
        ASSERT_EQ(VtqZip_GetCurrentFileInfo(file_, pos_, &info, &local, &data, &name), 0u);
        VTQ_free(name);
        EXPECT_EQ(VtqZip_CurFileCoherencyCheck(file_, pos_, &info, local), r.code);
        EXPECT_EQ(info.LocalExtraLen, r.local_extra);
    }
}

// A local header cut off after its name length: the extra length read fails
// and keeps the value the name length left behind.
TEST_F(ReaderTest, TruncatedLocalHeaderCarriesThePreviousField) {
    std::string h = Le32(0x04034b50) + std::string("\x14\x00\x00\x00\x00\x00", 6) + Le32(0) +
                    Le32(0) + Le32(0) + Le32(0) + std::string("\x05\x00", 2);
    Open(h);
    ZipEntryInfo info{};
    info.NameLen = 5;
    EXPECT_EQ(VtqZip_CurFileCoherencyCheck(file_, ZipDirPos{0, 0}, &info, 0), 0u);
    EXPECT_EQ(info.LocalExtraLen, 5u);
    host().Arm(kSeek, 1);
    EXPECT_EQ(VtqZip_CurFileCoherencyCheck(file_, ZipDirPos{0, 0}, &info, 0), 25u);
}

} // namespace
} // namespace vtq::test

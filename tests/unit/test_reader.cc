// test_reader.cc - the end record search against hand-built archives
#include <gtest/gtest.h>

#include <string>

#include "tests/support/fixture.h"
#include "tests/support/zip_builder.h"
#include "vtq/zozaz.h"

namespace vtq::test {
namespace {

std::string Le32(uint32_t v) {
    std::string s;
    for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>(v >> (8 * i)));
    return s;
}

// One "rb" host handle on a file the test wrote; FormatChk's results in pos_ and entries_.
class ReaderTest : public HostTest {
protected:
    void TearDown() override {
        if (file_ != nullptr) VTQ_FileClose(file_);
        HostTest::TearDown();
    }
    VTQ_FILE *Open(const std::string &bytes) {
        if (file_ != nullptr) VTQ_FileClose(file_);
        WriteFile(Path("a.zip"), bytes);
        file_ = VTQ_FileOpen(Path("a.zip").c_str(), "rb");
        EXPECT_NE(file_, nullptr);
        return file_;
    }
    uint32_t Check(const std::string &bytes) {
        pos_ = {0xDEAD, 0xBEEF};
        entries_ = 0xCAFE;
        return VtqZip_FormatChk(Open(bytes), &pos_, &entries_);
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

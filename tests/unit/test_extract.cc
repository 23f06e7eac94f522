// test_extract.cc - the member extraction loop, through the test host
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

constexpr uint32_t kCompose = VTQ_MODE_COMPOSE, kFlat = VTQ_MODE_FLAT,
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

} // namespace
} // namespace vtq::test

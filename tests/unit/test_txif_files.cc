// test_txif_files.cc - the text host's member files and split-mode text files
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "host/txif/internal.h"
#include "tests/support/fixture.h"
#include "tests/support/zip_builder.h"
#include "vtq/standin.h"

namespace vtq::test {
namespace {

namespace fs = std::filesystem;
using txif::FileBytes;

class TxifFiles : public HostTest {};

std::string_view View(const FileBytes &b) {
    return {reinterpret_cast<const char *>(b.bytes().data()), b.bytes().size()};
}

// A member file on disk is read, not mapped: when another process
// truncates it while its bytes are in use (two flat-mode runs into one
// folder), a mapping would raise SIGBUS at the next touch.  A FIFO in its
// place is refused without blocking.  A memory file is used in place.
TEST_F(TxifFiles, MemberBytesSurviveTheFile) {
    const std::string big(size_t{3} << 20, 'm');
    WriteFile(Path("m"), big);
    FileBytes bytes;
    ASSERT_EQ(bytes.load(Path("m").c_str()), FileBytes::Load::kOk);
    ASSERT_EQ(truncate(Path("m").c_str(), 0), 0);
    EXPECT_TRUE(View(bytes) == big);
    ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
    EXPECT_EQ(bytes.load(Path("fifo").c_str()), FileBytes::Load::kOpenFailed);

    char name[VTQ_PATH_MAX];
    ASSERT_NE(VTQ_ASC_tmpnam(name), nullptr);
    VTQ_FILE *f = VTQ_FileOpen(name, "wb");
    ASSERT_EQ(VTQ_FileWrite("in memory", 1, 9, f), 9u);
    VTQ_FileClose(f);
    ASSERT_EQ(bytes.load(name), FileBytes::Load::kOk);
    const unsigned char *data = nullptr;
    uint64_t size = 0;
    ASSERT_EQ(VTQ_HostStoreView(name, &data, &size), 1);
    EXPECT_EQ(bytes.bytes().data(), data);
    EXPECT_EQ(View(bytes), "in memory");
    bytes.release();
    VTQ_ASC_remove(name);
}

// A split-mode text never replaces what has its name: a second member's
// text, a user's file, a planted link.  It takes the first free name of
// "<stem> (2).txt", "<stem> (3).txt", ...
struct TextNameCase {
    const char *what;
    std::vector<std::string> members; // in the order they are handed off
    const char *planted;              // "file" or "link" at the first text's name, or null
    std::vector<std::string> texts;   // where each member's text went
};

std::ostream &operator<<(std::ostream &os, const TextNameCase &c) { return os << c.what; }

const TextNameCase kTextNames[] = {
    {"one name for two members", {"x.md", "x.csv", "x"}, nullptr, {"x.txt", "x (2).txt", "x (3).txt"}},
    {"the same name twice", {"a.txt", "a.txt"}, nullptr, {"a.txt.txt", "a.txt (2).txt"}},
    {"a user's file", {"x.md"}, "file", {"x (2).txt"}},
    {"a planted link", {"x.md"}, "link", {"x (2).txt"}},
};

class TextNames : public TxifFiles, public ::testing::WithParamInterface<TextNameCase> {};

TEST_P(TextNames, TakeAFreshName) {
    const TextNameCase &c = GetParam();
    std::string first;
    ASSERT_TRUE(txif::split_text_path(Path(c.members[0]).c_str(), first));
    if (c.planted != nullptr) {
        WriteFile(Path("target"), "the user's");
        if (std::string(c.planted) == "file")
            WriteFile(first, "the user's");
        else
            ASSERT_EQ(symlink(Path("target").c_str(), first.c_str()), 0);
    }
    for (size_t i = 0; i < c.members.size(); ++i) {
        std::string text;
        ASSERT_TRUE(txif::split_text_path(Path(c.members[i]).c_str(), text));
        uint32_t code = 0;
        VTQ_FILE *f = txif::create_text_file(text, &code);
        ASSERT_NE(f, nullptr) << c.members[i] << " " << code;
        EXPECT_EQ(text, Path(c.texts[i]));
        VTQ_FileWrite(c.members[i].data(), 1, c.members[i].size(), f);
        EXPECT_EQ(VTQ_FileClose(f), 0);
    }
    for (size_t i = 0; i < c.members.size(); ++i) EXPECT_EQ(ReadFile(Path(c.texts[i])), c.members[i]);
    if (c.planted != nullptr) {
        EXPECT_EQ(ReadFile(first), "the user's");
        EXPECT_EQ(ReadFile(Path("target")), "the user's");
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, TextNames, ::testing::ValuesIn(kTextNames));

} // namespace
} // namespace vtq::test

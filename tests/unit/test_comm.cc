// test_comm.cc - the stand-in common services: shared log, log names, CutStr
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>

#include "host/comm/comm.h"
#include "tests/support/fixture.h"
#include "tests/support/zip_builder.h"

namespace cm = vtq::comm;

namespace {

class Comm : public vtq::test::HostTest {};
using vtq::test::ReadFile;

int Print(VTQ_LOG *log, const char *fmt, ...) {
    va_list args;
    va_start(args, fmt);
    int r = cm::log_vprintf(VTQ_FMT_LOG, log, fmt, args);
    va_end(args);
    return r;
}

// A nested level retains the log and closes its reference; the file stays
// open for the outer level, and lines land in the order they were written.
TEST_F(Comm, LogIsSharedByReferenceAndKeepsLineOrder) {
    std::string name = Path("x.log");
    VTQ_LOG *outer = cm::log_open(VTQ_FMT_LOG, name.c_str());
    ASSERT_NE(outer, nullptr);
    Print(outer, "outer %d\r\n", 1);
    VTQ_LOG *inner = cm::log_retain(outer);
    EXPECT_EQ(inner, outer);
    Print(inner, "inner\r\n");
    cm::log_print_path(VTQ_FMT_LOG, inner, "/a/b%s");
    EXPECT_EQ(ReadFile(name), "outer 1\r\ninner\r\n/a/b%s"); // flushed at once
    EXPECT_EQ(cm::log_close(VTQ_FMT_LOG, inner), 0);
    EXPECT_GT(Print(outer, "\r\nouter again\r\n"), 0); // still open
    EXPECT_EQ(cm::log_close(VTQ_FMT_LOG, outer), 0);
    EXPECT_EQ(ReadFile(name), "outer 1\r\ninner\r\n/a/b%s\r\nouter again\r\n");

    // Appends to what is there.
    VTQ_LOG *again = cm::log_open(VTQ_FMT_LOG, name.c_str());
    ASSERT_NE(again, nullptr);
    Print(again, "next");
    cm::log_close(0, again);
    EXPECT_EQ(ReadFile(name).size(), std::strlen("outer 1\r\ninner\r\n/a/b%s\r\nouter again\r\nnext"));
}

TEST_F(Comm, LogIsOffWithoutFlagOrName) {
    EXPECT_EQ(cm::log_open(0, Path("x.log").c_str()), nullptr);
    EXPECT_EQ(cm::log_open(VTQ_FMT_LOG, ""), nullptr);
    EXPECT_EQ(cm::log_open(VTQ_FMT_LOG, Path("no/such/dir.log").c_str()), nullptr);
    EXPECT_TRUE(Tree().empty()); // nothing was created
    EXPECT_EQ(Print(nullptr, "x"), 0);
    EXPECT_EQ(cm::log_print_path(VTQ_FMT_LOG, nullptr, "x"), 0);
    EXPECT_EQ(cm::log_retain(nullptr), nullptr);
    EXPECT_EQ(cm::log_close(VTQ_FMT_LOG, nullptr), 0);
}

TEST_F(Comm, LogFileNameFromEnvironmentOrOutputPath) {
    char buf[4096];
    unsetenv("VTQ_LOG_FILE");
    cm::log_file_name("/o/out.txt", "zip", buf);
    EXPECT_STREQ(buf, "/o/out.txt.zip.log");
    setenv("VTQ_LOG_FILE", "", 1);
    cm::log_file_name("out", "zip", buf);
    EXPECT_STREQ(buf, "out.zip.log");
    setenv("VTQ_LOG_FILE", "/l/all.log", 1);
    cm::log_file_name("out", "zip", buf);
    EXPECT_STREQ(buf, "/l/all.log");
    unsetenv("VTQ_LOG_FILE");

    // A name that does not fit is cut to 4095 bytes, never past the buffer.
    std::string longest(4090, 'p');
    char big[4096 + 16];
    std::memset(big, 0x5a, sizeof big);
    cm::log_file_name(longest.c_str(), "zip", big);
    EXPECT_EQ(std::strlen(big), 4095u);
    EXPECT_EQ(std::string(big + 4090), ".zip.");
    for (size_t i = 4096; i < sizeof big; ++i) ASSERT_EQ(big[i], 0x5a);
}

// CutStr: the largest prefix within the budget that ends on a character
// boundary of the output encoding.
struct CutCase {
    const char *what;
    uint32_t out_code;
    std::string text;
    uint32_t budget;
    uint32_t want;
};

std::ostream &operator<<(std::ostream &os, const CutCase &c) { return os << c.what; }

class CutStrTest : public ::testing::TestWithParam<CutCase> {};

TEST_P(CutStrTest, EndsOnACharacterBoundary) {
    const CutCase &c = GetParam();
    TxtOptions opts{};
    opts.OutCode = c.out_code;
    EXPECT_EQ(cm::cut_str(c.text.data(), static_cast<uint32_t>(c.text.size()), c.budget, &opts,
                          nullptr, 1),
              c.want);
}

using std::string_literals::operator""s;
const CutCase kCuts[] = {
    {"utf8 fits whole", 0, "a\xE6\x97\xA5"s, 10, 4},
    {"utf8 3-byte char straddles", 0, "a\xE6\x97\xA5" "b"s, 3, 1},
    {"utf8 cut right after a char", 0, "a\xE6\x97\xA5" "b"s, 4, 4},
    {"utf8 4-byte char straddles", 9, "\xF0\x9F\x98\x80z"s, 3, 0},
    {"utf8 stray continuation is cut byte-wise", 0, "a\x80\x80\x80\x80\x80"s, 3, 3},
    {"utf16le surrogate pair kept whole", 1, "a\0\x3D\xD8\x00\xDE" "b\0"s, 4, 2},
    {"utf16le odd budget", 1, "a\0b\0c\0"s, 5, 4},
    {"utf16be surrogate pair kept whole", 2, "\0a\xD8\x3D\xDE\x00"s, 5, 2},
    {"utf16le lone high surrogate may end", 1, "\x3D\xD8" "a\0b\0"s, 2, 2},
    {"utf32 whole units", 10, std::string(12, 'x'), 11, 8},
    {"utf32be whole units", 11, std::string(12, 'x'), 3, 0},
    {"shift_jis double byte straddles", 3, "a\x93\xFA"s, 2, 1},
    {"shift_jis trail looks like lead", 3, "\x93\x93\x93\x93"s, 3, 2},
    {"shift_jis half-width kana single", 3, "\xB1\xB2\xB3"s, 2, 2},
    {"euc-jp 3-byte SS3 straddles", 4, "a\x8F\xA1\xA1"s, 3, 1},
    {"euc-jp SS2 kana", 4, "\x8E\xB1\x8E\xB1"s, 3, 2},
    {"gbk double byte", 5, "ab\xC4\xE3"s, 3, 2},
    {"big5 double byte", 6, "\xA4\xA4\xA4\xA4"s, 3, 2},
    {"cp949 double byte", 7, "\xB0\xA1z"s, 1, 0},
    {"latin1 any byte", 8, "\xE9\xE9\xE9"s, 2, 2},
    {"unknown code bytewise", 99, "\xE6\x97\xA5"s, 2, 2},
    {"zero budget", 0, "abc"s, 0, 0},
};
INSTANTIATE_TEST_SUITE_P(Comm, CutStrTest, ::testing::ValuesIn(kCuts));

} // namespace

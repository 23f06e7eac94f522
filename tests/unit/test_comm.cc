// test_comm.cc - the stand-in common services: shared log, log names, CutStr
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>

#include "host/comm/comm.h"
#include "tests/support/fixture.h"
#include "tests/support/zip_builder.h"

namespace cm = vtq::comm;
using std::string_literals::operator""s;

namespace {

class Comm : public vtq::test::HostTest {};

int Print(VTQ_LOG *log, const char *fmt, ...) {
    va_list args;
    va_start(args, fmt);
    int r = cm::log_vprintf(VTQ_FMT_LOG, log, fmt, args);
    va_end(args);
    return r;
}

// A nested level retains the log and closes its reference; the file stays
// open for the outer level, lines land in the order written, and a log
// opened again appends.  Without the flag, a name or a directory, logging
// is off and makes nothing.
TEST_F(Comm, LogIsSharedByReferenceAndOffWithoutAName) {
    const std::string name = Path("x.log");
    VTQ_LOG *outer = cm::log_open(VTQ_FMT_LOG, name.c_str());
    ASSERT_NE(outer, nullptr);
    Print(outer, "outer %d\r\n", 1);
    VTQ_LOG *inner = cm::log_retain(outer);
    Print(inner, "inner\r\n");
    cm::log_print_path(VTQ_FMT_LOG, inner, "/a/b%s");
    EXPECT_EQ(vtq::test::ReadFile(name), "outer 1\r\ninner\r\n/a/b%s"); // flushed at once
    EXPECT_EQ(cm::log_close(VTQ_FMT_LOG, inner), 0);
    EXPECT_GT(Print(outer, "\r\nagain"), 0);
    EXPECT_EQ(cm::log_close(VTQ_FMT_LOG, outer), 0);
    VTQ_LOG *next = cm::log_open(VTQ_FMT_LOG, name.c_str());
    Print(next, "+");
    cm::log_close(0, next);
    EXPECT_EQ(vtq::test::ReadFile(name), "outer 1\r\ninner\r\n/a/b%s\r\nagain+");

    EXPECT_EQ(cm::log_open(0, Path("y.log").c_str()), nullptr);
    EXPECT_EQ(cm::log_open(VTQ_FMT_LOG, ""), nullptr);
    EXPECT_EQ(cm::log_open(VTQ_FMT_LOG, Path("no/dir.log").c_str()), nullptr);
    EXPECT_EQ(Tree(), std::vector<std::string>{"x.log"});
    EXPECT_EQ(Print(nullptr, "x") + cm::log_print_path(VTQ_FMT_LOG, nullptr, "x") +
                  cm::log_close(VTQ_FMT_LOG, nullptr), 0);
    EXPECT_EQ(cm::log_retain(nullptr), nullptr);
}

// VTQ_LOG_FILE names the log when set and not empty; otherwise the output
// path names it.  A name that does not fit is cut to 4095 bytes.
TEST_F(Comm, LogFileName) {
    char buf[4096 + 16];
    const struct { const char *env, *out, *want; } rows[] = {
        {nullptr, "/o/out.txt", "/o/out.txt.zip.log"}, {"", "out", "out.zip.log"}, {"/l/all.log", "out", "/l/all.log"}};
    for (const auto &r : rows) {
        if (r.env) setenv("VTQ_LOG_FILE", r.env, 1);
        else unsetenv("VTQ_LOG_FILE");
        cm::log_file_name(r.out, "zip", buf);
        EXPECT_STREQ(buf, r.want);
    }
    unsetenv("VTQ_LOG_FILE");
    std::memset(buf, 0x5a, sizeof buf);
    cm::log_file_name(std::string(4090, 'p').c_str(), "zip", buf);
    EXPECT_EQ(std::string(buf + 4090), ".zip.");
    for (size_t i = 4096; i < sizeof buf; ++i) ASSERT_EQ(buf[i], 0x5a);
}

// CutStr: the largest prefix within the budget that ends on a character
// boundary of the output encoding.
TEST(CutStr, EndsOnACharacterBoundary) {
    const struct { const char *what; uint32_t out_code; std::string text; uint32_t budget, want; } rows[] = {
        {"utf8 fits whole", 0, "a\xE6\x97\xA5", 10, 4},
        {"utf8 3-byte char straddles", 0, "a\xE6\x97\xA5" "b", 3, 1},
        {"utf8 cut right after a char", 0, "a\xE6\x97\xA5" "b", 4, 4},
        {"utf8 4-byte char straddles", 9, "\xF0\x9F\x98\x80z", 3, 0},
        {"utf8 stray continuation bytes", 0, "a\x80\x80\x80\x80\x80", 3, 3},
        {"utf16le surrogate pair whole", 1, "a\0\x3D\xD8\x00\xDE" "b\0"s, 4, 2},
        {"utf16le odd budget", 1, "a\0b\0c\0"s, 5, 4},
        {"utf16be surrogate pair whole", 2, "\0a\xD8\x3D\xDE\x00"s, 5, 2},
        {"utf32 whole units", 10, std::string(12, 'x'), 11, 8},
        {"shift_jis double byte", 3, "a\x93\xFA", 2, 1},
        {"shift_jis trail looks like lead", 3, "\x93\x93\x93\x93", 3, 2},
        {"shift_jis half-width kana", 3, "\xB1\xB2\xB3", 2, 2},
        {"euc-jp 3-byte SS3", 4, "a\x8F\xA1\xA1", 3, 1},
        {"gbk double byte", 5, "ab\xC4\xE3", 3, 2},
        {"big5 double byte", 6, "\xA4\xA4\xA4\xA4", 3, 2},
        {"cp949 double byte", 7, "\xB0\xA1z", 1, 0},
        {"latin1 any byte", 8, "\xE9\xE9\xE9", 2, 2},
        {"zero budget", 0, "abc", 0, 0},
    };
    for (const auto &r : rows) {
        TxtOptions opts{};
        opts.OutCode = r.out_code;
        EXPECT_EQ(cm::cut_str(r.text.data(), static_cast<uint32_t>(r.text.size()), r.budget, &opts, nullptr, 1), r.want)
            << r.what;
    }
}

} // namespace

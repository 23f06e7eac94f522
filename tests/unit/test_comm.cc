// test_comm.cc - the stand-in common services: shared log, log names, CutStr
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>
#include <tuple>

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
// open for the outer level, lines land in order, flushed at once, and a
// log opened again appends.  Without the flag or a name logging is off.
// VTQ_LOG_FILE, when set and not empty, names the log instead of the
// output path; a name that does not fit is cut to 4095 bytes.
TEST_F(Comm, LogIsSharedByReferenceAndNamed) {
    const std::string name = Path("x.log");
    VTQ_LOG *outer = cm::log_open(VTQ_FMT_LOG, name.c_str());
    ASSERT_NE(outer, nullptr);
    Print(outer, "outer %d\r\n", 1);
    VTQ_LOG *inner = cm::log_retain(outer);
    cm::log_print_path(VTQ_FMT_LOG, inner, "/a/b%s");
    EXPECT_EQ(vtq::test::ReadFile(name), "outer 1\r\n/a/b%s");
    EXPECT_EQ(cm::log_close(VTQ_FMT_LOG, inner), 0);
    EXPECT_GT(Print(outer, "\r\nagain"), 0);
    EXPECT_EQ(cm::log_close(VTQ_FMT_LOG, outer), 0);
    VTQ_LOG *next = cm::log_open(VTQ_FMT_LOG, name.c_str());
    Print(next, "+");
    cm::log_close(0, next);
    EXPECT_EQ(vtq::test::ReadFile(name), "outer 1\r\n/a/b%s\r\nagain+");
    EXPECT_EQ(cm::log_open(0, Path("y.log").c_str()), nullptr);
    EXPECT_EQ(cm::log_open(VTQ_FMT_LOG, ""), nullptr);
    EXPECT_EQ(Tree(), std::vector<std::string>{"x.log"});

    char buf[4096 + 16];
    for (const auto &[env, out, want] : {std::tuple{"", "out", "out.zip.log"}, {"/l/all.log", "out", "/l/all.log"}}) {
        setenv("VTQ_LOG_FILE", env, 1);
        cm::log_file_name(out, "zip", buf);
        EXPECT_STREQ(buf, want);
    }
    unsetenv("VTQ_LOG_FILE");
    std::memset(buf, 0x5a, sizeof buf);
    cm::log_file_name(std::string(4090, 'p').c_str(), "zip", buf);
    EXPECT_EQ(std::string(buf + 4090), ".zip.");
}

// CutStr: the largest prefix within the budget that ends on a character
// boundary of the output encoding.
TEST(CutStr, EndsOnACharacterBoundary) {
    const struct { uint32_t out_code; std::string text; uint32_t budget, want; } rows[] = {
        {0, "a\xE6\x97\xA5" "b", 3, 1},        {0, "a\xE6\x97\xA5" "b", 4, 4},  {9, "\xF0\x9F\x98\x80z", 3, 0},
        {0, "a\x80\x80\x80\x80\x80", 3, 3},    {1, "a\0\x3D\xD8\x00\xDE" "b\0"s, 4, 2},
        {1, "a\0b\0c\0"s, 5, 4},               {2, "\0a\xD8\x3D\xDE\x00"s, 5, 2},  {10, std::string(12, 'x'), 11, 8},
        {3, "\x93\x93\x93\x93", 3, 2},         {3, "\xB1\xB2\xB3", 2, 2},       {4, "a\x8F\xA1\xA1", 3, 1},
        {5, "ab\xC4\xE3", 3, 2},               {7, "\xB0\xA1z", 1, 0},          {8, "\xE9\xE9\xE9", 2, 2},
    };
    for (const auto &r : rows) {
        TxtOptions opts{};
        opts.OutCode = r.out_code;
        EXPECT_EQ(cm::cut_str(r.text.data(), static_cast<uint32_t>(r.text.size()), r.budget, &opts, nullptr, 1),
                  r.want) << ::testing::PrintToString(r.text) << " in " << r.out_code;
    }
}

} // namespace

// test_comm.cc - the stand-in common services: CutStr (the shared log is pinned
// end to end and by the entry points' tests)
#include <gtest/gtest.h>

#include <string>

#include "host/comm/comm.h"

using std::string_literals::operator""s;

namespace {

// CutStr: the largest prefix within the budget that ends on a character
// boundary of the output encoding.
TEST(CutStr, EndsOnACharacterBoundary) {
    const struct {
        uint32_t out_code;
        std::string text;
        uint32_t budget, want;
    } rows[] = {
        {0, "a\u65E5b", 3, 1},
        {0, "a\u65E5b", 4, 4},
        {9, "\U0001F600z", 3, 0},
        {0, "a\x80\x80\x80\x80\x80", 3, 3},
        {1, "a\0\x3D\xD8\x00\336b\0"s, 4, 2},
        {1, "a\0b\0c\0"s, 5, 4},
        {2, "\0a\xD8\x3D\xDE\x00"s, 5, 2},
        {10, std::string(12, 'x'), 11, 8},
        {3, "\x93\x93\x93\x93", 3, 2},
        {3, "\xB1\xB2\xB3", 2, 2},
        {4, "a\x8F\xA1\xA1", 3, 1},
        {5, "ab\xC4\xE3", 3, 2},
        {7, "\xB0\xA1z", 1, 0},
        {8, "\xE9\xE9\xE9", 2, 2},
    };
    for (const auto &r : rows) {
        TxtOptions opts{};
        opts.OutCode = r.out_code;
        EXPECT_EQ(vtq::comm::cut_str(r.text.data(), static_cast<uint32_t>(r.text.size()), r.budget,
                                     &opts, nullptr, 1),
                  r.want)
            << ::testing::PrintToString(r.text) << " in " << r.out_code;
    }
}

} // namespace

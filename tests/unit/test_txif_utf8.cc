// test_txif_utf8.cc - the UTF-8 checks of the text host and of the converter agree
//
// classify() takes a "valid" from the vector checks (AVX2) without asking the byte-wise
// utf8_valid_prefix() or looking for NUL bytes; a false "valid" would let bytes that are not UTF-8
// text through.  The converter's own strict decoder must draw the same line, or a name taken as
// UTF-8 could be decoded as something else.  All checks run on every byte pair and on quadruples
// of the bytes where the rules change, placed around the 32-byte block edges and at the very end,
// and on damaged random text.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

#include "host/conf/codec.h"
#include "host/txif/internal.h"

namespace {

namespace tx = vtq::txif;

TEST(Utf8Checks, VectorAndBytewiseAgree) {
    long checks = 0, valid = 0;
    auto check = [&](const std::string &s) {
        const auto *p = reinterpret_cast<const unsigned char *>(s.data());
        bool bad = false;
        const bool bytewise = tx::utf8_valid_prefix(p, s.size(), &bad) == s.size();
        ++checks;
        valid += bytewise;
        ASSERT_EQ(tx::utf8_all_valid(p, s.size()), bytewise) << ::testing::PrintToString(s);
        ASSERT_EQ(vtq::conf::is_utf8_with_non_ascii(p, s.size()),
                  bytewise && std::any_of(s.begin(), s.end(), [](char c) { return c & 0x80; }))
            << ::testing::PrintToString(s);
#if defined(__x86_64__)
        ASSERT_TRUE(!__builtin_cpu_supports("avx2") ||
                    tx::utf8_all_valid_avx2(p, s.size()) == bytewise)
            << ::testing::PrintToString(s);
        const bool text = bytewise && s.find('\0') == std::string::npos;
        ASSERT_TRUE(!__builtin_cpu_supports("avx2") || tx::utf8_text_avx2(p, s.size()) == text)
            << ::testing::PrintToString(s);
#endif
    };
    for (int a = 0; a < 256; ++a)
        for (int b = 0; b < 256; ++b)
            for (size_t at : {size_t{5}, size_t{31}, size_t{62}}) {
                std::string s(64, 'x');
                s[at] = static_cast<char>(a);
                s[at + 1] = static_cast<char>(b);
                ASSERT_NO_FATAL_FAILURE(check(s));
            }
    const unsigned char edges[] = {0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC1,
                                   0xC2, 0xDF, 0xE0, 0xED, 0xEF, 0xF0, 0xF4, 0xF5, 0xFF};
    for (unsigned char a : edges)
        for (unsigned char b : edges)
            for (unsigned char c : edges)
                for (unsigned char d : edges)
                    for (size_t at : {size_t{29}, size_t{30}, size_t{60}}) {
                        std::string s(64, 'y');
                        s.replace(at, 4, std::string{char(a), char(b), char(c), char(d)});
                        ASSERT_NO_FATAL_FAILURE(check(s));
                        ASSERT_NO_FATAL_FAILURE(check(s.substr(0, at + 3))); // cut at the end
                    }
    const char *pieces[] = {"a",      " ",          "\u00E9", "\u65E5", "\U0001F600",
                            "\uFFFF", "\U0010FFFF", "\u0800", "\uD7FF"};
    std::mt19937 rng(11);
    for (int t = 0; t < 20000; ++t) {
        std::string s;
        for (int k = static_cast<int>(rng() % 80); k > 0; --k) s += pieces[rng() % 9];
        if (rng() % 2 && !s.empty()) s[rng() % s.size()] = static_cast<char>(rng());
        if (rng() % 4 == 0 && !s.empty()) s.pop_back();
        ASSERT_NO_FATAL_FAILURE(check(s));
    }
    EXPECT_GT(valid, checks / 20); // both answers were really exercised
    EXPECT_LT(valid, checks / 2);
}

} // namespace

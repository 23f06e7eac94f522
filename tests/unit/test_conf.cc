// test_conf.cc - the stand-in converter: encodings, byte-order marks, line
// breaks, substitution, UTF-8 detection, source names and capacity
#include <cstring>
#include <random>
#include <string>

#include "host/conf/conf.h"
#include "tests/support/fixture.h"

namespace cv = vtq::conf;
using std::string_literals::operator""s;

namespace {

// A conversion job; tests name only the fields that differ from the
// defaults (designated initializers), so gcc's warning about the fields
// left out is beside the point here.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
struct Job {
    uint32_t out_code = 0;
    std::string charset;         // TxtOptions.Charset
    std::string source = "UTF-8"; // cconvChgCharset name
    uint32_t first = 0;
    uint32_t line_breaks = 0, mode = 0;
    char subst = 0;
    uint32_t cap = 256;
};

struct Result {
    int init = -1, change = -1, convert = -1;
    std::string out;
};

// One whole conversion as the filter runs it.
Result Convert(const Job &s, const std::string &text) {
    Result r;
    ConvState st;
    ConvParams params{};
    params.OutCode = s.out_code;
    params.FirstOutput = s.first;
    params.TextConv = 1;
    params.Subst[0] = params.Subst2[0] = s.subst;
    params.LineBreakConv = s.line_breaks;
    params.LineBreakMode = s.mode;
    TxtOptions opts{};
    std::strncpy(opts.Charset, s.charset.c_str(), sizeof opts.Charset - 1);
    r.init = cv::init_convert(&st, &params, &opts);
    if (r.init != 0) return r;
    ConvSource src{0, 0, 1};
    r.change = cv::change_charset(&st, &src, s.source.c_str());
    if (r.change == 0) {
        std::string dst(s.cap, '\0');
        st.Src = text.data();
        st.SrcLen = static_cast<uint32_t>(text.size());
        st.Dst = dst.data();
        st.DstCap = s.cap;
        st.Produced = 0xdead;
        r.convert = cv::convert(&st);
        r.out = dst.substr(0, st.Produced);
    }
    cv::term_convert(&st);
    return r;
}

std::string Hex(const std::string &s) {
    static const char d[] = "0123456789abcdef";
    std::string h;
    for (unsigned char c : s) (h += d[c >> 4]) += d[c & 15];
    return h;
}

#define EXPECT_BYTES(got, want) EXPECT_EQ(Hex(got), Hex(want))

const std::string kSun = "\xE6\x97\xA5"; // U+65E5, in every double-byte set

TEST(Conf, EachOutputEncoding) {
    struct Case {
        uint32_t code;
        std::string want;
    } cases[] = {
        {0, "A" + kSun},
        {1, "A\0\xE5\x65"s},
        {2, "\0A\x65\xE5"s},
        {3, "A\x93\xFA"},
        {4, "A\xC6\xFC"},
        {5, "A\xC8\xD5"},
        {6, "A\xA4\xE9"},
        {7, "A\xEC\xED"},
        {8, "A?"},
        {9, "A" + kSun},
        {10, "A\0\0\0\xE5\x65\0\0"s},
        {11, "\0\0\0A\0\0\x65\xE5"s},
    };
    for (const Case &c : cases) {
        Result r = Convert({.out_code = c.code}, "A" + kSun);
        EXPECT_EQ(r.convert, 0) << c.code;
        EXPECT_BYTES(r.out, c.want) << "OutCode " << c.code;
    }
    EXPECT_NE(Convert({.out_code = 12}, "A").init, 0);
}

// The first-output flag puts a byte-order mark in front for the Unicode
// encodings that have one.
TEST(Conf, ByteOrderMarkOnlyOnFirstOutput) {
    const std::string boms[] = {"", "\xFF\xFE", "\xFE\xFF", "", "", "", "", "", "",
                                "\xEF\xBB\xBF", "\xFF\xFE\0\0"s, "\0\0\xFE\xFF"s};
    for (uint32_t code = 0; code < 12; ++code)
        EXPECT_BYTES(Convert({.out_code = code, .first = 1}, "x").out,
                     boms[code] + Convert({.out_code = code}, "x").out)
            << "OutCode " << code;
    // Nothing at all, not even the mark, for an empty source.
    Result r = Convert({.out_code = 1, .first = 1}, "");
    EXPECT_EQ(r.convert, 0);
    EXPECT_EQ(r.out, "");
}

TEST(Conf, LineBreakModes) {
    const std::string text = "a\r\nb\rc\nd";
    struct Case {
        uint32_t code, mode;
        std::string want;
    } cases[] = {
        {0, 1, "a\r\nb\r\nc\r\nd"},
        {0, 2, "a\nb\nc\nd"},
        {0, 3, "a\rb\rc\rd"},
        {0, 4, "a\xE2\x80\xA8" "b\xE2\x80\xA8" "c\xE2\x80\xA8" "d"},
        {0, 5, "a\xC2\x85" "b\xC2\x85" "c\xC2\x85" "d"},
        {0, 0, "a\r\nb\r\nc\r\nd"},  // unknown mode: CRLF
        {0, 77, "a\r\nb\r\nc\r\nd"},
        {8, 4, "a\nb\nc\nd"},        // no U+2028 in ISO-8859-1: LF
        {8, 5, "a\x85" "b\x85" "c\x85" "d"},
        {3, 4, "a\nb\nc\nd"},
        {1, 2, "a\0\n\0b\0\n\0c\0\n\0d\0"s},
    };
    for (const Case &c : cases)
        EXPECT_BYTES(Convert({.out_code = c.code, .source = "ISO-8859-1", .line_breaks = 1,
                              .mode = c.mode},
                             text)
                         .out,
                     c.want)
            << "OutCode " << c.code << " mode " << c.mode;
    // LineBreakConv 0: line breaks pass as they stand.
    EXPECT_BYTES(Convert({.mode = 2}, text).out, text);
    // The filter's line break: one CR read as ISO-8859-1.
    EXPECT_BYTES(Convert({.out_code = 11, .source = "ISO-8859-1", .first = 1, .line_breaks = 1,
                          .mode = 1},
                         "\r")
                     .out,
                 "\0\0\xFE\xFF\0\0\0\r\0\0\0\n"s);
}

TEST(Conf, SubstitutesInvalidAndUnrepresentable) {
    struct Case {
        const char *what;
        uint32_t code;
        std::string charset, source;
        char subst;
        std::string text, want;
    } cases[] = {
        {"invalid utf-8, given subst", 0, "", "UTF-8", '?', "a\xFF" "b", "a?b"},
        {"invalid utf-8, default unicode", 0, "", "UTF-8", 0, "a\xFF" "b", "a\xEF\xBF\xBD" "b"},
        {"invalid utf-8, default utf-16", 1, "", "UTF-8", 0, "\xFF", "\xFD\xFF"},
        {"invalid utf-8, default legacy", 3, "", "UTF-8", 0, "a\xC3", "a?"},
        {"each bad byte once", 0, "", "UTF-8", '#', "\xF0\x9F\x98" "b", "###b"},
        {"truncated cp932 lead", 0, "Shift_JIS", "Shift_JIS", '?', "a\x93", "a?"},
        {"unrepresentable, given", 3, "", "UTF-8", '*', "\xC3\xA9", "*"},
        {"unrepresentable, default", 5, "", "UTF-8", 0, "\xEA\xB0\x80" "x", "?x"}, // Hangul
        {"unrepresentable in latin-1", 8, "", "UTF-8", 0, kSun, "?"},
        {"surrogate code in utf-8", 0, "", "UTF-8", '?', "\xED\xA0\x80", "???"},
    };
    for (const Case &c : cases) {
        Result r = Convert(
            {.out_code = c.code, .charset = c.charset, .source = c.source, .subst = c.subst},
            c.text);
        EXPECT_EQ(r.convert, 0) << c.what;
        EXPECT_BYTES(r.out, c.want) << c.what;
    }
}

// Valid UTF-8 with non-ASCII bytes is read as UTF-8 unless Charset names
// one of the six group names.
TEST(Conf, Utf8RuleFollowsCharset) {
    struct Case {
        std::string charset, source, text, want;
    } cases[] = {
        {"", "Shift_JIS", "\xC3\xA9", "\xC3\xA9"},
        {"ISO-8859-15", "KoreanKSC", "\xC3\xA9", "\xC3\xA9"}, // not a group name
        {"Shift_JIS", "Shift_JIS", "\xC3\xA9", "\xEF\xBE\x83\xEF\xBD\xA9"}, // ﾃｩ
        {"ISO-8859-1", "ISO-8859-1", "\xC3\xA9", "\xC3\x83\xC2\xA9"},
        {"", "ISO-8859-1", "caf\xE9", "caf\xC3\xA9"}, // not UTF-8: the given set
        {"", "Shift_JIS", "\x93\xFA", kSun},
    };
    for (const Case &c : cases)
        EXPECT_BYTES(Convert({.charset = c.charset, .source = c.source}, c.text).out, c.want)
            << c.charset << " / " << c.source;
}

TEST(Conf, SourceNames) {
    struct Case {
        const char *name;
        std::string text, want; // want is UTF-8
    } cases[] = {
        {"ISO-8859-1", "\xE9", "\xC3\xA9"},
        {"ChineseGBK", "\xC8\xD5", kSun},
        {"ChineseBIG5", "\xA4\xE9", kSun},
        {"KoreanKSC", "\x81\x41", "\xEA\xB0\x82"}, // a CP949-only syllable
        {"Shift_JIS", "\x87\x40", "\xE2\x91\xA0"}, // CP932 extension: circled 1
        {"WINDOWS31J", "\x93\xFA", kSun},
        {"UTF-8", kSun, kSun},
        {"CP866", "\x80", "\xD0\x90"},
    };
    for (const Case &c : cases) {
        // Charset = the name keeps the UTF-8 rule off for the group names.
        Result r = Convert({.charset = c.name, .source = c.name}, c.text);
        EXPECT_EQ(r.change, 0) << c.name;
        EXPECT_BYTES(r.out, c.want) << c.name;
    }
    EXPECT_NE(Convert({.source = "NO-SUCH-CHARSET"}, "x").change, 0);
    EXPECT_NE(Convert({.source = ""}, "x").change, 0);
}

// Output stops after the last whole character that fits.
TEST(Conf, CapacityStopsOnWholeCharacters) {
    struct Case {
        const char *what;
        uint32_t code, first, line_breaks, cap;
        std::string text, want;
        bool overflow;
    } cases[] = {
        {"fits exactly", 0, 0, 0, 5, "ab" + kSun, "ab" + kSun, false},
        {"3-byte char straddles", 0, 0, 0, 4, "ab" + kSun, "ab", true},
        {"surrogate pair straddles", 1, 0, 0, 5, "a\xF0\x9F\x98\x80", "a\0"s, true},
        {"line break is one unit", 0, 0, 1, 2, "a\r\n", "a", true},
        {"no room for the mark", 10, 1, 0, 3, "a", "", true},
        {"mark fits, char not", 10, 1, 0, 7, "a", "\xFF\xFE\0\0"s, true},
        {"no room at all", 0, 0, 0, 0, "a", "", true},
    };
    for (const Case &c : cases) {
        Result r = Convert({.out_code = c.code, .first = c.first, .line_breaks = c.line_breaks,
                            .mode = 1, .cap = c.cap},
                           c.text);
        EXPECT_EQ(r.convert != 0, c.overflow) << c.what;
        EXPECT_BYTES(r.out, c.want) << c.what;
    }
}

// Random bytes through every source set: each conversion ends, fits four
// output bytes per source byte, and leaves the host's marker at the end of
// Private alone.
TEST(Conf, ArbitraryBytesTerminateAndKeepThePrivateTail) {
    std::mt19937 rng(7);
    std::string text(2048, '\0');
    for (char &ch : text) ch = static_cast<char>(rng());
    for (const char *name : {"ISO-8859-1", "ChineseGBK", "ChineseBIG5", "KoreanKSC", "Shift_JIS",
                             "WINDOWS31J", "UTF-8", "EUC-JP", "ISO-2022-JP"}) {
        ConvState st;
        uint8_t *tail = st.Private + sizeof st.Private - 64;
        std::memset(tail, 0xA5, 64);
        ConvParams params{};
        TxtOptions opts{};
        std::strcpy(opts.Charset, name);
        ASSERT_EQ(cv::init_convert(&st, &params, &opts), 0);
        ConvSource src{0, 0, 1};
        ASSERT_EQ(cv::change_charset(&st, &src, name), 0) << name;
        std::string dst(text.size() * 4, '\0');
        st.Src = text.data();
        st.SrcLen = static_cast<uint32_t>(text.size());
        st.Dst = dst.data();
        st.DstCap = static_cast<uint32_t>(dst.size());
        EXPECT_EQ(cv::convert(&st), 0) << name;
        EXPECT_GT(st.Produced, text.size() / 2) << name; // nothing dropped wholesale
        EXPECT_EQ(cv::term_convert(&st), 0);
        for (int i = 0; i < 64; ++i) ASSERT_EQ(tail[i], 0xA5) << name;
    }
}

} // namespace

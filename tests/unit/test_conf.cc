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

// A conversion job; rows name only the fields that differ from these.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
struct Job {
    uint32_t out_code = 0;
    std::string charset;          // TxtOptions.Charset
    std::string source = "UTF-8"; // cconvChgCharset name
    uint32_t first = 0, line_breaks = 0, mode = 0;
    char subst = 0;
    uint32_t cap = 256;
};

struct Result {
    int init = -1, change = -1, convert = -1;
    std::string out;
};

// One whole conversion as the filter runs it; the host's marker at the end
// of Private must survive it.
Result Convert(const Job &s, const std::string &text) {
    Result r;
    ConvState st;
    uint8_t *tail = st.Private + sizeof st.Private - 64;
    std::memset(tail, 0xA5, 64);
    ConvParams params{};
    params.OutCode = s.out_code;
    params.FirstOutput = s.first;
    params.TextConv = 1;
    params.Subst[0] = params.Subst2[0] = s.subst;
    params.LineBreakConv = s.line_breaks;
    params.LineBreakMode = s.mode;
    TxtOptions opts{};
    std::strncpy(opts.Charset, s.charset.c_str(), sizeof opts.Charset - 1);
    if ((r.init = cv::init_convert(&st, &params, &opts)) != 0) return r;
    ConvSource src{0, 0, 1};
    if ((r.change = cv::change_charset(&st, &src, s.source.c_str())) == 0) {
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
    for (int i = 0; i < 64; ++i) EXPECT_EQ(tail[i], 0xA5) << s.source;
    return r;
}

const std::string kSun = "\xE6\x97\xA5"; // U+65E5, in every double-byte set

// Whole conversions, byte for byte.  The output encodings and the common
// line breaks are pinned end to end (tests/e2e); here the rest.
TEST(Conf, Conversions) {
    const std::string x = "A" + kSun, brk = "a\r\nb\rc\nd", l1 = "ISO-8859-1";
    const struct {
        const char *what;
        Job job;
        std::string text, want;
        bool overflow = false; // the output stopped for want of room
    } rows[] = {
        {"utf-16be", {.out_code = 2}, x, "\0A\x65\xE5"s},
        {"utf-32le", {.out_code = 10}, x, "A\0\0\0\xE5\x65\0\0"s},
        {"cp949", {.out_code = 7}, x, "A\xEC\xED"},
        {"latin-1", {.out_code = 8}, x, "A?"},
        // Line-break modes; unknown ones give CRLF, a missing character LF.
        {"u2028",
         {.source = l1, .line_breaks = 1, .mode = 4},
         brk,
         "a\xE2\x80\xA8"
         "b\xE2\x80\xA8"
         "c\xE2\x80\xA8"
         "d"},
        {"nel",
         {.source = l1, .line_breaks = 1, .mode = 5},
         brk,
         "a\xC2\x85"
         "b\xC2\x85"
         "c\xC2\x85"
         "d"},
        {"mode 77", {.source = l1, .line_breaks = 1, .mode = 77}, brk, "a\r\nb\r\nc\r\nd"},
        {"u2028 in latin-1",
         {.out_code = 8, .source = l1, .line_breaks = 1, .mode = 4},
         brk,
         "a\nb\nc\nd"},
        {"nel in latin-1",
         {.out_code = 8, .source = l1, .line_breaks = 1, .mode = 5},
         brk,
         "a\x85"
         "b\x85"
         "c\x85"
         "d"},
        {"lf in utf-16le",
         {.out_code = 1, .source = l1, .line_breaks = 1, .mode = 2},
         brk,
         "a\0\n\0b\0\n\0c\0\n\0d\0"s},
        {"breaks pass without LineBreakConv", {.mode = 2}, brk, brk},
        // The filter's line break: one CR read as ISO-8859-1, first output.
        {"filter's line break",
         {.out_code = 11, .source = l1, .first = 1, .line_breaks = 1, .mode = 1},
         "\r",
         "\0\0\xFE\xFF\0\0\0\r\0\0\0\n"s},
        // Substitution of invalid and unrepresentable input.
        {"invalid utf-8, given subst",
         {.subst = '?'},
         "a\xFF"
         "b",
         "a?b"},
        {"invalid utf-8, default unicode",
         {},
         "a\xFF"
         "b",
         "a\xEF\xBF\xBD"
         "b"},
        {"invalid utf-8, default utf-16", {.out_code = 1}, "\xFF", "\xFD\xFF"},
        {"invalid utf-8, default legacy", {.out_code = 3}, "a\xC3", "a?"},
        {"each bad byte once",
         {.subst = '#'},
         "\xF0\x9F\x98"
         "b",
         "###b"},
        {"truncated cp932 lead",
         {.charset = "Shift_JIS", .source = "Shift_JIS", .subst = '?'},
         "a\x93",
         "a?"},
        {"unrepresentable, given", {.out_code = 3, .subst = '*'}, "\xC3\xA9", "*"},
        {"unrepresentable, default",
         {.out_code = 5},
         "\xEA\xB0\x80"
         "x",
         "?x"}, // Hangul
        {"surrogate code in utf-8", {.subst = '?'}, "\xED\xA0\x80", "???"},
        // Valid UTF-8 with non-ASCII bytes is read as UTF-8 unless Charset
        // names one of the six group names.
        {"utf-8 rule, no charset", {.source = "Shift_JIS"}, "\xC3\xA9", "\xC3\xA9"},
        {"utf-8 rule, not a group name",
         {.charset = "ISO-8859-15", .source = "KoreanKSC"},
         "\xC3\xA9",
         "\xC3\xA9"},
        {"utf-8 rule off, Shift_JIS",
         {.charset = "Shift_JIS", .source = "Shift_JIS"},
         "\xC3\xA9",
         "\xEF\xBE\x83\xEF\xBD\xA9"},
        {"not utf-8: the given set", {.source = l1}, "caf\xE9", "caf\xC3\xA9"},
        // Source names (Charset = the name keeps the UTF-8 rule off), and
        // names of the alias table in any spelling, read as the family's
        // superset.
        {"ChineseBIG5", {.charset = "ChineseBIG5", .source = "ChineseBIG5"}, "\xA4\xE9", kSun},
        {"KoreanKSC, cp949 only",
         {.charset = "KoreanKSC", .source = "KoreanKSC"},
         "\x81\x41",
         "\xEA\xB0\x82"},
        {"WINDOWS31J", {.charset = "WINDOWS31J", .source = "WINDOWS31J"}, "\x93\xFA", kSun},
        {"UTF-16LE: its ASCII is not bytes", {.source = "UTF-16LE"}, "A\0\xE5\x65"s, x},
        {"Shift_JIS, a trail byte in ASCII's range",
         {.charset = "Shift_JIS", .source = "Shift_JIS"},
         "a\x95\x5C"
         "b",
         "a\xE8\xA1\xA8"
         "b"},
        {"shift-jis as CP932", {.source = "shift-jis"}, "\x87\x40", "\xE2\x91\xA0"},
        {"EUC_KR as CP949", {.source = "EUC_KR"}, "\x81\x41", "\xEA\xB0\x82"},
        {"x-mac-cyrillic", {.source = "x-mac-cyrillic"}, "\x8F", "\xD0\x9F"},
        // Output stops after the last whole character that fits.
        {"fits exactly", {.mode = 1, .cap = 5}, "ab" + kSun, "ab" + kSun},
        {"3-byte char straddles", {.mode = 1, .cap = 4}, "ab" + kSun, "ab", true},
        {"surrogate pair straddles",
         {.out_code = 1, .mode = 1, .cap = 5},
         "a\xF0\x9F\x98\x80",
         "a\0"s,
         true},
        {"line break is one unit", {.line_breaks = 1, .mode = 1, .cap = 2}, "a\r\n", "a", true},
        {"no room for the mark", {.out_code = 10, .first = 1, .mode = 1, .cap = 3}, "a", "", true},
        {"mark fits, char not",
         {.out_code = 10, .first = 1, .mode = 1, .cap = 7},
         "a",
         "\xFF\xFE\0\0"s,
         true},
    };
    for (const auto &r : rows) {
        const Result got = Convert(r.job, r.text);
        EXPECT_EQ(got.change, 0) << r.what;
        EXPECT_EQ(got.convert != 0, r.overflow) << r.what;
        EXPECT_EQ(got.out, r.want) << r.what;
    }
    EXPECT_NE(Convert({.out_code = 12}, "A").init, 0);
    EXPECT_NE(Convert({.source = "NO-SUCH-CHARSET"}, "x").change, 0);
    EXPECT_NE(Convert({.source = ""}, "x").change, 0);
    // The first-output flag puts a byte-order mark in front for the Unicode
    // encodings that have one, and nothing at all for an empty source.
    const std::string boms[] = {"",
                                "\xFF\xFE",
                                "\xFE\xFF",
                                "",
                                "",
                                "",
                                "",
                                "",
                                "",
                                "\xEF\xBB\xBF",
                                "\xFF\xFE\0\0"s,
                                "\0\0\xFE\xFF"s};
    for (uint32_t code = 0; code < 12; ++code)
        EXPECT_EQ(Convert({.out_code = code, .first = 1}, "x").out,
                  boms[code] + Convert({.out_code = code}, "x").out)
            << "OutCode " << code;
    EXPECT_EQ(Convert({.out_code = 1, .first = 1}, "").out, "");
    // Random bytes through every source set end, and fit four output bytes
    // per source byte, nothing dropped wholesale.
    std::mt19937 rng(7);
    std::string noise(2048, '\0');
    for (char &ch : noise) ch = static_cast<char>(rng());
    for (const char *name : {"ISO-8859-1", "ChineseGBK", "ChineseBIG5", "KoreanKSC", "Shift_JIS",
                             "UTF-8", "EUC-JP", "ISO-2022-JP"}) {
        const Result got = Convert({.charset = name, .source = name, .cap = 4 * 2048}, noise);
        EXPECT_EQ(got.convert, 0) << name;
        EXPECT_GT(got.out.size(), noise.size() / 2) << name;
    }
}

} // namespace

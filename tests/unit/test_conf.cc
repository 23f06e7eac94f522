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

#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
// A conversion job; rows name the fields up to the last that differs.
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

// Whole conversions, byte for byte.  The output encodings and the common
// line breaks are pinned end to end (tests/e2e); here the rest.  U+65E5 is
// in every double-byte set.
TEST(Conf, Conversions) {
    const std::string x = "A\u65E5", brk = "a\r\nb\rc\nd", l1 = "ISO-8859-1", u8 = "UTF-8";
    const std::string sj = "Shift_JIS";
    const struct {
        const char *what;
        Job job; // out_code, charset, source, first, line_breaks, mode, subst, cap
        std::string text, want;
        bool overflow = false; // the output stopped for want of room
    } rows[] = {
        {"utf-16be", {2}, x, "\0A\x65\xE5"s},
        {"utf-32le", {10}, x, "A\0\0\0\xE5\x65\0\0"s},
        {"cp949", {7}, x, "A\xEC\xED"},
        {"latin-1", {8}, x, "A?"},
        // Line-break modes; unknown ones give CRLF, a missing character LF.
        {"u2028", {0, "", l1, 0, 1, 4}, brk, "a\u2028b\u2028c\u2028d"},
        {"nel", {0, "", l1, 0, 1, 5}, brk, "a\302\205b\302\205c\302\205d"},
        {"mode 77", {0, "", l1, 0, 1, 77}, brk, "a\r\nb\r\nc\r\nd"},
        {"u2028 in latin-1", {8, "", l1, 0, 1, 4}, brk, "a\nb\nc\nd"},
        {"nel in latin-1", {8, "", l1, 0, 1, 5}, brk, "a\205b\205c\205d"},
        {"lf in utf-16le", {1, "", l1, 0, 1, 2}, brk, "a\0\n\0b\0\n\0c\0\n\0d\0"s},
        {"breaks pass without LineBreakConv", {0, "", u8, 0, 0, 2}, brk, brk},
        // The filter's line break: one CR read as ISO-8859-1, first output.
        {"filter's line break", {11, "", l1, 1, 1, 1}, "\r", "\0\0\xFE\xFF\0\0\0\r\0\0\0\n"s},
        // Substitution of invalid and unrepresentable input.
        {"invalid utf-8, given subst", {0, "", u8, 0, 0, 0, '?'}, "a\377b", "a?b"},
        {"invalid utf-8, default unicode", {}, "a\377b", "a\uFFFDb"},
        {"invalid utf-8, default utf-16", {1}, "\xFF", "\xFD\xFF"},
        {"invalid utf-8, default legacy", {3}, "a\xC3", "a?"},
        {"each bad byte once", {0, "", u8, 0, 0, 0, '#'}, "\xF0\x9F\x98z", "###z"},
        {"truncated cp932 lead", {0, sj, sj, 0, 0, 0, '?'}, "a\x93", "a?"},
        {"unrepresentable, given", {3, "", u8, 0, 0, 0, '*'}, "\u00E9", "*"},
        {"unrepresentable, default", {5}, "\uAC00x", "?x"}, // Hangul
        {"surrogate code in utf-8", {0, "", u8, 0, 0, 0, '?'}, "\xED\xA0\x80", "???"},
        // Valid UTF-8 with non-ASCII bytes is read as UTF-8 unless Charset
        // names one of the six group names.
        {"utf-8 rule, no charset", {0, "", sj}, "\u00E9", "\u00E9"},
        {"utf-8 rule, not a group name", {0, "ISO-8859-15", "KoreanKSC"}, "\u00E9", "\u00E9"},
        {"utf-8 rule off, Shift_JIS", {0, sj, sj}, "\u00E9", "\uFF83\uFF69"},
        {"not utf-8: the given set", {0, "", l1}, "caf\xE9", "caf\u00E9"},
        // Source names (Charset = the name keeps the UTF-8 rule off), and
        // names of the alias table in any spelling, read as the family's
        // superset.
        {"ChineseBIG5", {0, "ChineseBIG5", "ChineseBIG5"}, "\xA4\xE9", "\u65E5"},
        {"KoreanKSC, cp949 only", {0, "KoreanKSC", "KoreanKSC"}, "\x81\x41", "\uAC02"},
        {"WINDOWS31J", {0, "WINDOWS31J", "WINDOWS31J"}, "\x93\xFA", "\u65E5"},
        {"UTF-16LE: its ASCII is not bytes", {0, "", "UTF-16LE"}, "A\0\xE5\x65"s, x},
        {"Shift_JIS, a trail byte in ASCII's range", {0, sj, sj}, "a\x95\\b", "a\u8868b"},
        {"shift-jis as CP932", {0, "", "shift-jis"}, "\x87\x40", "\u2460"},
        {"EUC_KR as CP949", {0, "", "EUC_KR"}, "\x81\x41", "\uAC02"},
        {"x-mac-cyrillic", {0, "", "x-mac-cyrillic"}, "\x8F", "\u041F"},
        // Output stops after the last whole character that fits.
        {"fits exactly", {0, "", u8, 0, 0, 1, 0, 5}, "ab\u65E5", "ab\u65E5"},
        {"3-byte char straddles", {0, "", u8, 0, 0, 1, 0, 4}, "ab\u65E5", "ab", true},
        {"surrogate pair straddles", {1, "", u8, 0, 0, 1, 0, 5}, "a\U0001F600", "a\0"s, true},
        {"line break is one unit", {0, "", u8, 0, 1, 1, 0, 2}, "a\r\n", "a", true},
        {"no room for the mark", {10, "", u8, 1, 0, 1, 0, 3}, "a", "", true},
        {"mark fits, char not", {10, "", u8, 1, 0, 1, 0, 7}, "a", "\xFF\xFE\0\0"s, true},
    };
    for (const auto &r : rows) {
        const Result got = Convert(r.job, r.text);
        EXPECT_EQ(got.change, 0) << r.what;
        EXPECT_EQ(got.convert != 0, r.overflow) << r.what;
        EXPECT_EQ(got.out, r.want) << r.what;
    }
    EXPECT_NE(Convert({12}, "A").init, 0);
    EXPECT_NE(Convert({0, "", "NO-SUCH-CHARSET"}, "x").change, 0);
    EXPECT_NE(Convert({0, "", ""}, "x").change, 0);
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
        EXPECT_EQ(Convert({code, "", u8, 1}, "x").out, boms[code] + Convert({code}, "x").out)
            << "OutCode " << code;
    EXPECT_EQ(Convert({1, "", u8, 1}, "").out, "");
    // Random bytes through every source set end, and fit four output bytes
    // per source byte, nothing dropped wholesale.
    std::mt19937 rng(7);
    std::string noise(2048, '\0');
    for (char &ch : noise) ch = static_cast<char>(rng());
    for (const char *name : {"ISO-8859-1", "ChineseGBK", "ChineseBIG5", "KoreanKSC", "Shift_JIS",
                             "UTF-8", "EUC-JP", "ISO-2022-JP"}) {
        const Result got = Convert({0, name, name, 0, 0, 0, 0, 4 * 2048}, noise);
        EXPECT_EQ(got.convert, 0) << name;
        EXPECT_GT(got.out.size(), noise.size() / 2) << name;
    }
}

} // namespace

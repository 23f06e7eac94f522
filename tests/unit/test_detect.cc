// test_detect.cc - the extended mode's text encoding detection and decoding
//
// Texts written for this test in nine languages are encoded here, with
// iconv, in the sets their writers use, and in UTF-8/16/32 with and
// without a byte-order mark.  Each must be detected and decoded back to the
// text as written.  The rules (mark, UTF-8, ISO-2022-JP escapes, explicit
// set, UTF-32 and the NUL pattern of UTF-16) must be right every time; the
// statistical detector's hits are counted, printed and held to a floor.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "host/txif/detect.h"
#include "tests/support/text_samples.h"

namespace {

namespace tx = vtq::txif;
using std::string_literals::operator""s;

using vtq::test::Encode;
using Sample = vtq::test::TextSample;
const auto &kSamples = vtq::test::kTextSamples;

std::span<const unsigned char> Bytes(const std::string &s) {
    return {reinterpret_cast<const unsigned char *>(s.data()), s.size()};
}

// What the detection makes of bytes: the set it names and the text its
// decoding gives (empty when it found no text or the decoding failed).
struct Outcome {
    tx::TextEncoding enc;
    std::string text;
};

Outcome DetectAndDecode(const std::string &bytes, std::string_view charset = "") {
    Outcome o{tx::detect_encoding(Bytes(bytes), charset), ""};
    if (o.enc.text() &&
        !tx::decode_in_chunks(Bytes(bytes).subspan(o.enc.bom_len), o.enc.iconv_name.c_str(),
                              [&](std::string_view s) { o.text.append(s); return true; }))
        o.text = "(decoding failed)";
    return o;
}

const std::string kBom8 = "\xEF\xBB\xBF", kBom16le = "\xFF\xFE", kBom16be = "\xFE\xFF",
                  kBom32le{"\xFF\xFE\0\0", 4}, kBom32be{"\0\0\xFE\xFF", 4};

TEST(Detect, SamplesDecodeToTheirText) {
    const std::pair<const char *, std::string> unicode[] = {
        {"UTF-8", ""},     {"UTF-8", kBom8},        {"UTF-16LE", ""}, {"UTF-16LE", kBom16le},
        {"UTF-16BE", ""},  {"UTF-16BE", kBom16be},  {"UTF-32LE", ""}, {"UTF-32LE", kBom32le},
        {"UTF-32BE", ""},  {"UTF-32BE", kBom32be}};
    int statistical = 0, hits = 0;
    for (const Sample &s : kSamples) {
        // A page: the sample many times over, one byte off, so that the
        // decoding's 64 KiB chunks cut characters of every width.
        std::string page = " ";
        while (page.size() < 150000) page += std::string(s.text) + "\r\n";
        for (const std::string &text : {std::string(s.text), page}) {
            std::vector<std::pair<std::string, std::string>> forms; // set, bytes
            for (const auto &[set, mark] : unicode) forms.emplace_back(set, mark + Encode(text, set));
            for (std::string_view sets = s.legacy; !sets.empty();) {
                const std::string set(sets.substr(0, sets.find(' ')));
                sets.remove_prefix(std::min(sets.size(), set.size() + 1));
                forms.emplace_back(set, Encode(text, set.c_str()));
            }
            for (const auto &[set, bytes] : forms) {
                ASSERT_FALSE(bytes.empty()) << set << ": " << s.text;
                const Outcome o = DetectAndDecode(bytes);
                const bool right = o.text == text;
                // Only the statistical detector may miss: legacy sets, and
                // UTF-16 without a mark and without NUL bytes (no ASCII).
                const bool by_rule = set == "ISO-2022-JP" || set.starts_with("UTF-8") ||
                                     set.starts_with("UTF-32") || bytes.starts_with(kBom16le) ||
                                     bytes.starts_with(kBom16be) ||
                                     (set.starts_with("UTF-16") && bytes.find('\0') != std::string::npos);
                if (by_rule) {
                    EXPECT_TRUE(right) << set << " read as " << o.enc.display_name << ": " << s.text;
                    continue;
                }
                ++statistical;
                hits += right;
                if (!right)
                    std::printf("detector miss: %s (%zu bytes) read as %s: %.60s\n", set.c_str(), bytes.size(),
                                o.enc.display_name.c_str(), s.text);
            }
        }
    }
    std::printf("statistical detection: %d of %d right (%.1f%%)\n", hits, statistical,
                100.0 * hits / statistical);
    // uchardet 0.0.7 names every legacy form right; the misses are the
    // UTF-16 forms of the two Japanese texts, which have neither a mark nor
    // a NUL byte (4 of 74).  The floor leaves another uchardet's models
    // (Debian 13 has 0.0.8) a tenth of the forms, and fails when the
    // detector, its window or the threshold breaks.
    EXPECT_GE(hits * 100, statistical * 85);
}

TEST(Detect, Decisions) {
    std::mt19937 rng(3);
    std::string noise(4096, '\0');
    for (char &c : noise) c = static_cast<char>(rng() % 255 + 1); // no NUL byte
    std::string counters; // 16-bit numbers: NUL bytes, but no UTF-16 text
    for (int i = 0; i < 2048; ++i) counters += {static_cast<char>(i & 0xFF), static_cast<char>(i >> 8)};
    std::ifstream self("/proc/self/exe", std::ios::binary);
    std::string exe(std::istreambuf_iterator<char>(self), {});
    exe.resize(std::min<std::size_t>(exe.size(), 65536));
    const std::string privet = Encode("ПРИВЕТ", "KOI8-R"), ru = Encode(kSamples[9].text, "CP866");
    const std::string cp1251 = Encode(kSamples[8].text, "CP1251");
    const std::string utf16 = Encode(kSamples[9].text, "UTF-16LE");
    std::string one_control = Encode(kSamples[13].text, "CP1252");
    one_control[50] = '\x01';
    const struct {
        const char *what;
        std::string bytes;
        std::string charset;
        std::string display; // "binary": no text
    } rows[] = {
        {"empty", "", "", "UTF-8"},
        {"UTF-8 before the explicit set", "caf\xC3\xA9", "cp1252", "UTF-8"},
        {"explicit KOI8-R, any spelling", privet, "koi8_R", "KOI8-R"},
        {"explicit IBM866", ru, "IBM866", "CP866"},
        {"explicit set the bytes are invalid in", cp1251, "euc-jp", "windows-1251"},
        {"explicit UTF-16LE without a mark", utf16, "utf16le", "UTF-16LE"},
        {"explicit set iconv lacks", ru, "no-such-set", "CP866"},
        {"one control in 250 characters", one_control, "", "windows-1252"},
        {"a long ASCII head", std::string(40000, 'x') + "\n" + cp1251, "", "windows-1251"},
        {"random bytes without NUL", noise, "", "binary"},
        {"16-bit counters", counters, "", "binary"},
        {"this executable", exe, "", "binary"},
        {"NUL in Latin-1 text", "caf\xE9\0 au lait"s, "", "binary"},
        {"UTF-16 mark, odd length", kBom16le + "A\0B"s, "", "binary"},
        {"UTF-8 mark, invalid UTF-8", kBom8 + "caf\xE9", "", "binary"},
        {"UTF-8 mark, NUL character", kBom8 + "a\0b"s, "", "binary"},
    };
    for (const auto &r : rows) {
        const tx::TextEncoding enc = tx::detect_encoding(Bytes(r.bytes), r.charset);
        EXPECT_EQ(enc.display_name, r.display) << r.what;
        EXPECT_EQ(enc.text(), r.display != "binary") << r.what;
    }
    EXPECT_NE(exe.find('\0'), std::string::npos); // the executable's row is one with NUL bytes
}

} // namespace

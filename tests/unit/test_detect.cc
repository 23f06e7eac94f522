// test_detect.cc - the extended mode's text encoding detection and decoding
//
// Texts written for this test in nine languages are encoded here, with
// iconv, in the sets their writers use, and in UTF-8/16/32 with and
// without a byte-order mark.  Each must be detected and decoded back to the
// text as written.  The rules (mark, UTF-8, ISO-2022-JP escapes, explicit
// set, UTF-32 and the NUL pattern of UTF-16) must be right every time; the
// statistical detector's hits are counted, printed and held to a floor.
#include <gtest/gtest.h>
#include <iconv.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "host/txif/detect.h"

namespace {

namespace tx = vtq::txif;
using std::string_literals::operator""s;

struct Sample {
    const char *text;
    const char *legacy; // the sets the language's texts are written in
};

// Per language a sentence and a paragraph.
const Sample kSamples[] = {
    {"明日の会議は午後三時から第二会議室で行います。資料は事前に共有フォルダへ置いてください。", "CP932 EUC-JP ISO-2022-JP"},
    {"昨年の秋、私たちは小さな町の古い図書館を訪れました。木造の建物は百年以上前に建てられたもので、"
     "床を歩くたびに静かにきしむ音がしました。館長さんは親切な方で、地元の歴史に関する貴重な資料を"
     "見せてくださいました。帰り道、駅前の喫茶店で次はもっと時間をかけて調べようと話し合いました。",
     "CP932 EUC-JP ISO-2022-JP"},
    {"请在下周五之前把报告发给我，我们需要在会议上讨论这些数据。", "GBK GB18030"},
    {"去年夏天，我们一家人去了云南旅游。昆明的天气非常舒服，不冷也不热，到处都是鲜花。我们在大理住了"
     "三天，每天早上沿着洱海骑自行车，看着太阳从山后慢慢升起。离开的时候，孩子们都舍不得走。",
     "GBK GB18030"},
    {"請在下週五之前把報告寄給我，我們需要在會議上討論這些資料。", "BIG5"},
    {"去年暑假，我們全家到花蓮旅行。太魯閣的峽谷非常壯觀，溪水清澈見底，兩旁的山壁高聳入雲。我們在"
     "民宿住了三個晚上，老闆每天早上都會準備豐盛的早餐。回台北的火車上，孩子們一直說下次還要再來。",
     "BIG5"},
    {"다음 주 금요일까지 보고서를 보내 주시면 회의에서 자료를 함께 검토하겠습니다.", "EUC-KR CP949"},
    {"작년 가을에 우리 가족은 경주로 여행을 다녀왔습니다. 불국사와 석굴암을 둘러보고, 저녁에는 첨성대 "
     "주변을 천천히 걸었습니다. 단풍이 한창이라 어디를 가도 붉고 노란 나무들이 가득했습니다.",
     "EUC-KR CP949"},
    {"Пожалуйста, пришлите отчёт до пятницы, чтобы мы успели обсудить его на совещании.", "CP1251 KOI8-R CP866"},
    {"Прошлым летом мы всей семьёй ездили на Байкал. Вода в озере была такой прозрачной, что на глубине "
     "нескольких метров можно было разглядеть каждый камень. Дети до сих пор вспоминают, как впервые "
     "увидели нерпу.",
     "CP1251 KOI8-R CP866"},
    {"Παρακαλώ στείλτε μου την αναφορά μέχρι την Παρασκευή, για να τη συζητήσουμε στη συνάντηση.",
     "ISO-8859-7 CP1253"},
    {"Το περασμένο καλοκαίρι πήγαμε με την οικογένεια στην Κρήτη. Μείναμε σε ένα μικρό χωριό κοντά στη "
     "θάλασσα, όπου οι άνθρωποι ήταν πολύ φιλόξενοι. Τα παιδιά ενθουσιάστηκαν όταν επισκεφτήκαμε την Κνωσό.",
     "ISO-8859-7 CP1253"},
    {"Pourriez-vous m'envoyer le rapport avant vendredi ? Nous devons en discuter lors de la réunion.",
     "CP1252 ISO-8859-1"},
    {"L’été dernier, nous sommes partis en famille dans les Alpes. Chaque matin, nous marchions jusqu’au "
     "lac en suivant un petit sentier bordé de sapins, et l’après-midi, les enfants se baignaient dans "
     "l’eau glacée pendant que nous lisions à l’ombre.",
     "CP1252"},
    {"Könnten Sie mir den Bericht bis Freitag schicken? Wir müssen ihn in der Besprechung durchgehen.",
     "CP1252 ISO-8859-1"},
    {"Letzten Sommer sind wir mit der ganzen Familie an die Ostsee gefahren. Abends gab es frischen Fisch "
     "aus dem Hafen, und zum Nachtisch haben wir uns ein großes Eis gegönnt. Die Woche war viel zu "
     "schnell vorbei.",
     "CP1252 ISO-8859-1"},
    {"¿Podría enviarme el informe antes del viernes? Tenemos que revisarlo en la reunión.", "CP1252 ISO-8859-1"},
    {"El verano pasado fuimos con toda la familia a la costa de Galicia. Por las mañanas paseábamos por "
     "la playa y, después de comer, los niños jugaban en el jardín mientras nosotros descansábamos.",
     "CP1252 ISO-8859-1"},
};

// text (UTF-8) in iconv's encoding to; empty when the set lacks a character.
std::string Encode(const std::string &text, const char *to) {
    iconv_t cd = iconv_open(to, "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) return "";
    std::string out(text.size() * 4 + 16, '\0');
    char *src = const_cast<char *>(text.data()), *dst = out.data();
    std::size_t src_left = text.size(), dst_left = out.size();
    const bool ok = iconv(cd, &src, &src_left, &dst, &dst_left) != static_cast<std::size_t>(-1) &&
                    iconv(cd, nullptr, nullptr, &dst, &dst_left) != static_cast<std::size_t>(-1);
    iconv_close(cd);
    out.resize(out.size() - dst_left);
    return ok ? out : "";
}

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

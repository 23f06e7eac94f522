// detect.cpp - decide a member's text encoding, or that it is no text
//
// uchardet was measured against ICU's detector on texts in nine languages
// and fourteen legacy sets, and on random bytes: it named the right set
// for every sentence, paragraph and page (ICU cannot name CP866, and needs
// a confidence that costs it Russian texts before random bytes stop
// passing), and for more member-name-sized strings.  ICU's detector, told
// which sets to choose from, decides what uchardet cannot: a few words of
// the user's language (see language_pick).  Neither finds UTF-16
// without a byte-order mark reliably; the NUL pattern does.  README ("Text
// encodings") has the figures.
#include "host/txif/detect.h"

#include <unicode/ucsdet.h>
#include <uchardet/uchardet.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

#include "host/conf/charset_names.h"
#include "host/txif/internal.h"

namespace vtq::txif {

bool decode_in_chunks(std::span<const unsigned char> bytes, const char *iconv_name,
                      const std::function<bool(std::string_view)> &piece) {
    LegacyDecoder dec(iconv_name);
    if (!dec.ok()) return false;
    const auto *p = reinterpret_cast<const char *>(bytes.data());
    std::string utf8;
    std::size_t start = 0, read_end = 0;
    while (read_end < bytes.size()) {
        read_end += std::min(kChunk, bytes.size() - read_end);
        const std::size_t n = read_end - start;
        bool bad = false;
        utf8.clear();
        const std::size_t used = dec.decode(p + start, n, piece ? &utf8 : nullptr, &bad);
        if (bad) return false;
        if (n - used > 8) return false; // no character of any set here is that long
        if (piece && !piece(utf8)) return false;
        start += used;
    }
    return start == bytes.size();
}

namespace {

// Counts the characters of decoded UTF-8 that text does not hold: NUL, and
// the other controls (a few in a text are tolerated: a form feed's cousins,
// a stray escape of a terminal listing).
class TextCheck {
public:
    // Takes the next whole characters; false once a NUL character is seen.
    bool take(std::string_view utf8) {
        const auto *p = reinterpret_cast<const unsigned char *>(utf8.data());
        const std::size_t n = utf8.size();
        for (std::size_t i = 0; i < n; ++i) {
            const unsigned char c = p[i];
            if ((c & 0xC0) != 0x80) ++chars_;
            if (c == 0) return false;
            if (c < 0x20) {
                // TAB LF VT FF CR, SUB (the end-of-file mark of old DOS
                // texts) and ESC appear in real texts.
                if (!(c >= 0x09 && c <= 0x0D) && c != 0x1A && c != 0x1B) ++controls_;
            } else if (c == 0x7F) {
                ++controls_;
            } else if (c == 0xC2 && i + 1 < n && p[i + 1] < 0xA0) {
                ++controls_; // C1, U+0080-U+009F
            } else if (c == 0xEF && i + 2 < n && p[i + 1] == 0xBF && p[i + 2] >= 0xBE) {
                ++controls_; // U+FFFE, U+FFFF: a byte order read backwards
            }
        }
        return true;
    }
    bool few_controls() const { return controls_ * 100 <= chars_; }

private:
    uint64_t chars_ = 0, controls_ = 0;
};

// Whether bytes decode strictly in iconv_name without a NUL character and,
// when controls_count, with few other controls.
bool reads_as_text(std::span<const unsigned char> bytes, const char *iconv_name,
                   bool controls_count) {
    TextCheck check;
    if (!decode_in_chunks(bytes, iconv_name, [&](std::string_view s) { return check.take(s); }))
        return false;
    return !controls_count || check.few_controls();
}

TextEncoding text_in(std::string iconv_name, std::string display_name, std::size_t bom_len = 0) {
    return {std::move(iconv_name), std::move(display_name), bom_len};
}

TextEncoding no_text() { return {"", "binary", 0}; }

// Byte-order marks, UTF-32 before UTF-16: FF FE 00 00 starts both.
struct Mark {
    std::string_view bytes;
    const char *iconv_name;
};
using std::string_view_literals::operator""sv;
constexpr Mark kMarks[] = {
    {"\xFF\xFE\0\0"sv, "UTF-32LE"}, {"\0\0\xFE\xFF"sv, "UTF-32BE"}, {"\xEF\xBB\xBF"sv, "UTF-8"},
    {"\xFF\xFE"sv, "UTF-16LE"},     {"\xFE\xFF"sv, "UTF-16BE"},
};

std::string_view as_chars(std::span<const unsigned char> bytes) {
    return {reinterpret_cast<const char *>(bytes.data()), bytes.size()};
}

// 7-bit bytes that switch to JIS X 0208 (ESC $ B, ESC $ @) are the
// ISO-2022-JP of old Japanese mail, not ASCII with stray escapes.
bool iso2022jp(std::span<const unsigned char> bytes) {
    // One search for the escape byte: the text has none, as a rule.
    const std::string_view s = as_chars(bytes);
    const std::size_t esc = s.find('\x1B');
    if (esc == std::string_view::npos) return false;
    const std::string_view from = s.substr(esc);
    if (from.find("\x1B$B") == std::string_view::npos &&
        from.find("\x1B$@") == std::string_view::npos)
        return false;
    return reads_as_text(bytes, "ISO-2022-JP", true);
}

// UTF-32 or UTF-16 without a mark.  Text in them has NUL bytes where ASCII
// (and, in UTF-32, everything) has a zero high byte; in UTF-16 the high
// bytes of a script's characters also take few values (0x04 for Cyrillic,
// 0x30 and 0x4E-0x9F for Japanese), so the byte order is the one whose
// high-byte positions hold fewer distinct values.  Text that does not read
// in the chosen order is no text: binary data with NUL bytes rarely
// decodes without control characters.
TextEncoding unmarked_utf16_32(std::span<const unsigned char> bytes) {
    const std::size_t n = bytes.size();
    if (n % 4 == 0)
        for (const char *name : {"UTF-32LE", "UTF-32BE"})
            if (reads_as_text(bytes, name, true)) return text_in(name, name);
    if (n % 2 != 0) return no_text();
    bool seen[2][256] = {};
    for (std::size_t i = 0; i < n; ++i) seen[i % 2][bytes[i]] = true;
    const auto even = std::count(seen[0], seen[0] + 256, true);
    const auto odd = std::count(seen[1], seen[1] + 256, true);
    const char *name = even < odd ? "UTF-16BE" : "UTF-16LE";
    return reads_as_text(bytes, name, true) ? text_in(name, name) : no_text();
}

// UTF-16 without a mark and without a NUL byte: text of a script with no
// ASCII in it (Japanese, Chinese, Korean), which neither detector takes for
// UTF-16.  Such text is made of few blocks of code units, where random or
// binary bytes spread over all of them; the byte order is the one in which
// nearly every unit lies in those blocks.  At least kScriptUnits units, so
// that chance does not pass for text: about half of all units lie in the
// blocks, and 95% of 16 or more happens once in some 4000 random inputs,
// which must then still read as text.
constexpr std::size_t kScriptUnits = 16;

bool in_script_block(uint16_t u) {
    return (u >= 0x3000 && u <= 0x30FF) || // CJK punctuation, kana
           (u >= 0x4E00 && u <= 0x9FFF) || // CJK ideographs
           (u >= 0xAC00 && u <= 0xD7A3) || // Hangul syllables
           (u >= 0xFF00 && u <= 0xFFEF);   // full-width forms
}

TextEncoding utf16_by_script(std::span<const unsigned char> bytes) {
    const std::size_t units = bytes.size() / 2;
    if (bytes.size() % 2 != 0 || units < kScriptUnits) return no_text();
    for (const bool big_endian : {false, true}) {
        std::size_t in_blocks = 0;
        for (std::size_t i = 0; i < units; ++i) {
            const unsigned hi = bytes[2 * i + (big_endian ? 0 : 1)];
            const unsigned lo = bytes[2 * i + (big_endian ? 1 : 0)];
            in_blocks += in_script_block(static_cast<uint16_t>(hi << 8 | lo)) ? 1 : 0;
        }
        const char *name = big_endian ? "UTF-16BE" : "UTF-16LE";
        if (in_blocks * 100 >= units * 95 && reads_as_text(bytes, name, true))
            return text_in(name, name);
    }
    return no_text();
}

// How much the statistical detector sees: enough text for any of its
// probers to be sure, and a bound on its cost (its single-byte probers read
// some 6 MB/s).  It starts at the first non-ASCII byte, so that a long
// ASCII head does not leave it nothing to decide on.
constexpr std::size_t kDetectWindow = 16 * 1024;

struct UchardetDeleter {
    void operator()(uchardet *ud) const { uchardet_delete(ud); }
};

// The sets of a language whose short texts uchardet takes for another
// script's, in ICU's names.  Russian is the one measured: six letters of
// KOI8-R came out as windows-1255.
// The language's sets that ICU can name come first; the others (CP866)
// only keep uchardet's answer when it names them.
struct LanguageSets {
    std::string_view language;
    std::string_view sets[4];
    int icu_names; // sets[0..icu_names)
};
constexpr LanguageSets kLanguageSets[] = {
    {"Russian", {"KOI8-R", "windows-1251", "ISO-8859-5", "IBM866"}, 3},
};

const LanguageSets *sets_of(std::string_view language) {
    for (const LanguageSets &l : kLanguageSets)
        if (l.language == language) return &l;
    return nullptr;
}

bool among(const LanguageSets &l, std::string_view display_name) {
    for (std::string_view set : l.sets) {
        const auto known = conf::resolve_charset(set);
        if (known && known->display_name == display_name) return true;
    }
    return false;
}

// ICU's confidence (0-100) in a set of the language before it overrides
// uchardet's answer.
constexpr int32_t kLanguageConfidence = 50;

struct IcuDeleter {
    void operator()(UCharsetDetector *d) const { ucsdet_close(d); }
};

// ICU's answer among the language's sets: its n-gram recognisers score
// the letters' trigrams against the language's commonest ones, which a
// word or two already shows.  Empty when it names none of them (CP866,
// which it cannot name, stays with uchardet).
std::string_view language_pick(std::span<const unsigned char> bytes, const LanguageSets &l) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<UCharsetDetector, IcuDeleter> det(ucsdet_open(&status));
    if (U_FAILURE(status)) return {};
    ucsdet_setText(det.get(), reinterpret_cast<const char *>(bytes.data()),
                   static_cast<int32_t>(bytes.size()), &status);
    int32_t found = 0;
    const UCharsetMatch **matches = ucsdet_detectAll(det.get(), &found, &status);
    if (U_FAILURE(status)) return {};
    // Best first: the first match that is one of the language's sets, when
    // ICU is sure enough of it.
    for (int32_t i = 0; i < found; ++i) {
        const char *name = ucsdet_getName(matches[i], &status);
        const int32_t confidence = ucsdet_getConfidence(matches[i], &status);
        if (U_FAILURE(status) || name == nullptr) return {};
        for (int k = 0; k < l.icu_names; ++k)
            if (l.sets[k] == name) return confidence >= kLanguageConfidence ? l.sets[k] : "";
    }
    return {};
}

TextEncoding detected(std::span<const unsigned char> bytes, std::string_view language) {
    const auto first =
        std::find_if(bytes.begin(), bytes.end(), [](unsigned char c) { return c >= 0x80; });
    const std::size_t start = static_cast<std::size_t>(first - bytes.begin());
    const auto window = bytes.subspan(start, std::min(kDetectWindow, bytes.size() - start));

    std::unique_ptr<uchardet, UchardetDeleter> ud(uchardet_new());
    if (!ud) return no_text();
    if (uchardet_handle_data(ud.get(), reinterpret_cast<const char *>(window.data()),
                             window.size()) != 0)
        return no_text();
    uchardet_data_end(ud.get());
    const char *name = uchardet_get_charset(ud.get());
    auto set = name != nullptr && *name != '\0' ? conf::resolve_charset(name) : std::nullopt;
    if (const LanguageSets *l = sets_of(language);
        l != nullptr && (!set || !among(*l, set->display_name))) {
        const auto high =
            std::count_if(window.begin(), window.end(), [](unsigned char c) { return c >= 0x80; });
        if (static_cast<std::size_t>(high) < kShortText)
            if (const std::string_view pick = language_pick(bytes, *l); !pick.empty())
                if (const auto picked = conf::resolve_charset(pick);
                    picked && reads_as_text(bytes, picked->iconv_name.c_str(), true))
                    return text_in(picked->iconv_name, picked->display_name);
    }
    if (!set || !reads_as_text(bytes, set->iconv_name.c_str(), true)) return utf16_by_script(bytes);
    return text_in(set->iconv_name, set->display_name);
}

bool names_no_charset(std::string_view name) {
    return name.empty() || conf::charset_key(name) == "auto";
}

} // namespace

TextEncoding detect_encoding(std::span<const unsigned char> bytes,
                             std::string_view explicit_charset, std::string_view language) {
    const std::string_view s = as_chars(bytes);
    for (const Mark &m : kMarks)
        if (s.substr(0, m.bytes.size()) == m.bytes) {
            const auto rest = bytes.subspan(m.bytes.size());
            if (!reads_as_text(rest, m.iconv_name, false)) return no_text();
            return text_in(m.iconv_name, m.iconv_name, m.bytes.size());
        }

    if (utf8_text(bytes))
        return iso2022jp(bytes) ? text_in("ISO-2022-JP", "ISO-2022-JP") : text_in("UTF-8", "UTF-8");
    const bool has_nul = !bytes.empty() && std::memchr(bytes.data(), 0, bytes.size()) != nullptr;

    if (!names_no_charset(explicit_charset)) {
        const auto set = conf::resolve_charset(explicit_charset);
        if (set && reads_as_text(bytes, set->iconv_name.c_str(), true))
            return text_in(set->iconv_name, set->display_name);
    }
    if (has_nul) return unmarked_utf16_32(bytes);
    return detected(bytes, language);
}

} // namespace vtq::txif

// charset_names.h - the names a character set goes by, and what iconv reads it as
//
// One table for every place that takes a character set's name from a user
// or from the encoding detector: the converter's source names, the text
// extraction's explicit and detected encodings, and ziptext's --charset.
// A name is compared case-insensitively with '-', '_', '.' and ' ' left
// out, so "Shift-JIS", "shift_jis" and "SHIFTJIS" are one name.  A family
// is read as the superset its files use in practice (Shift_JIS as CP932,
// EUC-KR as CP949): they read the narrower set's text and the vendor
// extensions too (a few characters, such as Shift_JIS's wave dash, come
// out as the code point Windows maps them to).
// A name that is not in the table goes to iconv as it stands.
//
// Header-only, like outcode.h, so that the text extraction and the tool use
// the table without libvtq_conf exporting anything beyond its C interface.
// The six documented source group names are in it as aliases, but the
// converter matches them exactly first and keeps reading them as
// documented.
#pragma once

#include <iconv.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vtq::conf {

struct CharsetFamily {
    std::string_view aliases; // normalised names (see charset_key), space-separated
    const char *iconv_name;   // what iconv_open is given
    const char *display_name; // how messages and member events name it
};

inline constexpr CharsetFamily kCharsetFamilies[] = {
    {"utf8", "UTF-8", "UTF-8"},
    {"utf16", "UTF-16", "UTF-16"},
    {"utf16le", "UTF-16LE", "UTF-16LE"},
    {"utf16be", "UTF-16BE", "UTF-16BE"},
    {"utf32", "UTF-32", "UTF-32"},
    {"utf32le", "UTF-32LE", "UTF-32LE"},
    {"utf32be", "UTF-32BE", "UTF-32BE"},
    {"shiftjis sjis cp932 ms932 windows31j mskanji xsjis csshiftjis", "CP932", "Shift_JIS"},
    {"eucjp ujis xeucjp cseucpkdfmtjapanese", "EUC-JP", "EUC-JP"},
    {"iso2022jp csiso2022jp jis", "ISO-2022-JP", "ISO-2022-JP"},
    {"gbk cp936 ms936 windows936 gb2312 euccn xgbk chinesegbk csgb2312", "GBK", "GBK"},
    {"gb18030", "GB18030", "GB18030"},
    {"big5 cp950 ms950 big5tw csbig5 xxbig5 chinesebig5", "BIG5", "Big5"},
    {"big5hkscs", "BIG5-HKSCS", "Big5-HKSCS"},
    {"euckr ksc5601 ksc56011987 ksx1001 csksc56011987 cseuckr koreanksc", "CP949", "EUC-KR"},
    {"cp949 uhc ms949 windows949", "CP949", "CP949"},
    {"cp437 ibm437 437 cspc8codepage437", "CP437", "CP437"},
    {"cp850 ibm850 850 cspc850multilingual", "CP850", "CP850"},
    {"cp866 ibm866 866 csibm866", "CP866", "CP866"},
    {"koi8r cskoi8r koi8", "KOI8-R", "KOI8-R"},
    {"koi8u", "KOI8-U", "KOI8-U"},
    {"latin1 iso88591 l1 cp819 ibm819 isoir100 csisolatin1", "ISO-8859-1", "ISO-8859-1"},
    {"iso88598i csiso88598i", "ISO-8859-8", "ISO-8859-8"},
    {"cp1250 windows1250 win1250 xcp1250", "CP1250", "windows-1250"},
    {"cp1251 windows1251 win1251 xcp1251", "CP1251", "windows-1251"},
    {"cp1252 windows1252 win1252 xcp1252 ansi msansi", "CP1252", "windows-1252"},
    {"cp1253 windows1253 win1253 xcp1253", "CP1253", "windows-1253"},
    {"cp1254 windows1254 win1254 xcp1254", "CP1254", "windows-1254"},
    {"cp1255 windows1255 win1255 xcp1255", "CP1255", "windows-1255"},
    {"cp1256 windows1256 win1256 xcp1256", "CP1256", "windows-1256"},
    {"cp1257 windows1257 win1257 xcp1257", "CP1257", "windows-1257"},
    {"cp1258 windows1258 win1258 xcp1258", "CP1258", "windows-1258"},
    {"macintosh mac macroman xmacroman csmacintosh", "MACINTOSH", "macintosh"},
    {"maccyrillic xmaccyrillic", "MAC-CYRILLIC", "x-mac-cyrillic"},
};

// name lower-cased, without '-', '_', '.' and ' '; empty for a name longer
// than any that means a character set (64 bytes).
inline std::string charset_key(std::string_view name) {
    std::string key;
    if (name.size() > 64) return key;
    for (char c : name) {
        if (c == '-' || c == '_' || c == '.' || c == ' ') continue;
        key += c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return key;
}

// The family name belongs to, or null when the table does not know it.
inline const CharsetFamily *find_charset_family(std::string_view name) {
    const std::string key = charset_key(name);
    if (key.empty()) return nullptr;
    for (const CharsetFamily &f : kCharsetFamilies) {
        std::string_view rest = f.aliases;
        while (!rest.empty()) {
            const std::size_t space = rest.find(' ');
            if (rest.substr(0, space) == key) return &f;
            rest = space == std::string_view::npos ? std::string_view{} : rest.substr(space + 1);
        }
    }
    return nullptr;
}

struct ResolvedCharset {
    std::string iconv_name;
    std::string display_name;
};

// What a user's or the detector's name reads as: the table's family, else
// the name itself when iconv can decode it to UTF-8; nothing when neither.
inline std::optional<ResolvedCharset> resolve_charset(std::string_view name) {
    if (const CharsetFamily *f = find_charset_family(name))
        return ResolvedCharset{f->iconv_name, f->display_name};
    std::string as_is(name);
    if (as_is.empty() || as_is.find('\0') != std::string::npos) return std::nullopt;
    iconv_t cd = iconv_open("UTF-8", as_is.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
    iconv_close(cd);
    return ResolvedCharset{as_is, as_is};
}

} // namespace vtq::conf

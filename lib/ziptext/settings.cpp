// settings.cpp - check a caller's zt_options and turn them into TxtOptions
#include "lib/ziptext/settings.h"

#include <strings.h>

#include <cstdlib>
#include <cstring>
#include <string_view>

#include "host/conf/charset_names.h"

namespace ziptext {
namespace {

bool same(std::string_view a, const char *b) {
    return a.size() == std::strlen(b) && strncasecmp(a.data(), b, a.size()) == 0;
}

// Output encodings (case-insensitive) and the converter's OutCode for each.
struct NamedCode {
    const char *name;
    uint32_t code;
};
constexpr NamedCode kEncodings[] = {
    {"utf-8", 0},    {"utf8", 0},      {"utf-16le", 1},  {"utf16le", 1},    {"utf-16be", 2},
    {"utf16be", 2},  {"shift_jis", 3}, {"sjis", 3},      {"cp932", 3},      {"windows-31j", 3},
    {"euc-jp", 4},   {"eucjp", 4},     {"gbk", 5},       {"cp936", 5},      {"big5", 6},
    {"euc-kr", 7},   {"euckr", 7},     {"cp949", 7},     {"iso-8859-1", 8}, {"latin1", 8},
    {"latin-1", 8},  {"utf-8-bom", 9}, {"utf-8-sig", 9}, {"utf8bom", 9},    {"utf-32le", 10},
    {"utf32le", 10}, {"utf-32be", 11}, {"utf32be", 11},
};

struct Alias {
    const char *alias;
    const char *canonical;
};
constexpr Alias kLanguages[] = {
    {"english", "English"},
    {"en", "English"},
    {"japanese", "Japanese"},
    {"ja", "Japanese"},
    {"korean", "Korean"},
    {"ko", "Korean"},
    {"simplified chinese", "Simplified Chinese"},
    {"zh-cn", "Simplified Chinese"},
    {"zh-hans", "Simplified Chinese"},
    {"traditional chinese", "Traditional Chinese"},
    {"zh-tw", "Traditional Chinese"},
    {"zh-hant", "Traditional Chinese"},
    {"russian", "Russian"},
    {"ru", "Russian"},
};

// The documented mode reads names in one of six groups.  A name of a
// family that one of them decodes stands for that group; the Windows
// spellings of Shift_JIS name WINDOWS31J, as the group list does.  UTF-8
// (and "auto") leave the choice to the language.
bool strict_group(std::string_view name, std::string *group) {
    if (name.empty() || same(name, "auto")) {
        group->clear();
        return true;
    }
    const vtq::conf::CharsetFamily *f = vtq::conf::find_charset_family(name);
    if (f == nullptr) return false;
    const std::string_view iconv = f->iconv_name;
    const std::string key = vtq::conf::charset_key(name);
    if (iconv == "UTF-8")
        group->clear();
    else if (iconv == "ISO-8859-1")
        *group = "ISO-8859-1";
    else if (iconv == "GBK")
        *group = "ChineseGBK";
    else if (iconv == "BIG5")
        *group = "ChineseBIG5";
    else if (iconv == "CP949")
        *group = "KoreanKSC";
    else if (iconv == "CP932")
        *group =
            key == "cp932" || key == "windows31j" || key == "ms932" ? "WINDOWS31J" : "Shift_JIS";
    else
        return false;
    return true;
}

// A NUL-terminated field's text; false when the field has no NUL.
bool field(const char *f, std::size_t size, std::string_view *out) {
    const void *nul = std::memchr(f, 0, size);
    if (nul == nullptr) return false;
    *out = std::string_view(f, static_cast<std::size_t>(static_cast<const char *>(nul) - f));
    return true;
}

constexpr uint32_t kKnownFlags =
    ZT_STRICT | ZT_STOP_ON_ERROR | ZT_NO_LABELS | ZT_SIZE_LIMIT | ZT_LOG | ZT_FAILED_ONLY;

} // namespace

const char *language_of_locale(const char *locale) {
    const std::string_view l = locale != nullptr ? locale : "";
    auto starts = [&](std::string_view p) { return l.substr(0, p.size()) == p; };
    if (starts("ja")) return "Japanese";
    if (starts("ko")) return "Korean";
    if (starts("zh_CN") || starts("zh_SG")) return "Simplified Chinese";
    if (starts("zh_TW") || starts("zh_HK")) return "Traditional Chinese";
    if (starts("ru")) return "Russian";
    return "English";
}

bool read_settings(const zt_options *given, Settings *s, std::string *why) {
    zt_options o{};
    if (given != nullptr) {
        if (given->size < 8) {
            *why = "zt_options.size is below 8";
            return false;
        }
        std::memcpy(&o, given, given->size < sizeof o ? given->size : sizeof o);
    }
    if ((o.flags & ~kKnownFlags) != 0) {
        *why = "unknown bits in zt_options.flags";
        return false;
    }
    s->strict = (o.flags & ZT_STRICT) != 0;
    s->stop_on_error = (o.flags & ZT_STOP_ON_ERROR) != 0;
    s->no_labels = (o.flags & ZT_NO_LABELS) != 0;
    s->log = (o.flags & ZT_LOG) != 0;
    s->size_limit = (o.flags & ZT_SIZE_LIMIT) != 0;
    s->failed_only = (o.flags & ZT_FAILED_ONLY) != 0;
    if (s->size_limit && o.max_size > 0xFFFFFFFFu) {
        *why = "the size limit is above 4294967295 bytes";
        return false;
    }
    s->max_size = static_cast<uint32_t>(o.max_size);
    static constexpr uint32_t kEol[] = {VTQ_FMT_EOL_LF, VTQ_FMT_EOL_CRLF, VTQ_FMT_EOL_CR};
    if (o.eol >= sizeof kEol / sizeof kEol[0]) {
        *why = "unknown end-of-line mode";
        return false;
    }
    s->eol_flag = kEol[o.eol];

    std::string_view charset, language, encoding;
    if (!field(o.charset, sizeof o.charset, &charset) ||
        !field(o.language, sizeof o.language, &language) ||
        !field(o.encoding, sizeof o.encoding, &encoding)) {
        *why = "a name in zt_options is not NUL-terminated";
        return false;
    }
    if (s->strict) {
        if (!strict_group(charset, &s->charset)) {
            *why = "character set '" + std::string(charset) +
                   "' is not one of the documented groups (iso-8859-1, gbk, big5, euc-kr, "
                   "shift_jis, cp932)";
            return false;
        }
    } else if (!charset.empty() && !same(charset, "auto")) {
        if (!vtq::conf::resolve_charset(charset)) {
            *why = "unknown character set '" + std::string(charset) + "'";
            return false;
        }
        s->charset = charset;
        s->name_charset = charset;
    }
    s->language.clear();
    for (const Alias &a : kLanguages)
        if (same(language, a.alias)) s->language = a.canonical;
    if (s->language.empty() && !language.empty()) {
        *why = "unknown language '" + std::string(language) + "'";
        return false;
    }
    // The documented mode knows five languages; Russian (names in cp866,
    // as DOS and Windows archivers in Russian wrote them) is the extended
    // mode's.
    if (s->strict && s->language == "Russian") {
        *why = "the language 'Russian' needs the extended mode (not with strict)";
        return false;
    }
    if (language.empty() && !s->strict) {
        const char *locale = nullptr;
        for (const char *var : {"LC_ALL", "LC_CTYPE", "LANG"}) {
            locale = std::getenv(var);
            if (locale != nullptr && *locale != '\0') break;
        }
        s->language = language_of_locale(locale);
    }
    bool found = encoding.empty();
    for (const NamedCode &e : kEncodings)
        if (!found && same(encoding, e.name)) {
            s->out_code = e.code;
            found = true;
        }
    if (!found) {
        *why = "unknown output encoding '" + std::string(encoding) + "'";
        return false;
    }
    if (s->strict && o.password != nullptr) {
        *why = "the documented behaviour takes no password";
        return false;
    }
    s->password = o.password;
    s->password_len = o.password_len;
    s->archive_name = o.archive_name;
    s->on_member = o.on_member;
    s->on_progress = o.on_progress;
    s->user = o.user;
    return true;
}

TxtOptions txt_options(const Settings &s, uint32_t mode) {
    TxtOptions t{};
    // Both names were checked against tables of names far below 256 bytes.
    std::memcpy(t.Charset, s.charset.data(), std::min(s.charset.size(), sizeof t.Charset - 1));
    std::memcpy(t.Language, s.language.data(), s.language.size());
    t.OutCode = s.out_code;
    t.FormatFlags = s.eol_flag;
    if (s.size_limit) {
        t.FormatFlags |= VTQ_FMT_SIZE_LIMIT;
        t.MaxSize = s.max_size;
    }
    if (s.log) t.FormatFlags |= VTQ_FMT_LOG;
    t.ModeFlags = VTQ_MODE_ENABLED | mode;
    if (!s.stop_on_error) t.ModeFlags |= VTQ_MODE_KEEP_GOING;
    if (s.no_labels) t.ModeFlags |= VTQ_MODE_NO_LABELS;
    if (!s.strict) t.ModeFlags |= VTQ_MODE_EXTENDED;
    return t;
}

} // namespace ziptext

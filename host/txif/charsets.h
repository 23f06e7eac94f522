// charsets.h - which character set the host reads legacy (non-UTF-8) text in
//
// Member names and member texts that are not valid UTF-8 are read in one of
// six character set groups, chosen from TxtOptions the same way for both:
// Charset when it names a group exactly, else the default of Language, else
// Shift_JIS.  Header-only so that the text extraction and the ziptext tool
// agree on the rule without one exporting it to the other.
#pragma once

#include <cstring>
#include <string_view>

#include "vtq/types.h"

namespace vtq::txif {

// A character set group and the iconv name that decodes it.  Shift_JIS and
// WINDOWS31J both decode as CP932: files labelled Shift_JIS in practice use
// the Windows extensions, and CP932 is a superset of plain Shift_JIS.
struct CharsetGroup {
    std::string_view name;
    const char *iconv_name;
};

inline constexpr CharsetGroup kCharsetGroups[] = {
    {"ISO-8859-1", "ISO-8859-1"}, {"ChineseGBK", "GBK"},  {"ChineseBIG5", "BIG5"},
    {"KoreanKSC", "CP949"},       {"Shift_JIS", "CP932"}, {"WINDOWS31J", "CP932"},
};

struct LanguageDefault {
    std::string_view language;
    std::string_view group;
};

inline constexpr LanguageDefault kLanguageDefaults[] = {
    {"English", "ISO-8859-1"},
    {"Japanese", "Shift_JIS"},
    {"Korean", "KoreanKSC"},
    {"Simplified Chinese", "ChineseGBK"},
    {"Traditional Chinese", "ChineseBIG5"},
};

// The bounded length of a fixed-size NUL-terminated field.
inline std::string_view field_text(const char *field, std::size_t size) {
    const void *nul = std::memchr(field, 0, size);
    return {field, nul ? static_cast<std::size_t>(static_cast<const char *>(nul) - field) : size};
}

// The group for opts: Charset when it is one of the six names (compared
// byte for byte, case-sensitive), else Language's default (also exact),
// else Shift_JIS.  Never fails.
inline const CharsetGroup &source_group(const TxtOptions &opts) {
    std::string_view charset = field_text(opts.Charset, sizeof opts.Charset);
    for (const CharsetGroup &g : kCharsetGroups)
        if (g.name == charset) return g;
    std::string_view language = field_text(opts.Language, sizeof opts.Language);
    std::string_view wanted = "Shift_JIS";
    for (const LanguageDefault &d : kLanguageDefaults)
        if (d.language == language) wanted = d.group;
    for (const CharsetGroup &g : kCharsetGroups)
        if (g.name == wanted) return g;
    return kCharsetGroups[4]; // unreachable: every default names a group
}

// True when opts.Charset names one of the six groups, which turns off
// reading valid UTF-8 as UTF-8 for member names.
inline bool charset_explicit(const TxtOptions &opts) {
    std::string_view charset = field_text(opts.Charset, sizeof opts.Charset);
    for (const CharsetGroup &g : kCharsetGroups)
        if (g.name == charset) return true;
    return false;
}

} // namespace vtq::txif

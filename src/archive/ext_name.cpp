// ext_name.cpp - member names decoded to UTF-8 in extended mode (see
// ext_name.h)
//
// A legacy name goes once through the host's converter, asked for UTF-8.
// The converter puts a substitute where it cannot read the source; the
// substitute asked for here is a control character that no decoded name
// keeps, so that its presence says the name did not decode, and such a
// name is shown byte for byte instead, with its non-ASCII bytes as "%XX":
// two names that differ in bytes the set cannot read stay two names.
#include "archive/ext_name.h"

#include <cstring>
#include <string_view>

#include "archive/ext_read.h"
#include "archive/member_decode.h"

namespace vtq::ext {
namespace {

constexpr uint32_t kFlagUtf8 = 0x0800;
constexpr uint32_t kUnicodePathId = 0x7075;
constexpr uint32_t kUnicodePathVersion = 1;
constexpr size_t kUnicodePathHeader = 5; // version, CRC-32 of the stored name

// The set of a language's legacy names; CP437 for every other language.
struct LanguageSet {
    std::string_view language;
    const char *set;
};
constexpr LanguageSet kLanguageSets[] = {
    {"Japanese", "CP932"},           {"Korean", "CP949"},  {"Simplified Chinese", "GBK"},
    {"Traditional Chinese", "BIG5"}, {"Russian", "CP866"},
};
constexpr char kFormatSet[] = "CP437";

constexpr uint32_t kOutUtf8 = 0; // the OutCode of UTF-8
constexpr char kUndecodable = 0x1A;

// The length of the well-formed UTF-8 sequence at p (n bytes left), 0 when
// none starts there: no overlong forms, surrogates or code points past
// U+10FFFF.
size_t SequenceAt(const unsigned char *p, size_t n) {
    const unsigned c = p[0];
    if (c < 0x80) return 1;
    size_t len = 0;
    unsigned lo = 0x80, hi = 0xBF; // the second byte's range
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        if (c == 0xE0) lo = 0xA0;
        if (c == 0xED) hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        if (c == 0xF0) lo = 0x90;
        if (c == 0xF4) hi = 0x8F;
    } else {
        return 0;
    }
    if (n < len || p[1] < lo || p[1] > hi) return 0;
    for (size_t i = 2; i < len; ++i)
        if (p[i] < 0x80 || p[i] > 0xBF) return 0;
    return len;
}

bool ValidUtf8(const unsigned char *p, size_t n) {
    for (size_t i = 0; i < n;) {
        const size_t k = SequenceAt(p + i, n - i);
        if (k == 0) return false;
        i += k;
    }
    return true;
}

// Writes p[0..n) to out: ASCII as it is, well-formed UTF-8 sequences as
// they are when keep_utf8, every other byte as "%XX".  Returns the bytes
// written, at most 3n.
size_t Escape(const unsigned char *p, size_t n, bool keep_utf8, char *out) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    size_t len = 0;
    for (size_t i = 0; i < n;) {
        const size_t k = keep_utf8 ? SequenceAt(p + i, n - i) : p[i] < 0x80 ? 1 : 0;
        if (k > 0) {
            std::memcpy(out + len, p + i, k);
            len += k;
            i += k;
            continue;
        }
        out[len++] = '%';
        out[len++] = kHex[p[i] >> 4];
        out[len++] = kHex[p[i] & 15];
        ++i;
    }
    return len;
}

// The UTF-8 name of e's Unicode Path extra field, up to its first NUL, with
// its length in *len: null when there is none, or it is not of version 1,
// or it was made for another name (its CRC-32 is not the stored name's: a
// tool renamed the member and left the field alone), or it is empty.
const unsigned char *UnicodePath(const Entry &e, size_t *len) {
    Reader records(e.extra, e.extra_len);
    while (const unsigned char *head = records.Take(4)) {
        const size_t size = Le16(head + 2);
        const unsigned char *data = records.Take(size);
        if (data == nullptr) return nullptr;
        if (Le16(head) != kUnicodePathId || size <= kUnicodePathHeader ||
            data[0] != kUnicodePathVersion || Le32(data + 1) != Crc32(0, e.name, e.name_len))
            continue;
        const unsigned char *name = data + kUnicodePathHeader;
        const void *nul = std::memchr(name, 0, size - kUnicodePathHeader);
        *len = nul != nullptr ? static_cast<size_t>(static_cast<const unsigned char *>(nul) - name)
                              : size - kUnicodePathHeader;
        return *len > 0 ? name : nullptr;
    }
    return nullptr;
}

// Whether the NUL-terminated s is "auto", in any case.
bool IsAuto(const char *s) {
    static constexpr char kAuto[] = "auto";
    for (size_t i = 0; i < sizeof kAuto; ++i) {
        const char c = s[i] >= 'A' && s[i] <= 'Z' ? static_cast<char>(s[i] - 'A' + 'a') : s[i];
        if (c != kAuto[i]) return false;
    }
    return true;
}

// The set that names without UTF-8 are read in (see DecodeName).
const char *LegacySet(const TxtOptions &opts, const VtqExtension &record) {
    if (record.NameCharset[0] != '\0') return record.NameCharset;
    const size_t charset_len = strnlen(opts.Charset, sizeof opts.Charset);
    if (charset_len > 0 && charset_len < sizeof opts.Charset && !IsAuto(opts.Charset))
        return opts.Charset;
    const std::string_view language(opts.Language, strnlen(opts.Language, sizeof opts.Language));
    for (const LanguageSet &l : kLanguageSets)
        if (language == l.language) return l.set;
    return kFormatSet;
}

// Converts p[0..n) (n > 0), read in set, to UTF-8 at out, which has room
// for 4n bytes.  Returns the bytes produced; 0 when the converter cannot
// be set up for the set, or the set does not decode every byte into a
// character other than NUL.  Never inlined: the converter's records take
// some 21 KiB of stack, which must not stay in the walk's frame while a
// member is with the host.
[[gnu::noinline]] size_t Convert(const unsigned char *p, size_t n, const char *set,
                                 const TxtOptions &opts, char *out) {
    ConvParams params;
    std::memset(&params, 0, sizeof params);
    params.OutCode = kOutUtf8;
    params.TextConv = 1;
    params.Subst[0] = kUndecodable;
    params.Subst2[0] = kUndecodable;
    ConvSource source{0, 0, 1};
    ConvState st;
    if (cconvInitConvert(&st, &params, &opts) != 0) return 0;
    size_t produced = 0;
    if (cconvChgCharset(&st, &source, set) == 0) {
        const uint32_t cap = static_cast<uint32_t>(4 * n);
        st.Src = reinterpret_cast<const char *>(p);
        st.Zero0 = 0;
        st.SrcLen = static_cast<uint32_t>(n);
        st.Zero1 = 0;
        st.Dst = out;
        st.Produced = 0;
        st.DstCap = cap;
        st.Zero2 = 0;
        if (cconvConvert(&st) == 0 && st.Produced <= cap) produced = st.Produced;
    }
    cconvTermConvert(&st);
    if (std::memchr(out, kUndecodable, produced) != nullptr ||
        std::memchr(out, 0, produced) != nullptr)
        return 0;
    return produced;
}

} // namespace

uint32_t DecodeName(const Entry &e, const TxtOptions &opts, const VtqExtension &record,
                    HostBuffer *out, const char **stored) {
    const unsigned char *from = e.name;
    size_t n = e.name_len;
    bool utf8 = (e.flags & kFlagUtf8) != 0;
    if (!utf8) {
        size_t len = 0;
        if (const unsigned char *name = UnicodePath(e, &len)) {
            from = name;
            n = len;
            utf8 = true;
        }
    }
    // Most tools today write UTF-8 without saying so; a name in a legacy
    // set is seldom valid UTF-8 by chance.
    if (!utf8) utf8 = ValidUtf8(e.name, e.name_len);
    // The decoded name takes at most 4 bytes per byte (3 when escaped).
    const size_t room = 4 * n + 1;
    out->reset(VTQ_malloc(room + e.name_len + 1));
    if (!*out) return VTQ_E_NO_MEMORY;
    char *text = out->as<char>();
    char *raw = text + room;
    if (e.name_len > 0) std::memcpy(raw, e.name, e.name_len);
    raw[e.name_len] = '\0';
    size_t len = utf8 ? 0 : Convert(e.name, e.name_len, LegacySet(opts, record), opts, text);
    if (len == 0) len = Escape(from, n, utf8, text);
    text[len] = '\0';
    *stored = raw;
    return VTQ_OK;
}

} // namespace vtq::ext

// ext_name.cpp - member names decoded to UTF-8 in extended mode (see
// ext_name.h)
//
// A name that is not ASCII goes through the host's converter, asked for
// UTF-8: read as UTF-8 first, then, unless the entry says it is UTF-8, in
// the legacy set.  The converter puts a substitute where it cannot read
// the source; the substitute asked for here is a control character that no
// decoded name keeps, so that its presence says the name did not decode,
// and such a name is shown byte for byte instead, with its non-ASCII bytes
// as "%XX": two names that differ in bytes the set cannot read stay two
// names.
#include "archive/ext_name.h"

#include <algorithm>
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
constexpr char kUtf8[] = "UTF-8";

// Writes p[0..n) to out, every non-ASCII byte as "%XX".  Returns the bytes
// written, at most 3n.
size_t Escape(const unsigned char *p, size_t n, char *out) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    size_t len = 0;
    for (size_t i = 0; i < n; ++i) {
        if (p[i] < 0x80) {
            out[len++] = static_cast<char>(p[i]);
            continue;
        }
        out[len++] = '%';
        out[len++] = kHex[p[i] >> 4];
        out[len++] = kHex[p[i] & 15];
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
// be set up for the set, or the set does not decode every byte.  Never
// inlined: the converter's records take some 21 KiB of stack, which must
// not stay in the walk's frame while a member is with the host.
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
    if (std::memchr(out, kUndecodable, produced) != nullptr) return 0;
    return produced;
}

} // namespace

uint32_t DecodeName(const Entry &e, const TxtOptions &opts, const VtqExtension &record,
                    HostBuffer *out, const char **stored, const char **charset) {
    *charset = nullptr;
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
    // The decoded name takes at most 4 bytes per byte (3 when escaped).
    const size_t room = 4 * n + 1;
    out->reset(VTQ_malloc(room + e.name_len + 1));
    if (!*out) return VTQ_E_NO_MEMORY;
    char *text = out->as<char>();
    char *raw = text + room;
    if (e.name_len > 0) std::memcpy(raw, e.name, e.name_len);
    raw[e.name_len] = '\0';
    *stored = raw;
    // An ASCII name is itself; Escape copies it.  Most tools today write
    // UTF-8 without saying so, and a name in a legacy set is seldom valid
    // UTF-8 by chance: UTF-8 is tried before the legacy set.
    size_t len = 0;
    if (std::find_if(from, from + n, [](unsigned char c) { return c >= 0x80; }) != from + n) {
        len = Convert(from, n, kUtf8, opts, text);
        if (len > 0) {
            *charset = "UTF-8";
        } else if (!utf8) {
            const char *set = LegacySet(opts, record);
            len = Convert(from, n, set, opts, text);
            if (len > 0) *charset = set;
        }
    }
    if (len == 0) len = Escape(from, n, text);
    text[len] = '\0';
    return VTQ_OK;
}

} // namespace vtq::ext

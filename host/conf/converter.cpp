// converter.cpp - the stand-in host's character converter, on iconv
//
// One conversion is init -> change_charset -> convert (once or more) ->
// term.  Everything it needs between those calls lives in the caller's
// ConvState::Private, so conversions on different threads share nothing.
//
// The filter runs a whole conversion for every label, member name and line
// break of a composed output, tens of thousands per archive of small files.
// Opening iconv descriptors (a module search, several allocations) was
// most of that work, so each thread keeps the descriptors its finished
// conversions released and hands them to its next ones; and the ASCII
// bytes of the six source groups, which all of them read as themselves,
// are decoded here rather than by iconv.
#include <cstddef>
#include <cstring>
#include <new>

#include "host/conf/charset_names.h"
#include "host/conf/codec.h"
#include "host/conf/conf.h"

namespace vtq::conf {

namespace {

constexpr uint32_t kMagic = 0x434f4e56; // "CONV"
constexpr char32_t kCr = 0x0D, kLf = 0x0A;

// The converter's record inside ConvState::Private.
struct Conv {
    uint32_t magic;
    const OutEncoding *enc;
    iconv_t to;   // UTF-32LE -> output, for the legacy output sets
    iconv_t from; // source -> UTF-32LE, for an iconv source
    SourceKind source;
    bool ascii_identity; // an iconv source that reads bytes below 0x80 as themselves
    bool bom_pending;    // the first-output flag, until a convert uses it
    bool line_breaks;    // LineBreakConv
    bool utf8_rule;      // read valid non-ASCII UTF-8 as UTF-8
    uint8_t subst_len;
    uint8_t break_len;
    uint8_t subst[8];       // the substitution character, encoded
    uint8_t line_break[16]; // the line-break sequence, encoded
    char from_name[40];     // the source's iconv name, for the descriptor cache
};

// ConvState is 8-aligned and Private starts at 44, so the record starts at
// the first suitably aligned byte of Private.  The last 64 bytes of Private
// are never touched (see conf.h); the record stays within its first 16000.
constexpr size_t kConvOffset =
    (alignof(Conv) - offsetof(ConvState, Private) % alignof(Conv)) % alignof(Conv);
static_assert(alignof(ConvState) % alignof(Conv) == 0, "ConvState alignment");
static_assert(kConvOffset + sizeof(Conv) <= 16000, "converter record must fit in Private");

Conv *conv_of(ConvState *st) {
    return std::launder(reinterpret_cast<Conv *>(st->Private + kConvOffset));
}

// The converter record of an initialised state, or null.
Conv *live(ConvState *st) {
    if (st == nullptr) return nullptr;
    Conv *c = conv_of(st);
    return c->magic == kMagic ? c : nullptr;
}

constexpr char kUnicodeSide[] = "UTF-32LE";

// The descriptors that this thread's finished conversions released, by
// name pair.  A descriptor is either in one conversion or here, so
// conversions that overlap on one thread never share one.  It is handed out
// as it was left: convert() resets a source descriptor that may keep state,
// and the output sets (Shift_JIS, EUC-JP, GBK, BIG5, CP949) keep none.
class DescriptorCache {
public:
    DescriptorCache() = default;
    DescriptorCache(const DescriptorCache &) = delete;
    DescriptorCache &operator=(const DescriptorCache &) = delete;
    ~DescriptorCache() {
        for (Slot &s : slots_)
            if (s.cd != kNoIconv) iconv_close(s.cd);
    }

    // A descriptor from `from` to `to`, kept or new; kNoIconv when iconv
    // has no such converter.
    iconv_t open(const char *to, const char *from) {
        for (Slot &s : slots_) {
            if (s.cd != kNoIconv && s.to == to && std::strcmp(s.from, from) == 0) {
                iconv_t cd = s.cd;
                s.cd = kNoIconv;
                return cd;
            }
        }
        return iconv_open(to, from);
    }
    // Keeps cd for a later open of the same pair (to is a name of this
    // library's tables, compared by address; from, shorter than 40 bytes,
    // is copied), closing the oldest kept one when all slots are full.
    void close(iconv_t cd, const char *to, const char *from) {
        if (cd == kNoIconv) return;
        const size_t len = std::strlen(from);
        Slot *slot = nullptr;
        for (Slot &s : slots_)
            if (s.cd == kNoIconv) slot = &s;
        if (slot == nullptr) {
            slot = &slots_[next_];
            next_ = (next_ + 1) % kSlots;
            iconv_close(slot->cd);
        }
        slot->cd = cd;
        slot->to = to;
        std::memcpy(slot->from, from, len + 1);
    }

private:
    static constexpr size_t kSlots = 8;
    struct Slot {
        iconv_t cd = kNoIconv;
        const char *to = nullptr;
        char from[sizeof Conv::from_name] = {};
    };
    Slot slots_[kSlots];
    size_t next_ = 0;
};

thread_local DescriptorCache t_descriptors;

void close_from(Conv *c) {
    if (c->from_name[0] != '\0')
        t_descriptors.close(c->from, kUnicodeSide, c->from_name);
    else if (c->from != kNoIconv)
        iconv_close(c->from);
    c->from = kNoIconv;
    c->from_name[0] = '\0';
    c->source = SourceKind::kNone;
    c->ascii_identity = false;
}

// The six source group names and what they are read as.  Shift_JIS is read
// as CP932, its superset (the vendor extensions that real archives carry).
struct GroupName {
    const char *name;
    const char *iconv_name; // null: ISO-8859-1, decoded here
};
constexpr GroupName kGroups[] = {
    {"ISO-8859-1", nullptr}, {"ChineseGBK", "GBK"},  {"ChineseBIG5", "BIG5"},
    {"KoreanKSC", "CP949"},  {"Shift_JIS", "CP932"}, {"WINDOWS31J", "CP932"},
};

const GroupName *group_of(const char *name) {
    for (const GroupName &g : kGroups)
        if (std::strcmp(name, g.name) == 0) return &g;
    return nullptr;
}

// Appends cp's encoding to buf at *len (buf has room for 16), falling back
// to '?' when the output cannot represent cp.
void encode_or_ask(const Conv &c, char32_t cp, uint8_t *buf, uint8_t *len) {
    uint8_t tmp[8];
    size_t n = encode_one(*c.enc, c.to, cp, tmp);
    if (n == 0) n = encode_one(*c.enc, c.to, U'?', tmp);
    std::memcpy(buf + *len, tmp, n);
    *len = static_cast<uint8_t>(*len + n);
}

// The output area of one convert: refuses a unit that does not fit whole.
struct Sink {
    uint8_t *dst;
    uint32_t cap;
    uint32_t used;
    bool put(const uint8_t *p, size_t n) {
        if (n > cap - used) return false;
        std::memcpy(dst + used, p, n);
        used += static_cast<uint32_t>(n);
        return true;
    }
};

// Code points of the source, one at a time, with one of look-ahead (for
// "\r\n").  An invalid source sequence comes out as kInvalid.  With
// ascii_identity a byte below 0x80 at a character boundary is its own code
// point, without a call into iconv.
constexpr char32_t kInvalid = 0xFFFFFFFF;
class Reader {
public:
    Reader(SourceKind kind, iconv_t from, bool ascii_identity, const uint8_t *src, size_t len)
        : kind_(kind), from_(from), ascii_identity_(ascii_identity), src_(src), left_(len) {}
    bool next(char32_t *cp) {
        if (!fill()) return false;
        *cp = step_.invalid ? kInvalid : step_.cp[at_];
        ++at_;
        return true;
    }
    bool peek(char32_t *cp) {
        if (!fill()) return false;
        *cp = step_.invalid ? kInvalid : step_.cp[at_];
        return true;
    }

private:
    // Makes a code point available; false at the end of the source.
    bool fill() {
        while (at_ >= count()) {
            if (left_ == 0) {
                // What a set kept back for the marks that may follow, once.
                if (kind_ != SourceKind::kIconv || ended_) return false;
                ended_ = true;
                step_ = decode_end(from_);
                at_ = 0;
                continue;
            }
            if (ascii_identity_ && *src_ < 0x80) {
                step_ = DecodeStep{{*src_, 0, 0, 0}, 1, false, 1};
            } else {
                step_ = decode_next(kind_, from_, src_, left_);
            }
            src_ += step_.consumed;
            left_ -= step_.consumed;
            at_ = 0;
        }
        return true;
    }
    size_t count() const { return step_.invalid ? 1 : step_.n; }

    SourceKind kind_;
    iconv_t from_;
    bool ascii_identity_;
    const uint8_t *src_;
    size_t left_;
    DecodeStep step_{};
    size_t at_ = 0;
    bool ended_ = false;
};

} // namespace

// Fails (non-zero) for a null record or an OutCode the host does not know,
// or when iconv has no converter for the output; nothing stays open then.
int init_convert(ConvState *st, ConvParams *params, const TxtOptions *opts) {
    if (st == nullptr || params == nullptr) return 1;
    const OutEncoding *enc = out_encoding(params->OutCode);
    if (enc == nullptr) return 1;
    iconv_t to = kNoIconv;
    if (enc->iconv_name != nullptr) {
        to = t_descriptors.open(enc->iconv_name, kUnicodeSide);
        if (to == kNoIconv) return 1;
    }
    Conv *c = new (st->Private + kConvOffset) Conv{};
    c->enc = enc;
    c->to = to;
    c->from = kNoIconv;
    c->source = SourceKind::kNone;
    c->bom_pending = params->FirstOutput != 0 && enc->bom_len != 0;
    c->line_breaks = params->LineBreakConv != 0;
    // An explicit group name in Charset is trusted; otherwise valid UTF-8
    // with non-ASCII bytes wins over the source name (most archives today
    // store UTF-8 names without saying so).
    c->utf8_rule =
        opts == nullptr ||
        group_of(opts->Charset[sizeof opts->Charset - 1] == '\0' ? opts->Charset : "") == nullptr;

    char32_t subst = static_cast<uint8_t>(params->Subst[0]);
    if (subst == 0) subst = enc->unicode ? U'\uFFFD' : U'?';
    encode_or_ask(*c, subst, c->subst, &c->subst_len);

    // Line-break mode: 1 CRLF, 2 LF, 3 CR, 4 U+2028, 5 U+0085 (4 and 5 as
    // LF where the output has no such character), anything else CRLF.
    uint8_t tmp[8];
    switch (params->LineBreakMode) {
    case 2:
        encode_or_ask(*c, kLf, c->line_break, &c->break_len);
        break;
    case 3:
        encode_or_ask(*c, kCr, c->line_break, &c->break_len);
        break;
    case 4:
    case 5: {
        char32_t sep = params->LineBreakMode == 4 ? U'\u2028' : U'\u0085';
        encode_or_ask(*c, encode_one(*enc, to, sep, tmp) != 0 ? sep : kLf, c->line_break,
                      &c->break_len);
        break;
    }
    default:
        encode_or_ask(*c, kCr, c->line_break, &c->break_len);
        encode_or_ask(*c, kLf, c->line_break, &c->break_len);
        break;
    }
    c->magic = kMagic;
    return 0;
}

// Chooses the source character set: one of the six group names (matched
// exactly, read as documented), a name of the alias table (any case, read
// as its family's superset), or any name iconv knows.  The ConvSource words
// are not needed: every source is read byte by byte, and a 16- or 32-bit
// source says its byte order in its name (UTF-16LE, UTF-32BE, ...).  Fails
// for a name iconv does not know; the state then has no source and
// convert() fails until a later call succeeds.
int change_charset(ConvState *st, ConvSource *, const char *charset) {
    Conv *c = live(st);
    if (c == nullptr || charset == nullptr || *charset == '\0') return 1;
    close_from(c);
    const GroupName *g = group_of(charset);
    if (g != nullptr && g->iconv_name == nullptr) {
        c->source = SourceKind::kLatin1;
        return 0;
    }
    const char *iconv_name = charset;
    if (g != nullptr) {
        iconv_name = g->iconv_name;
    } else if (const CharsetFamily *f = find_charset_family(charset)) {
        iconv_name = f->iconv_name;
    }
    if (g == nullptr && std::strcmp(iconv_name, "UTF-8") == 0) {
        c->source = SourceKind::kUtf8;
        return 0;
    }
    c->from = t_descriptors.open(kUnicodeSide, iconv_name);
    if (c->from == kNoIconv) return 1;
    // A name too long to keep leaves from_name empty: the descriptor is
    // closed, not kept, at the end.
    const size_t len = std::strlen(iconv_name);
    if (len < sizeof c->from_name) std::memcpy(c->from_name, iconv_name, len + 1);
    c->source = SourceKind::kIconv;
    // The six groups' sets are ASCII-compatible, with lead bytes of 0x81
    // and up.
    c->ascii_identity = g != nullptr;
    return 0;
}

// Converts Src[0..SrcLen) into Dst[0..DstCap): 0 with Produced set when all
// of it fit; non-zero when it did not, with Produced counting the whole
// characters (byte-order mark included) that did; non-zero with Produced 0
// when the state has no source set or a pointer is missing.
int convert(ConvState *st) {
    if (st == nullptr) return 1;
    st->Produced = 0;
    Conv *c = live(st);
    if (c == nullptr || c->source == SourceKind::kNone) return 1;
    if (st->SrcLen == 0) return 0;
    if (st->Src == nullptr || (st->Dst == nullptr && st->DstCap != 0)) return 1;

    const auto *src = reinterpret_cast<const uint8_t *>(st->Src);
    Sink out{reinterpret_cast<uint8_t *>(st->Dst), st->DstCap, 0};
    bool ok = true;
    if (c->bom_pending) {
        ok = out.put(c->enc->bom, c->enc->bom_len);
        c->bom_pending = false;
    }
    SourceKind kind = c->source;
    if (c->utf8_rule && kind != SourceKind::kUtf8 && is_utf8_with_non_ascii(src, st->SrcLen))
        kind = SourceKind::kUtf8;
    // The six groups' sets keep no state between characters (and a decode
    // error resets the descriptor); any other set may.
    if (kind == SourceKind::kIconv && !c->ascii_identity)
        iconv(c->from, nullptr, nullptr, nullptr, nullptr);

    Reader reader(kind, c->from, kind == SourceKind::kIconv && c->ascii_identity, src, st->SrcLen);
    char32_t cp;
    while (ok && reader.next(&cp)) {
        if (cp == kInvalid) {
            ok = out.put(c->subst, c->subst_len);
        } else if (c->line_breaks && (cp == kCr || cp == kLf)) {
            char32_t after;
            if (cp == kCr && reader.peek(&after) && after == kLf) reader.next(&after);
            ok = out.put(c->line_break, c->break_len);
        } else {
            uint8_t buf[8];
            size_t n = encode_one(*c->enc, c->to, cp, buf);
            ok = n != 0 ? out.put(buf, n) : out.put(c->subst, c->subst_len);
        }
    }
    st->Produced = out.used;
    return ok ? 0 : 1;
}

// Releases what init and change_charset opened; a state that was never
// initialised (or already terminated) is left alone.  Always 0.
int term_convert(ConvState *st) {
    Conv *c = live(st);
    if (c == nullptr) return 0;
    close_from(c);
    t_descriptors.close(c->to, c->enc->iconv_name, kUnicodeSide);
    c->magic = 0;
    c->~Conv();
    return 0;
}

} // namespace vtq::conf

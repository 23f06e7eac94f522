// whole_inflate.cpp - one-call decoding of whole raw-deflate streams
//
// The decoder takes a stream only when zlib would take it and give the same
// bytes: every block stored, fixed or dynamic; a dynamic block's header
// within zlib's limits (at most 286 length and 30 distance codes, every
// code-length repeat inside the declared codes, the end-of-block code
// present) and every one of its three codes complete; no symbol that zlib
// refuses (the fixed code's lengths 286 and 287 and distances 30 and 31); no
// distance reaching before the start of the member; the final block ending
// exactly at the member's size, within the data.  zlib accepts a few
// incomplete codes besides (a one-symbol code, an empty distance code); this
// decoder gives those streams back undecided and zlib decides them, so the
// bytes and codes of every member are zlib's.
//
// Speed comes from a 64-bit bit buffer refilled eight bytes at a time, one
// table look-up per symbol for codes up to kLitBits / kDistBits long, and
// copies of eight bytes at a time while the member has room to spare; the
// symbols in the last sixteen bytes of the data go through the careful path.
//
// The same decoder reads Deflate64, where nothing is left to anyone else:
// length symbol 285 is a base of 3 with 16 extra bits, distance symbols 30
// and 31 reach back up to 64 KiB, and every stream is decided here.  It
// takes what zlib's rules take (a one-symbol code of one bit, an empty
// distance code) and refuses the rest: over-subscribed and other incomplete
// codes, symbols a code does not define, distances before the member's
// start, output beyond the member, data that ends before the final block.
#include <array>
#include <bit>
#include <cstring>

#include "archive/member_decode.h"
#include "host/services.h"

namespace vtq {
namespace {

// A table entry: bits 0-7 the bits it takes from the stream, the code and
// the extra bits after it (for a link, the bits of the first table); 8-11
// the length of the code alone (for a link, the bits of the second table);
// 12-14 the kind; 16-31 the value (the literal, the base of a length or
// distance, or where the second table starts).  Taking a code and its extra
// bits in one step saves a shift per match.
enum Kind : uint32_t { kLiteral = 0, kLength = 1, kEnd = 2, kLink = 3, kInvalid = 4 };

constexpr uint32_t Entry(uint32_t bits, uint32_t code_len, Kind kind, uint32_t value) {
    return bits | code_len << 8 | static_cast<uint32_t>(kind) << 12 | value << 16;
}
constexpr uint32_t BitsOf(uint32_t e) { return e & 0xFF; }
constexpr uint32_t CodeLenOf(uint32_t e) { return (e >> 8) & 0xF; }
constexpr uint32_t KindOf(uint32_t e) { return (e >> 12) & 0x7; }
constexpr bool IsLiteral(uint32_t e) { return (e & 0x7000) == 0; }
constexpr uint32_t ValueOf(uint32_t e) { return e >> 16; }
// An entry for a code of len bits whose symbol made `partial`, which holds
// the symbol's extra bits in bits 0-7.
constexpr uint32_t Finish(uint32_t partial, unsigned len) { return (partial + len) | len << 8; }

constexpr unsigned kMaxCodeLen = 15;
constexpr unsigned kLitBits = 10; // first-level table of the literal/length code
constexpr unsigned kDistBits = 8; // and of the distance code
constexpr unsigned kPrecodeBits = 7;
constexpr unsigned kLitSyms = 288; // the fixed code defines 288, a header at most 286
constexpr unsigned kDistSyms = 32; // the fixed code defines 32, a header at most 30 (Deflate64 32)
// Every code longer than the first level links to a second-level table of
// 2^(15 - first) entries; there is at most one per symbol.
constexpr unsigned kLitTable = (1u << kLitBits) + kLitSyms * (1u << (kMaxCodeLen - kLitBits));
constexpr unsigned kDistTable = (1u << kDistBits) + kDistSyms * (1u << (kMaxCodeLen - kDistBits));

constexpr uint16_t kLengthBase[29] = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                      15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                      67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t kDistBase[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                    33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                    1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint8_t kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                    6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
// The order in which a dynamic header gives the code-length code's lengths.
constexpr uint8_t kPrecodeOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                       11, 4,  12, 3, 13, 2, 14, 1, 15};

// Each byte with its bits in reverse order.
constexpr auto kReversed = [] {
    std::array<uint8_t, 256> r{};
    for (unsigned v = 0; v < 256; ++v)
        for (unsigned i = 0; i < 8; ++i)
            r[v] = static_cast<uint8_t>(r[v] | ((v >> i) & 1u) << (7 - i));
    return r;
}();

// The len bits of code in reverse order.
constexpr unsigned Reversed(unsigned code, unsigned len) {
    return (kReversed[code & 0xFF] << 8 | kReversed[code >> 8]) >> (16 - len);
}

// What each kind of code makes of its symbols (extra bits in bits 0-7).
uint32_t LitEntry(unsigned sym) {
    if (sym < 256) return Entry(0, 0, kLiteral, sym);
    if (sym == 256) return Entry(0, 0, kEnd, 0);
    if (sym < 286) return Entry(kLengthExtra[sym - 257], 0, kLength, kLengthBase[sym - 257]);
    return Entry(0, 0, kInvalid, 0);
}
uint32_t DistEntry(unsigned sym) {
    if (sym < 30) return Entry(kDistExtra[sym], 0, kLength, kDistBase[sym]);
    return Entry(0, 0, kInvalid, 0);
}
// Deflate64 differs in three symbols only.
uint32_t LitEntry64(unsigned sym) { return sym == 285 ? Entry(16, 0, kLength, 3) : LitEntry(sym); }
uint32_t DistEntry64(unsigned sym) {
    if (sym == 30 || sym == 31) return Entry(14, 0, kLength, sym == 30 ? 32769 : 49153);
    return DistEntry(sym);
}
uint32_t PrecodeEntry(unsigned sym) { return Entry(0, 0, kLiteral, sym); }

// Builds the decoding table of the canonical code with lens[0..n) into
// table, first level `first` bits wide.  False for a code that is
// over-subscribed, incomplete or empty: zlib refuses the first, and this
// decoder leaves the others to zlib.  With decide_all (Deflate64) it builds
// the two incomplete codes zlib takes, one code of one bit and no code at
// all, their undefined codes decoding as invalid; false for the rest.
template <uint32_t (*make)(unsigned), bool decide_all = false>
bool BuildTable(const uint8_t *lens, unsigned n, unsigned first, uint32_t *table) {
    // Two counts, of the even and the odd symbols: runs of one length would
    // otherwise make each increment wait for the one before.
    unsigned pair[2][kMaxCodeLen + 1] = {};
    unsigned s = 0;
    for (; s + 1 < n; s += 2) {
        ++pair[0][lens[s]];
        ++pair[1][lens[s + 1]];
    }
    if (s < n) ++pair[0][lens[s]];
    unsigned count[kMaxCodeLen + 1];
    for (unsigned len = 0; len <= kMaxCodeLen; ++len) count[len] = pair[0][len] + pair[1][len];
    int left = 1;
    for (unsigned len = 1; len <= kMaxCodeLen; ++len) {
        left = (left << 1) - static_cast<int>(count[len]);
        if (left < 0) return false;
    }
    if (left != 0) {
        // Incomplete: taken only without a code longer than one bit; the
        // first level's first two entries then hold every code there is.
        unsigned longest = kMaxCodeLen;
        while (longest > 0 && count[longest] == 0) --longest;
        if (!decide_all || longest > 1) return false;
        table[0] = table[1] = Entry(0, 0, kInvalid, 0);
    }

    // The symbols in canonical order: by code length, then by symbol.
    unsigned next[kMaxCodeLen + 1];
    next[1] = 0;
    for (unsigned len = 1; len < kMaxCodeLen; ++len) next[len + 1] = next[len] + count[len];
    uint16_t sorted[kLitSyms];
    for (s = 0; s < n; ++s)
        if (lens[s] != 0) sorted[next[lens[s]]++] = static_cast<uint16_t>(s);

    // Deflate sends a code's first bit first, so the table is indexed by a
    // code's bits in reverse.  The codes of each length go into the first
    // 2^len entries; doubling those before the next length repeats every
    // entry at each index that ends in its code.
    unsigned code = 0, k = 0;
    for (unsigned len = 1; len <= first; ++len, code <<= 1) {
        if (len > 1) std::memcpy(table + (1u << (len - 1)), table, sizeof *table << (len - 1));
        for (unsigned c = 0; c < count[len]; ++c, ++k, ++code)
            table[Reversed(code, len)] = Finish(make(sorted[k]), len);
    }
    // Longer codes: their first `first` bits choose a link to a table of
    // 2^second entries indexed by the rest.  Canonical codes that share
    // their first bits follow each other.
    const unsigned second = kMaxCodeLen - first;
    unsigned links = 0, linked = ~0u;
    uint32_t *sub = nullptr;
    for (unsigned len = first + 1; len <= kMaxCodeLen; ++len, code <<= 1) {
        const unsigned rest = len - first;
        for (unsigned c = 0; c < count[len]; ++c, ++k, ++code) {
            const unsigned rev = Reversed(code, len);
            const unsigned low = rev & ((1u << first) - 1);
            if (low != linked) {
                linked = low;
                table[low] = Entry(first, second, kLink, (1u << first) + links * (1u << second));
                sub = table + ValueOf(table[low]);
                ++links;
            }
            const uint32_t entry = Finish(make(sorted[k]), rest);
            for (unsigned i = rev >> first; i < (1u << second); i += 1u << rest) sub[i] = entry;
        }
    }
    return true;
}

struct Tables {
    uint32_t lit[kLitTable];
    uint32_t dist[kDistTable];
    uint32_t fixed_lit[1u << kLitBits];
    uint32_t fixed_dist[1u << kDistBits];
    uint32_t fixed64_lit[1u << kLitBits];
    uint32_t fixed64_dist[1u << kDistBits];
    uint32_t precode[1u << kPrecodeBits];
    bool fixed_built;
    bool fixed64_built;
};

// How a stream, or a part of it, ended.  kTruncated: the data ended first.
enum class Stop : uint8_t { kOk, kDamaged, kTruncated, kTooLong };

// The bit reader over in[0..end).  Past the end it reads zero bytes, at
// most kMaxOverread of them, and counts them: a stream that used one of
// them was short, and is not taken.
constexpr unsigned kMaxOverread = 16;

struct Bits {
    const unsigned char *in;
    const unsigned char *end;
    uint64_t buf = 0;
    unsigned left = 0; // valid bits in buf
    unsigned overread = 0;

    static uint64_t Load64(const unsigned char *p) {
        uint64_t v;
        std::memcpy(&v, p, 8);
        if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
        return v;
    }
    // Leaves at least 56 bits in buf.  With eight bytes of data ahead it
    // takes as many whole bytes as fit; the bits of a partly taken byte that
    // land above `left` are that byte's own, so loading it again later ORs
    // in the same bits.
    void Refill() {
        if (end - in >= 8) {
            buf |= Load64(in) << left;
            in += (63 - left) >> 3;
            left |= 56;
            return;
        }
        while (left <= 56) {
            uint64_t byte = 0;
            if (in < end)
                byte = *in++;
            else if (overread <= kMaxOverread)
                ++overread; // past the limit the stream is refused anyway
            buf |= byte << left;
            left += 8;
        }
    }
    uint32_t Peek(unsigned n) const {
        return static_cast<uint32_t>(buf & ((uint64_t{1} << n) - 1));
    }
    void Drop(unsigned n) {
        buf >>= n;
        left -= n;
    }
    uint32_t Take(unsigned n) {
        const uint32_t v = Peek(n);
        Drop(n);
        return v;
    }
    // True when every bit taken so far came from the data.
    bool Sound() const { return overread <= kMaxOverread && left >= overread * 8; }
};

// Decodes one symbol with table (first level `first` bits wide) and takes
// its code and extra bits; buf must hold at least 15 bits, and 15 + 13 for
// a length or distance.  saved keeps the bits from the code on, for Extra.
inline uint32_t Decode(Bits &b, const uint32_t *table, unsigned first, uint64_t &saved) {
    uint32_t e = table[b.Peek(first)];
    if (KindOf(e) == kLink) {
        b.Drop(first);
        e = table[ValueOf(e) + b.Peek(CodeLenOf(e))];
    }
    saved = b.buf;
    b.Drop(BitsOf(e));
    return e;
}
inline uint32_t Decode(Bits &b, const uint32_t *table, unsigned first) {
    uint64_t saved;
    return Decode(b, table, first, saved);
}
// The value of a length or distance entry: its base plus its extra bits.
inline unsigned Extra(uint32_t e, uint64_t saved) {
    const uint64_t taken = saved & ((uint64_t{1} << BitsOf(e)) - 1);
    return ValueOf(e) + static_cast<unsigned>(taken >> CodeLenOf(e));
}

// Reads a dynamic block's header and builds its two codes into t.
template <bool deflate64> bool ReadDynamicHeader(Bits &b, Tables &t) {
    b.Refill();
    const unsigned nlen = b.Take(5) + 257;
    const unsigned ndist = b.Take(5) + 1;
    const unsigned ncode = b.Take(4) + 4;
    if (nlen > 286 || (!deflate64 && ndist > 30)) return false;
    uint8_t lens[19] = {};
    for (unsigned i = 0; i < ncode; ++i) {
        if (b.left < 3) b.Refill();
        lens[kPrecodeOrder[i]] = static_cast<uint8_t>(b.Take(3));
    }
    if (!BuildTable<PrecodeEntry>(lens, 19, kPrecodeBits, t.precode)) return false;

    uint8_t code_lens[286 + kDistSyms] = {};
    unsigned have = 0;
    while (have < nlen + ndist) {
        b.Refill();
        if (!b.Sound()) return false;
        const unsigned sym = ValueOf(Decode(b, t.precode, kPrecodeBits));
        if (sym < 16) {
            code_lens[have++] = static_cast<uint8_t>(sym);
            continue;
        }
        unsigned repeat;
        uint8_t len = 0;
        if (sym == 16) {
            if (have == 0) return false;
            len = code_lens[have - 1];
            repeat = 3 + b.Take(2);
        } else if (sym == 17) {
            repeat = 3 + b.Take(3);
        } else {
            repeat = 11 + b.Take(7);
        }
        if (have + repeat > nlen + ndist) return false;
        while (repeat-- > 0) code_lens[have++] = len;
    }
    if (code_lens[256] == 0) return false;
    if constexpr (deflate64)
        return BuildTable<LitEntry64, true>(code_lens, nlen, kLitBits, t.lit) &&
               BuildTable<DistEntry64, true>(code_lens + nlen, ndist, kDistBits, t.dist);
    return BuildTable<LitEntry>(code_lens, nlen, kLitBits, t.lit) &&
           BuildTable<DistEntry>(code_lens + nlen, ndist, kDistBits, t.dist);
}

// The fixed codes' tables, built on first use.
template <bool deflate64> void FixedTables(Tables &t, const uint32_t *&lit, const uint32_t *&dist) {
    bool &built = deflate64 ? t.fixed64_built : t.fixed_built;
    uint32_t *const lit_table = deflate64 ? t.fixed64_lit : t.fixed_lit;
    uint32_t *const dist_table = deflate64 ? t.fixed64_dist : t.fixed_dist;
    if (!built) {
        uint8_t lens[kLitSyms];
        for (unsigned s = 0; s < kLitSyms; ++s)
            lens[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
        uint8_t dist_lens[kDistSyms];
        std::memset(dist_lens, 5, sizeof dist_lens);
        // Both codes are complete: the tables cannot fail.
        constexpr auto lit_entry = deflate64 ? LitEntry64 : LitEntry;
        constexpr auto dist_entry = deflate64 ? DistEntry64 : DistEntry;
        BuildTable<lit_entry>(lens, kLitSyms, kLitBits, lit_table);
        BuildTable<dist_entry>(dist_lens, kDistSyms, kDistBits, dist_table);
        built = true;
    }
    lit = lit_table;
    dist = dist_table;
}

// Decodes a match's distance after its length len and copies the match to
// out; returns the end of the copy.  Null for a distance that zlib refuses
// or that reaches before the member's first byte, and for a match that does
// not fit the member.  (It returns the position rather than update a
// reference: the stores through it could alias one, keeping it in memory.)
[[gnu::always_inline]] inline unsigned char *CopyMatch(Bits &b, unsigned len, const uint32_t *dist,
                                                       const unsigned char *start,
                                                       unsigned char *out, unsigned char *out_end) {
    uint64_t saved;
    const uint32_t d = Decode(b, dist, kDistBits, saved);
    if (KindOf(d) != kLength) return nullptr;
    const unsigned distance = Extra(d, saved);
    if (distance > static_cast<size_t>(out - start) || len > static_cast<size_t>(out_end - out))
        return nullptr;
    const unsigned char *from = out - distance;
    unsigned char *const stop = out + len;
    if (distance >= 8 && out_end - stop >= 24) {
        // Each 8-byte step reads only bytes already written.
        std::memcpy(out, from, 8);
        std::memcpy(out + 8, from + 8, 8);
        std::memcpy(out + 16, from + 16, 8);
        for (unsigned char *to = out + 24; to < stop; to += 8) std::memcpy(to, to - distance, 8);
    } else if (distance == 1) {
        std::memset(out, *from, len);
    } else {
        for (unsigned i = 0; i < len; ++i) out[i] = from[i];
    }
    return stop;
}

// Decodes the symbols of one Huffman block.  Stops on the end-of-block
// code (kOk), on anything this decoder does not take (kDamaged), when the
// data ends first (kTruncated) or when the member is full (kTooLong).  In
// Deflate64 a length takes up to 31 bits with its extra bits and a
// distance 29, so a refill comes between them, and only two codes follow
// one refill in the fast loop.
template <bool deflate64>
[[gnu::always_inline]] inline Stop DecodeSymbols(Bits &bits, const uint32_t *lit,
                                                 const uint32_t *dist, const unsigned char *start,
                                                 unsigned char *&out_at, unsigned char *out_end) {
    // Local copies: every byte stored through out could otherwise alias the
    // bit reader and the output position, and force them out of registers.
    Bits b = bits;
    unsigned char *out = out_at;
    Stop stop = Stop::kDamaged;
    unsigned char *next;
    unsigned len = 0;

    // The fast loop: sixteen bytes of data ahead (two refills of at most
    // seven bytes each) and room for three literals; a match checks its own
    // room, and copies in 8-byte steps only with 24 bytes to spare after it.
    while (out_end - out >= 3 && b.end - b.in >= 16) {
        b.Refill();
        // After a refill at least 56 bits: three codes of at most 15 bits
        // (the third with its 5 extra bits, if a length), or one code and a
        // match (5 + 15 + 13 bits more).
        uint64_t saved;
        uint32_t e = Decode(b, lit, kLitBits, saved);
        if (IsLiteral(e)) {
            *out++ = static_cast<unsigned char>(ValueOf(e));
            e = Decode(b, lit, kLitBits, saved);
            if (IsLiteral(e)) {
                *out++ = static_cast<unsigned char>(ValueOf(e));
                if constexpr (deflate64) continue;
                e = Decode(b, lit, kLitBits, saved);
                if (IsLiteral(e)) {
                    *out++ = static_cast<unsigned char>(ValueOf(e));
                    continue;
                }
            }
            // The code is taken, its extra bits still in saved; the match
            // needs a refill.
            if constexpr (!deflate64) b.Refill();
        }
        if (KindOf(e) != kLength) {
            if (KindOf(e) == kEnd) stop = Stop::kOk;
            goto done;
        }
        if constexpr (deflate64) b.Refill();
        len = Extra(e, saved);
        next = CopyMatch(b, len, dist, start, out, out_end);
        if (next == nullptr) goto failed;
        out = next;
    }

    // The careful loop, for the last bytes of the data (or the last byte of
    // the member).
    for (;;) {
        b.Refill();
        if (!b.Sound()) {
            stop = Stop::kTruncated;
            goto done;
        }
        uint64_t saved;
        const uint32_t e = Decode(b, lit, kLitBits, saved);
        const uint32_t kind = KindOf(e);
        if (kind == kLiteral) {
            if (out == out_end) {
                stop = Stop::kTooLong;
                goto done;
            }
            *out++ = static_cast<unsigned char>(ValueOf(e));
            continue;
        }
        if (kind != kLength) {
            if (kind == kEnd) stop = Stop::kOk;
            goto done;
        }
        if constexpr (deflate64) b.Refill();
        len = Extra(e, saved);
        next = CopyMatch(b, len, dist, start, out, out_end);
        if (next == nullptr) goto failed;
        out = next;
    }
done:
    bits = b;
    out_at = out;
    return stop;
failed: // the caller gives up on the stream: nothing to hand back
    return len > static_cast<size_t>(out_end - out) ? Stop::kTooLong : Stop::kDamaged;
}

// Built twice each, the second for processors with BMI2, whose variable
// shifts and masks take one instruction each (about 10% faster).
__attribute__((target_clones("default", "bmi2"))) Stop
DecodeBlock(Bits &bits, const uint32_t *lit, const uint32_t *dist, const unsigned char *start,
            unsigned char *&out_at, unsigned char *out_end) {
    return DecodeSymbols<false>(bits, lit, dist, start, out_at, out_end);
}
__attribute__((target_clones("default", "bmi2"))) Stop
DecodeBlock64(Bits &bits, const uint32_t *lit, const uint32_t *dist, const unsigned char *start,
              unsigned char *&out_at, unsigned char *out_end) {
    return DecodeSymbols<true>(bits, lit, dist, start, out_at, out_end);
}

Stop DecodeStored(Bits &b, unsigned char *&out, unsigned char *out_end) {
    // A stored block starts at the next byte: give back the whole bytes the
    // bit buffer holds, and read on from there.
    b.Drop(b.left & 7);
    if (!b.Sound()) return Stop::kTruncated;
    b.in -= b.left / 8 - b.overread;
    b.buf = 0;
    b.left = 0;
    b.overread = 0;
    if (b.end - b.in < 4) return Stop::kTruncated;
    const unsigned len = b.in[0] | b.in[1] << 8;
    const unsigned nlen = b.in[2] | b.in[3] << 8;
    b.in += 4;
    if (len != (~nlen & 0xFFFFu)) return Stop::kDamaged;
    if (len > static_cast<size_t>(out_end - out)) return Stop::kTooLong;
    if (len > static_cast<size_t>(b.end - b.in)) return Stop::kTruncated;
    if (len > 0) std::memcpy(out, b.in, len); // an empty member has no buffer
    out += len;
    b.in += len;
    return Stop::kOk;
}

// Decodes a whole stream, block by block, into out[0..out_len).  kOk only
// when the final block ends with the member full.
template <bool deflate64>
Stop DecodeStream(Tables &t, const unsigned char *in, size_t in_len, unsigned char *out,
                  size_t out_len) {
    Bits b{in, in + in_len};
    const unsigned char *const start = out;
    unsigned char *const out_end = out + out_len;
    for (;;) {
        b.Refill();
        const bool final = b.Take(1) != 0;
        const uint32_t type = b.Take(2);
        Stop stop = Stop::kDamaged;
        if (type == 0) {
            stop = DecodeStored(b, out, out_end);
        } else if (type == 1) {
            const uint32_t *lit, *dist;
            FixedTables<deflate64>(t, lit, dist);
            stop = deflate64 ? DecodeBlock64(b, lit, dist, start, out, out_end)
                             : DecodeBlock(b, lit, dist, start, out, out_end);
        } else if (type == 2) {
            if (!ReadDynamicHeader<deflate64>(b, t))
                stop = b.Sound() ? Stop::kDamaged : Stop::kTruncated;
            else if (deflate64)
                stop = DecodeBlock64(b, t.lit, t.dist, start, out, out_end);
            else
                stop = DecodeBlock(b, t.lit, t.dist, start, out, out_end);
        }
        if (stop == Stop::kOk && !b.Sound()) stop = Stop::kTruncated;
        // Data that runs out once the member is full still lacks the end
        // of its stream: damaged rather than short.
        if (stop == Stop::kTruncated && out == out_end) return Stop::kDamaged;
        if (stop != Stop::kOk) return stop;
        // A final block that leaves the member short is a stream that ends
        // early, like one whose data runs out.
        if (final) return out == out_end ? Stop::kOk : Stop::kTruncated;
    }
}

} // namespace

WholeInflater::~WholeInflater() {
    if (tables_ != nullptr) VTQ_free(tables_);
}

void *WholeInflater::TablesOrNull() {
    if (tables_ == nullptr && !unavailable_) {
        tables_ = VTQ_malloc(sizeof(vtq::Tables));
        unavailable_ = tables_ == nullptr;
        if (tables_ != nullptr) {
            static_cast<vtq::Tables *>(tables_)->fixed_built = false;
            static_cast<vtq::Tables *>(tables_)->fixed64_built = false;
        }
    }
    return tables_;
}

bool WholeInflater::Decode(const unsigned char *in, size_t in_len, unsigned char *out,
                           size_t out_len) {
    void *const tables = TablesOrNull();
    if (tables == nullptr || in == nullptr) return false;
    return DecodeStream<false>(*static_cast<vtq::Tables *>(tables), in, in_len, out, out_len) ==
           Stop::kOk;
}

Deflate64Result WholeInflater::DecodeDeflate64(const unsigned char *in, size_t in_len,
                                               unsigned char *out, size_t out_len) {
    void *const tables = TablesOrNull();
    if (tables == nullptr) return Deflate64Result::kNoMemory;
    // No data at all is a stream cut before its first block.
    if (in_len == 0) return Deflate64Result::kEndsEarly;
    switch (DecodeStream<true>(*static_cast<vtq::Tables *>(tables), in, in_len, out, out_len)) {
    case Stop::kOk:
        return Deflate64Result::kOk;
    case Stop::kTooLong:
        return Deflate64Result::kTooLong;
    case Stop::kTruncated:
        return Deflate64Result::kEndsEarly;
    case Stop::kDamaged:
        break;
    }
    return Deflate64Result::kDamaged;
}

} // namespace vtq

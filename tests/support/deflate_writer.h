// deflate_writer.h - hand-built raw-deflate (and Deflate64) streams, bit by
// bit, for what no compressor writes: undefined symbols, incomplete codes,
// distances before the start
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vtq::test {

// Writes a stream bit by bit: fields first bit lowest, Huffman codes first
// bit highest.
struct BitWriter {
    std::string out;
    unsigned used = 8;
    BitWriter &Bits(uint32_t v, unsigned n) {
        for (unsigned i = 0; i < n; ++i) Bit(v >> i & 1);
        return *this;
    }
    BitWriter &Code(uint32_t code, unsigned len) {
        while (len-- > 0) Bit(code >> len & 1);
        return *this;
    }
    void Bit(uint32_t b) {
        if (used == 8) out += '\0', used = 0;
        out.back() = static_cast<char>(out.back() | b << used++);
    }
};

// Fixed-code pieces: literal 'a' (8 bits 0x91), end of block (7 bits 0),
// length 3 (symbol 257, 7 bits 1), distance symbol d (5 bits d).
inline BitWriter &FixedA(BitWriter &w) { return w.Code(0x30 + 'a', 8); }
inline BitWriter &FixedEnd(BitWriter &w) { return w.Code(0, 7); }
inline BitWriter &FixedMatch3(BitWriter &w, uint32_t dist_sym) {
    return w.Code(1, 7).Code(dist_sym, 5);
}

// A dynamic block header whose literal/length code is 'a' (1 bit, "0"), end
// of block ("10") and length 3 ("11"), with the given distance code lengths
// (ndist of them), sent with a code-length code of sixteen 4-bit codes.
inline BitWriter &DynamicHeader(BitWriter &w, const std::vector<uint8_t> &dist_lens,
                                unsigned nlen = 258) {
    w.Bits(nlen - 257, 5).Bits(static_cast<uint32_t>(dist_lens.size() - 1), 5).Bits(19 - 4, 4);
    for (int sym : {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15})
        w.Bits(sym < 16 ? 4 : 0, 3);
    for (unsigned s = 0; s < nlen; ++s) w.Code(s == 'a' ? 1 : s == 256 || s == 257 ? 2 : 0, 4);
    for (uint8_t len : dist_lens) w.Code(len, 4);
    return w;
}

} // namespace vtq::test

// utf8_avx2.cpp - whole-buffer UTF-8 check, 32 bytes per step (AVX2)
//
// classify() asks of every member whether all of it is valid UTF-8; for a
// large text member that scan is a good part of the host's work.  This is
// the branch-free check of Keiser and Lemire ("Validating UTF-8 in less
// than one instruction per byte", 2021): each byte is looked at together
// with the three before it, and three 16-entry tables indexed by nibbles
// say which two-byte patterns are errors (a continuation byte without a
// lead, a lead without its continuations, overlong forms, surrogates,
// values above U+10FFFF); a third or fourth byte of a sequence is checked
// by comparing the bytes two and three back with the lead ranges.  A
// buffer that ends inside a sequence is incomplete, which counts as not
// valid here, as it does for utf8_valid_prefix().
//
// It only ever answers "the whole buffer is valid"; classify() confirms a
// "no" with the byte-wise utf8_valid_prefix(), so this routine decides
// nothing that the byte-wise one would decide otherwise.  Used only when
// the processor has AVX2.
#if defined(__x86_64__)

#include <immintrin.h>

#include <cstring>

#include "host/txif/internal.h"

namespace vtq::txif {

namespace {

// Error bits of a byte pair (first byte = lead candidate, second = next).
constexpr uint8_t kTooShort = 1 << 0;     // 11______ then 0_______ or 11______
constexpr uint8_t kTooLong = 1 << 1;      // 0_______ then 10______
constexpr uint8_t kOverlong3 = 1 << 2;    // 11100000 100_____
constexpr uint8_t kTooLarge = 1 << 3;     // 11110100 1001____, 11110100 101_____, 11110101+
constexpr uint8_t kSurrogate = 1 << 4;    // 11101101 101_____
constexpr uint8_t kOverlong2 = 1 << 5;    // 1100000_ 10______
constexpr uint8_t kTooLarge1000 = 1 << 6; // 11110101+ 1000____
constexpr uint8_t kOverlong4 = 1 << 6;    // 11110000 1000____
constexpr uint8_t kTwoConts = 1 << 7;     // 10______ 10______ (unless a 3rd/4th byte)
constexpr uint8_t kCarry = kTooShort | kTooLong | kTwoConts;

__attribute__((target("avx2"))) __m256i Table(const uint8_t (&t)[16]) {
    const __m128i half = _mm_loadu_si128(reinterpret_cast<const __m128i *>(t));
    return _mm256_broadcastsi128_si256(half);
}

// The 32 bytes ending n bytes before the block: [prev block's last n, block's first 32 - n].
template <int N>
__attribute__((target("avx2"))) __m256i Previous(__m256i block, __m256i prev_block) {
    const __m256i joined = _mm256_permute2x128_si256(prev_block, block, 0x21);
    return _mm256_alignr_epi8(block, joined, 16 - N);
}

__attribute__((target("avx2"))) __m256i Nibble(__m256i v, int high) {
    const __m256i low_bits = _mm256_set1_epi8(0x0F);
    return high ? _mm256_and_si256(_mm256_srli_epi16(v, 4), low_bits)
                : _mm256_and_si256(v, low_bits);
}

struct Checker {
    __m256i byte1_high, byte1_low, byte2_high;
    __m256i prev_block = _mm256_setzero_si256();
    __m256i error = _mm256_setzero_si256();

    __attribute__((target("avx2"))) Checker() {
        static constexpr uint8_t k1High[16] = {
            kTooLong,
            kTooLong,
            kTooLong,
            kTooLong,
            kTooLong,
            kTooLong,
            kTooLong,
            kTooLong, // 0___
            kTwoConts,
            kTwoConts,
            kTwoConts,
            kTwoConts,                                          // 10__
            kTooShort | kOverlong2,                             // 1100
            kTooShort,                                          // 1101
            kTooShort | kOverlong3 | kSurrogate,                // 1110
            kTooShort | kTooLarge | kTooLarge1000 | kOverlong4, // 1111
        };
        static constexpr uint8_t k1Low[16] = {
            kCarry | kOverlong3 | kOverlong2 | kOverlong4, // ____0000
            kCarry | kOverlong2,                           // ____0001
            kCarry,
            kCarry,                             // ____001_
            kCarry | kTooLarge,                 // ____0100
            kCarry | kTooLarge | kTooLarge1000, // ____0101
            kCarry | kTooLarge | kTooLarge1000,
            kCarry | kTooLarge | kTooLarge1000,
            kCarry | kTooLarge | kTooLarge1000,
            kCarry | kTooLarge | kTooLarge1000,
            kCarry | kTooLarge | kTooLarge1000,
            kCarry | kTooLarge | kTooLarge1000,
            kCarry | kTooLarge | kTooLarge1000,              // ____1100
            kCarry | kTooLarge | kTooLarge1000 | kSurrogate, // ____1101
            kCarry | kTooLarge | kTooLarge1000,
            kCarry | kTooLarge | kTooLarge1000,
        };
        static constexpr uint8_t k2High[16] = {
            kTooShort,
            kTooShort,
            kTooShort,
            kTooShort,
            kTooShort,
            kTooShort,
            kTooShort,
            kTooShort,
            kTooLong | kOverlong2 | kTwoConts | kOverlong3 | kTooLarge1000 | kOverlong4, // 1000
            kTooLong | kOverlong2 | kTwoConts | kOverlong3 | kTooLarge,                  // 1001
            kTooLong | kOverlong2 | kTwoConts | kSurrogate | kTooLarge,                  // 1010
            kTooLong | kOverlong2 | kTwoConts | kSurrogate | kTooLarge,                  // 1011
            kTooShort,
            kTooShort,
            kTooShort,
            kTooShort, // 11__
        };
        byte1_high = Table(k1High);
        byte1_low = Table(k1Low);
        byte2_high = Table(k2High);
    }

    // A NUL byte is an error too when the caller asks (see classify()).
    __attribute__((target("avx2"))) void NoNul(__m256i block) {
        error = _mm256_or_si256(error, _mm256_cmpeq_epi8(block, _mm256_setzero_si256()));
    }

    __attribute__((target("avx2"))) void Block(__m256i block) {
        const __m256i prev1 = Previous<1>(block, prev_block);
        const __m256i special =
            _mm256_and_si256(_mm256_and_si256(_mm256_shuffle_epi8(byte1_high, Nibble(prev1, 1)),
                                              _mm256_shuffle_epi8(byte1_low, Nibble(prev1, 0))),
                             _mm256_shuffle_epi8(byte2_high, Nibble(block, 1)));
        // A byte two back at 0xE0+ or three back at 0xF0+ makes this byte a
        // required continuation: the TWO_CONTS bit is then expected.
        const __m256i prev2 = Previous<2>(block, prev_block);
        const __m256i prev3 = Previous<3>(block, prev_block);
        const __m256i third =
            _mm256_subs_epu8(prev2, _mm256_set1_epi8(static_cast<char>(0xE0 - 0x80)));
        const __m256i fourth =
            _mm256_subs_epu8(prev3, _mm256_set1_epi8(static_cast<char>(0xF0 - 0x80)));
        const __m256i must23 = _mm256_and_si256(_mm256_or_si256(third, fourth),
                                                _mm256_set1_epi8(static_cast<char>(0x80)));
        error = _mm256_or_si256(error, _mm256_xor_si256(must23, special));
        prev_block = block;
    }

    // After the last block: a sequence must not be left open.
    __attribute__((target("avx2"))) bool Done() {
        const __m256i max = _mm256_setr_epi8(
            -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
            -1, -1, -1, -1, -1, -1, -1, static_cast<char>(0xF0 - 1), static_cast<char>(0xE0 - 1),
            static_cast<char>(0xC0 - 1));
        error = _mm256_or_si256(error, _mm256_subs_epu8(prev_block, max));
        return _mm256_testz_si256(error, error) != 0;
    }
};

template <bool kNoNul>
__attribute__((target("avx2"))) bool Check(const unsigned char *p, std::size_t n) {
    Checker c;
    std::size_t i = 0;
    for (; n - i >= 32; i += 32) {
        const __m256i block = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p + i));
        if constexpr (kNoNul) c.NoNul(block);
        c.Block(block);
    }
    if (i < n) {
        // The tail, padded with ASCII spaces (which close nothing and open
        // nothing, so an open sequence still shows at the end).
        alignas(32) unsigned char last[32];
        std::memset(last, ' ', sizeof last);
        std::memcpy(last, p + i, n - i);
        const __m256i block = _mm256_load_si256(reinterpret_cast<const __m256i *>(last));
        if constexpr (kNoNul) c.NoNul(block);
        c.Block(block);
        // An open sequence runs into the padding: a space after a lead byte
        // is a TOO_SHORT error already caught by Block().
    }
    return c.Done();
}

} // namespace

bool utf8_all_valid_avx2(const unsigned char *p, std::size_t n) { return Check<false>(p, n); }
bool utf8_text_avx2(const unsigned char *p, std::size_t n) { return Check<true>(p, n); }

} // namespace vtq::txif

#endif // __x86_64__

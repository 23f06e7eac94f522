// classify.cpp - decide whether a member file is text, an archive or neither
//
// The host has exactly two filters: plain text and ZIP.  A file is an
// archive when it starts with a local file header signature, text when it
// holds no NUL byte and is valid UTF-8 or valid in the legacy character set
// chosen from TxtOptions, and has no filter otherwise.  The NUL rule keeps
// binary data out even under ISO-8859-1, where every byte is defined.
#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

#include "host/txif/detect.h"
#include "host/txif/internal.h"

namespace vtq::txif {

namespace {

constexpr uint64_t kHighBits = 0x8080808080808080ull;

// From i, passes the ASCII bytes of p[0..n) 16 at a time; returns the index
// of the first non-ASCII byte, or one within the last 16 bytes.
std::size_t skip_ascii(const unsigned char *p, std::size_t n, std::size_t i) {
    if constexpr (std::endian::native != std::endian::little) return i;
    while (n - i >= 16) {
        uint64_t a, b;
        std::memcpy(&a, p + i, 8);
        std::memcpy(&b, p + i + 8, 8);
        const uint64_t ha = a & kHighBits, hb = b & kHighBits;
        if ((ha | hb) != 0)
            return i + (ha != 0 ? std::countr_zero(ha) / 8 : 8 + std::countr_zero(hb) / 8);
        i += 16;
    }
    return i;
}

} // namespace

std::size_t utf8_valid_prefix(const unsigned char *p, std::size_t n, bool *bad) {
    std::size_t i = 0;
    while (i < n) {
        // Text is mostly ASCII: pass it in words, stop at the next other byte.
        i = skip_ascii(p, n, i);
        if (i == n) break;
        unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        std::size_t len;
        unsigned char lo = 0x80, hi = 0xBF; // allowed range of the second byte
        if (c >= 0xC2 && c <= 0xDF) {
            len = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            len = 3;
            if (c == 0xE0) lo = 0xA0; // no overlong forms
            if (c == 0xED) hi = 0x9F; // no UTF-16 surrogates
        } else if (c >= 0xF0 && c <= 0xF4) {
            len = 4;
            if (c == 0xF0) lo = 0x90; // no overlong forms
            if (c == 0xF4) hi = 0x8F; // nothing above U+10FFFF
        } else {
            *bad = true; // 0x80-0xC1 cannot start a sequence, 0xF5-0xFF never occur
            return i;
        }
        // Check the bytes that are there; a sequence cut off by the end
        // of the buffer is incomplete, not invalid.
        std::size_t avail = n - i;
        for (std::size_t k = 1; k < len && k < avail; ++k) {
            unsigned char b = p[i + k];
            unsigned char blo = k == 1 ? lo : 0x80, bhi = k == 1 ? hi : 0xBF;
            if (b < blo || b > bhi) {
                *bad = true;
                return i;
            }
        }
        if (avail < len) return i;
        i += len;
    }
    return i;
}

LegacyDecoder::LegacyDecoder(const char *iconv_name) : cd_(iconv_open("UTF-8", iconv_name)) {}

LegacyDecoder::~LegacyDecoder() {
    if (ok()) iconv_close(cd_);
}

bool LegacyDecoder::ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

std::size_t LegacyDecoder::decode(const char *in, std::size_t n, std::string *out, bool *bad) {
    // No legacy character here decodes to more than 4 UTF-8 bytes per
    // input byte, so one pass over a 4n buffer never runs out of room.
    std::vector<char> buf(n * 4 + 16);
    char *src = const_cast<char *>(in);
    std::size_t src_left = n;
    char *dst = buf.data();
    std::size_t dst_left = buf.size();
    // EINVAL is a character cut off at the end of the buffer, left for
    // the next call; EILSEQ an undefined sequence.  E2BIG cannot happen
    // with 4n bytes of room, so it too counts as invalid.
    if (iconv(cd_, &src, &src_left, &dst, &dst_left) == static_cast<std::size_t>(-1) &&
        errno != EINVAL)
        *bad = true;
    if (out != nullptr) out->append(buf.data(), buf.size() - dst_left);
    return n - src_left;
}

void LegacyDecoder::finish(std::string *out) {
    char buf[32];
    char *dst = buf;
    std::size_t dst_left = sizeof buf;
    iconv(cd_, nullptr, nullptr, &dst, &dst_left);
    out->append(buf, sizeof buf - dst_left);
}

bool utf8_all_valid(const unsigned char *p, std::size_t n) {
#if defined(__x86_64__)
    // Only a "yes" is taken from the vector check; a "no" is confirmed.
    if (__builtin_cpu_supports("avx2") && utf8_all_valid_avx2(p, n)) return true;
#endif
    bool bad = false;
    return utf8_valid_prefix(p, n, &bad) == n;
}

bool starts_like_zip(std::span<const unsigned char> bytes) {
    static constexpr unsigned char kZipSig[4] = {'P', 'K', 3, 4};
    return bytes.size() >= 4 && std::memcmp(bytes.data(), kZipSig, 4) == 0;
}

// An archive starts with a local header signature; text holds no NUL byte
// and is valid UTF-8 (complete to its last character), or else valid in
// the legacy set; anything else has no filter.
bool utf8_text(std::span<const unsigned char> bytes) {
#if defined(__x86_64__)
    // Most members are UTF-8 text: one vector pass shows it, NUL check
    // included, instead of a NUL search and then the UTF-8 check.
    if (!bytes.empty() && __builtin_cpu_supports("avx2") &&
        utf8_text_avx2(bytes.data(), bytes.size()))
        return true;
#endif
    // An empty member's span has no data pointer, and memchr must not see
    // a null one even for no bytes.
    if (!bytes.empty() && std::memchr(bytes.data(), 0, bytes.size()) != nullptr) return false;
    return utf8_all_valid(bytes.data(), bytes.size());
}

MemberKind classify(std::span<const unsigned char> bytes, const char *legacy_iconv_name) {
    if (starts_like_zip(bytes)) return MemberKind::kZip;
    if (utf8_text(bytes)) return MemberKind::kUtf8Text;
    if (!bytes.empty() && std::memchr(bytes.data(), 0, bytes.size()) != nullptr)
        return MemberKind::kNoFilter;
    return decode_in_chunks(bytes, legacy_iconv_name, nullptr) ? MemberKind::kLegacyText
                                                               : MemberKind::kNoFilter;
}

} // namespace vtq::txif

// codec.cpp - character decoding and encoding for the converter
#include "host/conf/codec.h"

#include <cstring>

namespace vtq::conf {

namespace {

// Length and first code point bits of a UTF-8 lead byte, and the range the
// second byte must fall in (which rules out overlong forms, surrogates and
// values above U+10FFFF in one check).  len 0: not a lead byte.
struct Utf8Lead {
    uint8_t len;
    uint8_t lo, hi; // allowed range of the second byte
};

Utf8Lead utf8_lead(uint8_t b) {
    if (b < 0x80) return {1, 0, 0};
    if (b >= 0xC2 && b <= 0xDF) return {2, 0x80, 0xBF};
    if (b == 0xE0) return {3, 0xA0, 0xBF};
    if (b == 0xED) return {3, 0x80, 0x9F};
    if (b >= 0xE1 && b <= 0xEF) return {3, 0x80, 0xBF};
    if (b == 0xF0) return {4, 0x90, 0xBF};
    if (b >= 0xF1 && b <= 0xF3) return {4, 0x80, 0xBF};
    if (b == 0xF4) return {4, 0x80, 0x8F};
    return {0, 0, 0};
}

// Length of the well-formed sequence at src (1-4), or 0 when it is not one.
size_t utf8_seq(const uint8_t *src, size_t len, char32_t *cp) {
    Utf8Lead lead = utf8_lead(src[0]);
    if (lead.len == 0 || lead.len > len) return 0;
    if (lead.len == 1) {
        *cp = src[0];
        return 1;
    }
    if (src[1] < lead.lo || src[1] > lead.hi) return 0;
    char32_t v = src[0] & (0x7Fu >> lead.len);
    for (size_t i = 1; i < lead.len; ++i) {
        if ((src[i] & 0xC0) != 0x80) return 0;
        v = v << 6 | (src[i] & 0x3Fu);
    }
    *cp = v;
    return lead.len;
}

uint32_t le32(const uint8_t *p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

DecodeStep decode_iconv(iconv_t from, const uint8_t *src, size_t len) {
    DecodeStep step{};
    uint8_t buf[sizeof step.cp];
    char *in = const_cast<char *>(reinterpret_cast<const char *>(src));
    size_t in_left = len;
    char *out = reinterpret_cast<char *>(buf);
    size_t out_left = sizeof buf;
    iconv(from, &in, &in_left, &out, &out_left); // errors show in what was taken
    step.consumed = len - in_left;
    step.n = static_cast<uint8_t>((sizeof buf - out_left) / 4);
    for (uint8_t i = 0; i < step.n; ++i) step.cp[i] = le32(buf + 4 * i);
    // Characters came out, or bytes were taken without output yet (a shift
    // sequence of a stateful set): progress either way.
    if (step.n > 0 || step.consumed > 0) return step;
    // Nothing came out and nothing was taken: the byte here starts no
    // character (EILSEQ), starts one cut off by the end (EINVAL), or iconv
    // refused for another reason.  Substitute it and move on by one byte;
    // the descriptor is reset so that half-read state does not carry over.
    iconv(from, nullptr, nullptr, nullptr, nullptr);
    step.invalid = true;
    step.consumed = 1;
    return step;
}

} // namespace

DecodeStep decode_end(iconv_t from) {
    DecodeStep step{};
    uint8_t buf[sizeof step.cp];
    char *out = reinterpret_cast<char *>(buf);
    size_t out_left = sizeof buf;
    iconv(from, nullptr, nullptr, &out, &out_left);
    step.n = static_cast<uint8_t>((sizeof buf - out_left) / 4);
    for (uint8_t i = 0; i < step.n; ++i) step.cp[i] = le32(buf + 4 * i);
    return step;
}

DecodeStep decode_next(SourceKind kind, iconv_t from, const uint8_t *src, size_t len) {
    DecodeStep step{};
    switch (kind) {
    case SourceKind::kLatin1:
        step.cp[0] = src[0];
        step.n = 1;
        step.consumed = 1;
        return step;
    case SourceKind::kUtf8: {
        size_t n = utf8_seq(src, len, &step.cp[0]);
        if (n == 0) {
            step.invalid = true;
            step.consumed = 1;
        } else {
            step.n = 1;
            step.consumed = n;
        }
        return step;
    }
    case SourceKind::kIconv:
        return decode_iconv(from, src, len);
    case SourceKind::kNone:
        break;
    }
    step.invalid = true;
    step.consumed = 1;
    return step;
}

bool is_utf8_with_non_ascii(const uint8_t *src, size_t len) {
    bool non_ascii = false;
    size_t i = 0;
    while (i < len) {
        char32_t cp;
        size_t n = utf8_seq(src + i, len - i, &cp);
        if (n == 0) return false;
        non_ascii |= n > 1;
        i += n;
    }
    return non_ascii;
}

size_t encode_one(const OutEncoding &enc, iconv_t to, char32_t cp, uint8_t *out) {
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    switch (enc.shape) {
    case Shape::kSingle:
        if (cp > 0xFF) return 0;
        out[0] = static_cast<uint8_t>(cp);
        return 1;
    case Shape::kUtf8:
        if (cp < 0x80) {
            out[0] = static_cast<uint8_t>(cp);
            return 1;
        }
        if (cp < 0x800) {
            out[0] = static_cast<uint8_t>(0xC0 | cp >> 6);
            out[1] = static_cast<uint8_t>(0x80 | (cp & 0x3F));
            return 2;
        }
        if (cp < 0x10000) {
            out[0] = static_cast<uint8_t>(0xE0 | cp >> 12);
            out[1] = static_cast<uint8_t>(0x80 | (cp >> 6 & 0x3F));
            out[2] = static_cast<uint8_t>(0x80 | (cp & 0x3F));
            return 3;
        }
        out[0] = static_cast<uint8_t>(0xF0 | cp >> 18);
        out[1] = static_cast<uint8_t>(0x80 | (cp >> 12 & 0x3F));
        out[2] = static_cast<uint8_t>(0x80 | (cp >> 6 & 0x3F));
        out[3] = static_cast<uint8_t>(0x80 | (cp & 0x3F));
        return 4;
    case Shape::kUtf16Le:
    case Shape::kUtf16Be: {
        uint16_t units[2];
        size_t n = 1;
        if (cp < 0x10000) {
            units[0] = static_cast<uint16_t>(cp);
        } else {
            char32_t v = cp - 0x10000;
            units[0] = static_cast<uint16_t>(0xD800 | v >> 10);
            units[1] = static_cast<uint16_t>(0xDC00 | (v & 0x3FF));
            n = 2;
        }
        bool be = enc.shape == Shape::kUtf16Be;
        for (size_t i = 0; i < n; ++i) {
            uint8_t hi = static_cast<uint8_t>(units[i] >> 8), lo = static_cast<uint8_t>(units[i]);
            out[2 * i] = be ? hi : lo;
            out[2 * i + 1] = be ? lo : hi;
        }
        return 2 * n;
    }
    case Shape::kUtf32Le:
    case Shape::kUtf32Be:
        for (size_t i = 0; i < 4; ++i) {
            uint8_t b = static_cast<uint8_t>(cp >> (8 * i));
            out[enc.shape == Shape::kUtf32Le ? i : 3 - i] = b;
        }
        return 4;
    case Shape::kShiftJis:
    case Shape::kEucJp:
    case Shape::kDbcs:
        break;
    }
    // The legacy sets go through iconv, one character per call.
    if (to == kNoIconv) return 0;
    uint8_t in_bytes[4] = {static_cast<uint8_t>(cp), static_cast<uint8_t>(cp >> 8),
                           static_cast<uint8_t>(cp >> 16), static_cast<uint8_t>(cp >> 24)};
    char *in = reinterpret_cast<char *>(in_bytes);
    size_t in_left = sizeof in_bytes;
    char *o = reinterpret_cast<char *>(out);
    size_t out_left = 8;
    size_t r = iconv(to, &in, &in_left, &o, &out_left);
    if (r == static_cast<size_t>(-1) || in_left != 0) {
        iconv(to, nullptr, nullptr, nullptr, nullptr);
        return 0;
    }
    return 8 - out_left;
}

} // namespace vtq::conf

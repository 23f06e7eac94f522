// cutstr.cpp - where the output may be cut without splitting a character
//
// The filter asks this when a write would pass the output size limit: of
// len bytes already in the output encoding, how many leading bytes can go
// out within the remaining budget.  The answer never ends inside a
// character, so the limited output stays well-formed.
#include "host/comm/comm.h"
#include "host/conf/outcode.h"

namespace vtq::comm {

namespace {

using conf::Shape;

// UTF-8: back off from the cut when the byte after it continues a sequence
// whose lead byte is before it.  Malformed runs are cut byte-wise.
uint32_t cut_utf8(const uint8_t *s, uint32_t cut) {
    uint32_t p = cut;
    unsigned steps = 0;
    while (p > 0 && steps < 4 && (s[p] & 0xC0) == 0x80) {
        --p;
        ++steps;
    }
    if (steps == 0 || (s[p] & 0xC0) != 0xC0) return cut; // no lead byte: stray bytes
    uint32_t seq = (s[p] & 0xE0) == 0xC0   ? 2
                   : (s[p] & 0xF0) == 0xE0 ? 3
                   : (s[p] & 0xF8) == 0xF0 ? 4
                                           : 1;
    // The lead's sequence ends at or before the cut: the byte after the cut
    // is a stray continuation, and cutting there splits nothing.
    return cut - p >= seq ? cut : p;
}

// UTF-16: whole units, and never between a high and a low surrogate.
uint32_t cut_utf16(const uint8_t *s, uint32_t len, uint32_t cut, bool big_endian) {
    uint32_t m = cut & ~1u;
    auto unit = [&](uint32_t at) {
        return big_endian ? static_cast<uint32_t>(s[at] << 8 | s[at + 1])
                          : static_cast<uint32_t>(s[at + 1] << 8 | s[at]);
    };
    if (m >= 2 && len - m >= 2) {
        uint32_t before = unit(m - 2), after = unit(m);
        if (before >= 0xD800 && before <= 0xDBFF && after >= 0xDC00 && after <= 0xDFFF) m -= 2;
    }
    return m;
}

// Length of the character starting with lead byte b in a double-byte set.
uint32_t dbcs_len(Shape shape, uint8_t b) {
    switch (shape) {
    case Shape::kShiftJis:
        return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC) ? 2 : 1;
    case Shape::kEucJp:
        return b == 0x8F ? 3 : (b == 0x8E || (b >= 0xA1 && b <= 0xFE)) ? 2 : 1;
    case Shape::kDbcs:
        return b >= 0x81 && b <= 0xFE ? 2 : 1;
    default:
        return 1;
    }
}

// Double-byte sets cannot be synchronised backwards (a trail byte can look
// like a lead), so walk the characters from the start.
uint32_t cut_dbcs(const uint8_t *s, uint32_t cut, Shape shape) {
    uint32_t i = 0;
    while (i < cut) {
        uint32_t n = dbcs_len(shape, s[i]);
        if (n > cut - i) break;
        i += n;
    }
    return i;
}

} // namespace

// The largest m <= min(len, budget) such that text[0..m) ends on a
// character boundary of opts->OutCode's encoding.  A single-byte, unknown
// or absent encoding cuts anywhere.  file and count are not used.
uint32_t cut_str(const char *text, uint32_t len, uint32_t budget, const TxtOptions *opts,
                 VTQ_FILE *, uint32_t) {
    uint32_t cut = len < budget ? len : budget;
    if (text == nullptr) return 0;
    if (cut == len || cut == 0 || opts == nullptr) return cut;
    const conf::OutEncoding *enc = conf::out_encoding(opts->OutCode);
    if (enc == nullptr) return cut;
    const auto *s = reinterpret_cast<const uint8_t *>(text);
    switch (enc->shape) {
    case Shape::kUtf8:
        return cut_utf8(s, cut);
    case Shape::kUtf16Le:
        return cut_utf16(s, len, cut, false);
    case Shape::kUtf16Be:
        return cut_utf16(s, len, cut, true);
    case Shape::kUtf32Le:
    case Shape::kUtf32Be:
        return cut & ~3u;
    case Shape::kShiftJis:
    case Shape::kEucJp:
    case Shape::kDbcs:
        return cut_dbcs(s, cut, enc->shape);
    case Shape::kSingle:
        break;
    }
    return cut;
}

} // namespace vtq::comm

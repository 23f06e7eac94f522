// outcode.h - the output encodings behind TxtOptions.OutCode
//
// One table serves the converter (what to produce) and CutStr (where a
// character of the output may be cut).  Header only, so that the common
// library can use it without linking the converter.
#pragma once

#include <cstdint>

namespace vtq::conf {

// How the bytes of an output encoding group into characters.
enum class Shape : uint8_t {
    kSingle, // one byte per character
    kUtf8,
    kUtf16Le,
    kUtf16Be,
    kUtf32Le,
    kUtf32Be,
    kShiftJis, // lead 0x81-0x9F, 0xE0-0xFC: two bytes
    kEucJp,    // 0x8E: two bytes, 0x8F: three, 0xA1-0xFE: two
    kDbcs,     // GBK, Big5, CP949: lead 0x81-0xFE, two bytes
};

struct OutEncoding {
    const char *iconv_name; // null: produced without iconv
    Shape shape;
    bool unicode;    // can represent every Unicode scalar value
    uint8_t bom_len; // byte-order mark written before the first output
    uint8_t bom[4];
};

// Indexed by OutCode.
inline constexpr OutEncoding kOutEncodings[] = {
    {nullptr, Shape::kUtf8, true, 0, {}},                          // 0 UTF-8
    {nullptr, Shape::kUtf16Le, true, 2, {0xFF, 0xFE}},             // 1 UTF-16LE
    {nullptr, Shape::kUtf16Be, true, 2, {0xFE, 0xFF}},             // 2 UTF-16BE
    {"CP932", Shape::kShiftJis, false, 0, {}},                     // 3 Shift_JIS
    {"EUC-JP", Shape::kEucJp, false, 0, {}},                       // 4 EUC-JP
    {"GBK", Shape::kDbcs, false, 0, {}},                           // 5 GBK
    {"BIG5", Shape::kDbcs, false, 0, {}},                          // 6 Big5
    {"CP949", Shape::kDbcs, false, 0, {}},                         // 7 EUC-KR
    {nullptr, Shape::kSingle, false, 0, {}},                       // 8 ISO-8859-1
    {nullptr, Shape::kUtf8, true, 3, {0xEF, 0xBB, 0xBF}},          // 9 UTF-8 + BOM
    {nullptr, Shape::kUtf32Le, true, 4, {0xFF, 0xFE, 0x00, 0x00}}, // 10 UTF-32LE
    {nullptr, Shape::kUtf32Be, true, 4, {0x00, 0x00, 0xFE, 0xFF}}, // 11 UTF-32BE
};
inline constexpr uint32_t kOutCodeCount = sizeof kOutEncodings / sizeof kOutEncodings[0];

// The encoding of an OutCode, or null for a code the host does not know.
inline const OutEncoding *out_encoding(uint32_t code) {
    return code < kOutCodeCount ? &kOutEncodings[code] : nullptr;
}

} // namespace vtq::conf

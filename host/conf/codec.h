// codec.h - decoding a source into code points and encoding them for output
//
// The converter works one character at a time: a source character is
// decoded into Unicode code points, and each code point is encoded in the
// output encoding on its own.  That is what lets it stop after the last
// whole character that fits, substitute exactly the characters that cannot
// be represented, and see line breaks whatever the source set.
#pragma once

#include <iconv.h>

#include <cstddef>
#include <cstdint>

#include "host/conf/outcode.h"

namespace vtq::conf {

inline const iconv_t kNoIconv = reinterpret_cast<iconv_t>(-1);

// How the source bytes are read.
enum class SourceKind : uint8_t {
    kNone,   // no source set chosen yet
    kLatin1, // ISO-8859-1, byte = code point
    kUtf8,   // decoded here, strictly
    kIconv,  // through an iconv descriptor into UTF-32LE
};

// One step of decoding: up to four code points from consumed bytes, or one
// invalid sequence (invalid = true, n = 0) that is to be substituted.
// consumed is never 0 while input remains, so a caller cannot loop.
struct DecodeStep {
    char32_t cp[4];
    uint8_t n;
    bool invalid;
    size_t consumed;
};

// Decodes the next step of src[0..len), len > 0.  from is the descriptor
// for kIconv and is ignored otherwise.
DecodeStep decode_next(SourceKind kind, iconv_t from, const uint8_t *src, size_t len);

// The characters a kIconv descriptor still holds at the end of the input
// (windows-1255 and windows-1258 keep a base letter back for the marks
// that may follow it); n is 0 when there are none.
DecodeStep decode_end(iconv_t from);

// True when src[0..len) is well-formed UTF-8 (no overlong forms, no
// surrogates, nothing above U+10FFFF) and holds at least one non-ASCII byte.
bool is_utf8_with_non_ascii(const uint8_t *src, size_t len);

// Encodes cp in enc into out (room for 8 bytes); to is the descriptor for
// encodings that go through iconv.  Returns the byte count, or 0 when the
// encoding cannot represent cp.
size_t encode_one(const OutEncoding &enc, iconv_t to, char32_t cp, uint8_t *out);

} // namespace vtq::conf

// method_decode.h - one member's data decoded by its compression method
//
// The extended walk reads a member's data whole and hands it here with a
// buffer of the member's declared size.  Each method goes to the library
// made for it (zlib, libbz2, liblzma, libzstd) or to the filter's own
// inflater (Deflate64), always under the same contract: exactly the
// declared number of bytes, from a stream that ends where its format says
// it ends.  The CRC-32 stays the caller's to check.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vtq {

class WholeInflater;

// General purpose flag bit 1 of an LZMA member: its stream ends with an
// end marker.
inline constexpr uint32_t kFlagLzmaEndMarker = 0x0002;

// The method's name in lower case ("stored", "deflate64", "bzip2", ...), as
// listings show it; null for a method without one.
const char *MethodName(uint32_t method);

// Whether DecodeMethod decodes `method`.  When it does not, *reason is
// the reason DecodeMethod would give ("compression method 98 (ppmd) is not
// supported"), or null for a method the table does not name.
bool MethodDecodes(uint32_t method, const char **reason);

// Decodes the data in[0..in_len) of a member with compression method
// `method` and general purpose flags `flags` into out[0..out_len), out_len
// being the member's declared size (out may be null when it is 0).  whole,
// when given, is tried first for deflate (as the documented walk does) and
// does Deflate64; without it Deflate64 uses a decoder of its own.
// Returns 0 when the stream ended properly after exactly out_len bytes;
// 3101 with *reason a one-line text otherwise: the method is unknown or not
// supported ("compression method 98 (ppmd) is not supported"), the data is
// damaged ("bzip2 data is damaged"), "data ends before the declared size",
// "data holds more than the declared size"; 12 with *reason null when a
// decoder could not get memory.  Never writes past out_len; out is
// unspecified after a failure.  Decoders take their memory from VTQ_malloc
// where the library lets them (libbz2, liblzma, libzstd); zlib keeps its
// default allocators.
uint32_t DecodeMethod(uint32_t method, uint32_t flags, const unsigned char *in, size_t in_len,
                      unsigned char *out, size_t out_len, WholeInflater *whole,
                      const char **reason);

} // namespace vtq

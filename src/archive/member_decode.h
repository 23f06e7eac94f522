// member_decode.h - whole-stream inflate and CRC-32 for the extraction loop
//
// zlib's inflate is the decoder whose results the extraction loop reports:
// its codes, and the bytes it produces, decide every member.  Most members
// are intact, though, and for an intact stream any correct decoder gives
// the same bytes; WholeInflater decodes such a stream in one call with a
// faster decoder (libdeflate) and says whether it could.  The loop then
// takes that result only when it is complete (the final block ends exactly
// at the member's size) and the CRC-32 matches; everything else goes to
// zlib from the start, so damaged and short streams come out exactly as
// zlib leaves them.
//
// One gap is known and left open.  libdeflate accepts a few constructs that
// zlib refuses: the length symbols 286 and 287 and the distance symbols 30
// and 31, more than 286 length or 30 distance codes in a block header, a
// code-length repeat that runs past the declared codes, a code-length code
// of one symbol, and a bit that a one-symbol (or empty) distance code does
// not define.  No compressor writes these.  A stream that uses one of them
// and still decodes to exactly the member's size with a matching CRC-32 is
// taken here where zlib would fail it with 3101; such a member can only be
// made on purpose, and holds exactly the bytes its CRC-32 vouches for.
#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>

namespace vtq {

// The CRC-32 of ZIP and zlib over p[0..n), continuing crc (0 to start).
uint32_t Crc32(uint32_t crc, const unsigned char *p, size_t n);

// A one-call decoder of whole raw-deflate streams, kept for the length of
// one walk (its tables are set up once).  Without libdeflate it never
// decodes anything and every member goes to zlib.
class WholeInflater {
public:
    WholeInflater() = default;
    WholeInflater(const WholeInflater &) = delete;
    WholeInflater &operator=(const WholeInflater &) = delete;
    ~WholeInflater();

    // Decodes the raw-deflate stream in[0..in_len) into out[0..out_len).
    // True when the stream decoded without error through its final block
    // and produced exactly out_len bytes (bytes after the stream's end are
    // ignored, as zlib ignores them).  False otherwise (damaged, shorter or
    // longer output, no decoder), with out[0..out_len) holding any bytes.
    bool Decode(const unsigned char *in, size_t in_len, unsigned char *out, size_t out_len);

    // False when the library was built without libdeflate.
    static bool Enabled();

private:
    // The same layout however the user of this header was compiled.
    void *decoder_ = nullptr;  // libdeflate's decompressor, made on first use
    bool unavailable_ = false; // it could not be had: zlib does the work
};

// Decodes one member's data in[0..in_len) into out[0..out_len) and checks
// the CRC-32 of what it produced against crc: stored data is copied (z is
// null), anything else inflated with z, a raw-deflate zlib stream already
// started and not yet used.  When whole is given, an inflated member is
// offered to it first and zlib runs only when that does not give the whole
// member with a matching CRC.  Inflating follows zlib's results: inflate is
// called with Z_SYNC_FLUSH into the room left until it reports the end of
// the stream or the member is full, and its output is the member.
// Returns 0 with out holding the member, zero after the end of a stream
// that ended early; 3101 when inflate reports an error (or a call makes no
// progress); 3102 when the CRC differs, or when stored data is shorter than
// the member.  out is unspecified after a failure.
uint32_t DecodeMember(z_stream *z, WholeInflater *whole, const unsigned char *in, uint32_t in_len,
                      unsigned char *out, uint32_t out_len, uint32_t crc);

} // namespace vtq

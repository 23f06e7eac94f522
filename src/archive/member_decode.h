// member_decode.h - whole-stream inflate and CRC-32 for the extraction loop
//
// zlib's inflate is the decoder whose results the extraction loop reports:
// its codes, and the bytes it produces, decide every member.  Most members
// are intact, though, and an intact stream can be decoded in one call, into
// the member's buffer, far faster than zlib's general state machine allows;
// WholeInflater does that and says whether it could.  It takes a stream only
// when zlib would take it and give the same bytes (whole_inflate.cpp lists
// the conditions); the loop then uses its result when the CRC-32 matches,
// and everything else goes to zlib from the start, so damaged and short
// streams come out exactly as zlib leaves them.  The same decoder reads
// Deflate64, which zlib does not, and decides every such stream itself.
#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>

#include "host/services.h"

namespace vtq {

// A member's decoded bytes, as the walk hands them on: size bytes at bytes,
// inside one of the two buffers (stored data that is the whole member is
// used where it was read).  A large stored member of the extended walk is
// not read ahead: bytes stays null, and its size bytes at archive position
// stream_at are copied to the member file a piece at a time, with the
// CRC-32 (crc) checked on the way.
struct MemberBytes {
    HostBuffer data, buffer;
    const unsigned char *bytes = nullptr;
    uint32_t size = 0;
    uint64_t stream_at = 0;
    uint32_t crc = 0;
    bool streamed() const { return bytes == nullptr && size > 0; }
    // The block that starts with the bytes (decoded, or stored as read);
    // null when they lie inside one (after an encryption header).
    HostBuffer *block() {
        if (bytes == nullptr) return nullptr;
        if (bytes == buffer.get()) return &buffer;
        return bytes == data.get() ? &data : nullptr;
    }
    void reset() {
        data.reset();
        buffer.reset();
        bytes = nullptr;
        size = 0;
        stream_at = 0;
        crc = 0;
    }
};

// The CRC-32 of ZIP and zlib over p[0..n), continuing crc (0 to start).
uint32_t Crc32(uint32_t crc, const unsigned char *p, size_t n);

// What WholeInflater::DecodeDeflate64 made of a stream.
enum class Deflate64Result {
    kOk,        // the final block ended with exactly out_len bytes made
    kDamaged,   // anything the format does not allow, or no end after out_len bytes
    kEndsEarly, // the data, or the final block, ended before out_len bytes
    kTooLong,   // the stream makes more than out_len bytes
    kNoMemory,  // the decoder's tables could not be had
};

// A one-call decoder of whole raw-deflate streams, kept for the length of
// one walk (its tables come from VTQ_malloc on first use; without them
// every member goes to zlib).
class WholeInflater {
public:
    WholeInflater() = default;
    WholeInflater(const WholeInflater &) = delete;
    WholeInflater &operator=(const WholeInflater &) = delete;
    ~WholeInflater();

    // Decodes the raw-deflate stream in[0..in_len) into out[0..out_len).
    // True when zlib would decode the stream without error through its
    // final block, and the stream produced exactly out_len bytes (bytes
    // after the stream's end are ignored, as zlib ignores them).  False
    // otherwise (damaged, shorter or longer output, a construct left to
    // zlib, no tables), with out[0..out_len) holding any bytes.
    bool Decode(const unsigned char *in, size_t in_len, unsigned char *out, size_t out_len);

    // Decodes the Deflate64 stream in[0..in_len) into out[0..out_len): 64
    // KiB window, length symbol 285 a base of 3 with 16 extra bits,
    // distance symbols 30 and 31 bases of 32769 and 49153 with 14 extra
    // bits.  Every stream is decided here (see Deflate64Result); never a
    // byte is written past out_len, and bytes after the final block are
    // ignored.  out[0..out_len) holds any bytes after a failure.
    Deflate64Result DecodeDeflate64(const unsigned char *in, size_t in_len, unsigned char *out,
                                    size_t out_len);

private:
    void *TablesOrNull(); // tables_, made on first use; null when they cannot be had

    void *tables_ = nullptr;   // the decoding tables, made on first use
    bool unavailable_ = false; // they could not be had: zlib does the work
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

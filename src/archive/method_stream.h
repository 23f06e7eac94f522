// method_stream.h - what the method decoders share: their outcomes, and the
// loop that drives a library's streaming decoder over a whole member
//
// Only the decoders behind DecodeMethod (method_decode.h) include this.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>

namespace vtq::method {

// How decoding a member ended; DecodeMethod turns it into a code and reason.
enum class Outcome {
    kOk,        // the stream ended properly after exactly the declared size
    kDamaged,   // the library refused the data, or the stream has no end
    kEndsEarly, // the stream, or its data, ended before the declared size
    kTooLong,   // the stream makes more than the declared size
    kNoMemory,  // the library could not get memory
};

// What one call of a streaming decoder reported.
enum class Step { kGoOn, kEnd, kDamaged, kNoMemory };
struct Progress {
    Step step;
    size_t consumed, produced;
};

// The most a library whose counts are unsigned int takes in one call; the
// loop below hands it the rest in later calls.
inline unsigned ClampToUint(size_t n) { return n < UINT_MAX ? static_cast<unsigned>(n) : UINT_MAX; }

// Drives call(in, in_avail, out, out_avail) -> Progress over the whole of
// in[0..in_len) into out[0..out_len), every input byte offered from the
// start.  Once the member is full the decoder gets one spare byte of room:
// a stream that writes into it holds more than the declared size.  A call
// that neither consumes nor produces means the data ended before the
// stream did.  Ends after at most in_len + out_len + 2 calls.
template <typename Call>
Outcome Pump(Call call, const unsigned char *in, size_t in_len, unsigned char *out,
             size_t out_len) {
    unsigned char spare;
    bool full = out_len == 0;
    for (;;) {
        const Progress p = full ? call(in, in_len, &spare, 1) : call(in, in_len, out, out_len);
        in += p.consumed;
        in_len -= p.consumed;
        if (full && p.produced > 0) return Outcome::kTooLong;
        if (!full) {
            out += p.produced;
            out_len -= p.produced;
            full = out_len == 0;
        }
        switch (p.step) {
        case Step::kEnd:
            return full ? Outcome::kOk : Outcome::kEndsEarly;
        case Step::kDamaged:
            return Outcome::kDamaged;
        case Step::kNoMemory:
            return Outcome::kNoMemory;
        case Step::kGoOn:
            break;
        }
        // Without progress the data has run out: short, or (with the member
        // full) a stream without its end.
        if (p.consumed == 0 && p.produced == 0)
            return full ? Outcome::kDamaged : Outcome::kEndsEarly;
    }
}

// The decoders of the libraries' methods, each under Pump's contract.
Outcome DecodeBzip2(const unsigned char *in, size_t in_len, unsigned char *out, size_t out_len);
// The ZIP form of LZMA: a 4-byte header (version, then the size of the
// properties, which must be 5), the 5 properties bytes, the raw stream;
// with end_marker the stream ends with one, else it ends at out_len bytes.
Outcome DecodeLzma(bool end_marker, const unsigned char *in, size_t in_len, unsigned char *out,
                   size_t out_len);
Outcome DecodeXz(const unsigned char *in, size_t in_len, unsigned char *out, size_t out_len);
Outcome DecodeZstd(const unsigned char *in, size_t in_len, unsigned char *out, size_t out_len);

} // namespace vtq::method

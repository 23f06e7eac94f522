// method_lzma.cpp - LZMA (method 14) and xz (method 95) members through liblzma
//
// LZMA in ZIP is a raw LZMA1 stream behind a header of its own: two bytes
// of the writer's version, a 16-bit size of the properties (5), and the
// properties: the lc/lp/pb byte and the 32-bit dictionary size.  Flag bit 1
// says whether the stream ends with an end marker; without one it ends at
// the declared size.  xz members are whole .xz streams, checks included.
#include <lzma.h>

#include "archive/method_stream.h"
#include "host/services.h"

namespace vtq::method {
namespace {

void *LzmaAlloc(void *, size_t nmemb, size_t size) {
    if (size != 0 && nmemb > SIZE_MAX / size) return nullptr;
    return VTQ_malloc(nmemb * size);
}
void LzmaFree(void *, void *p) {
    if (p != nullptr) VTQ_free(p);
}
constexpr lzma_allocator kAllocator{LzmaAlloc, LzmaFree, nullptr};

constexpr size_t kZipLzmaHeader = 4;
constexpr size_t kPropertiesSize = 5;

// Runs a decoder that init set up on s over the member, then ends it.
Outcome Run(lzma_stream &s, lzma_ret init, const unsigned char *in, size_t in_len,
            unsigned char *out, size_t out_len) {
    if (init != LZMA_OK) {
        lzma_end(&s);
        return init == LZMA_MEM_ERROR ? Outcome::kNoMemory : Outcome::kDamaged;
    }
    const Outcome outcome = Pump(
        [&s](const unsigned char *next_in, size_t in_avail, unsigned char *next_out,
             size_t out_avail) {
            s.next_in = next_in;
            s.avail_in = in_avail;
            s.next_out = next_out;
            s.avail_out = out_avail;
            // All the data is here: LZMA_FINISH lets a stream without an
            // end marker end at its size even when no byte follows it.
            const lzma_ret r = lzma_code(&s, LZMA_FINISH);
            Step step = Step::kDamaged;
            if (r == LZMA_OK || r == LZMA_BUF_ERROR) // no progress: Pump decides
                step = Step::kGoOn;
            else if (r == LZMA_STREAM_END)
                step = Step::kEnd;
            else if (r == LZMA_MEM_ERROR || r == LZMA_MEMLIMIT_ERROR)
                step = Step::kNoMemory;
            return Progress{step, in_avail - s.avail_in, out_avail - s.avail_out};
        },
        in, in_len, out, out_len);
    lzma_end(&s);
    return outcome;
}

} // namespace

Outcome DecodeLzma(bool end_marker, const unsigned char *in, size_t in_len, unsigned char *out,
                   size_t out_len) {
    if (in_len < kZipLzmaHeader + kPropertiesSize) return Outcome::kEndsEarly;
    if ((in[2] | in[3] << 8) != kPropertiesSize) return Outcome::kDamaged;
    const unsigned char *props = in + kZipLzmaHeader;
    // lc, lp and pb packed as (pb * 5 + lp) * 9 + lc.
    if (props[0] >= 9 * 5 * 5) return Outcome::kDamaged;
    lzma_options_lzma options{};
    options.lc = props[0] % 9;
    options.lp = props[0] / 9 % 5;
    options.pb = props[0] / 45;
    options.dict_size = static_cast<uint32_t>(props[1] | props[2] << 8 | props[3] << 16) |
                        static_cast<uint32_t>(props[4]) << 24;
    // A match never reaches further back than the member's start, so a
    // dictionary larger than the member is never used: a few bytes cannot
    // ask for gigabytes.
    if (options.dict_size > out_len) options.dict_size = static_cast<uint32_t>(out_len);
    if (options.dict_size < LZMA_DICT_SIZE_MIN) options.dict_size = LZMA_DICT_SIZE_MIN;
    // Without the flag the stream ends at the declared size; an end marker
    // right there is taken too, as other readers take it.  With the flag the
    // marker ends it, and more bytes before it are more than declared.
    options.ext_flags = LZMA_LZMA1EXT_ALLOW_EOPM;
    const uint64_t size = end_marker ? UINT64_MAX : uint64_t{out_len};
    options.ext_size_low = static_cast<uint32_t>(size);
    options.ext_size_high = static_cast<uint32_t>(size >> 32);
    const lzma_filter filters[2] = {{LZMA_FILTER_LZMA1EXT, &options}, {LZMA_VLI_UNKNOWN, nullptr}};

    lzma_stream s = LZMA_STREAM_INIT;
    s.allocator = &kAllocator;
    const lzma_ret init = lzma_raw_decoder(&s, filters);
    const size_t skip = kZipLzmaHeader + kPropertiesSize;
    return Run(s, init, in + skip, in_len - skip, out, out_len);
}

Outcome DecodeXz(const unsigned char *in, size_t in_len, unsigned char *out, size_t out_len) {
    lzma_stream s = LZMA_STREAM_INIT;
    s.allocator = &kAllocator;
    // No memory limit of its own: every allocation goes through the host,
    // whose cap on one block bounds the dictionary a stream can ask for.
    const lzma_ret init = lzma_stream_decoder(&s, UINT64_MAX, 0);
    return Run(s, init, in, in_len, out, out_len);
}

} // namespace vtq::method

// method_bzip2.cpp - bzip2 members (method 12) through libbz2
#include <bzlib.h>

#include "archive/method_stream.h"
#include "host/services.h"

namespace vtq::method {
namespace {

void *BzAlloc(void *, int items, int size) {
    if (items < 0 || size < 0) return nullptr;
    return VTQ_malloc(static_cast<size_t>(items) * static_cast<size_t>(size));
}
void BzFree(void *, void *p) {
    if (p != nullptr) VTQ_free(p);
}

Step StepOf(int r) {
    switch (r) {
    case BZ_OK:
        return Step::kGoOn;
    case BZ_STREAM_END:
        return Step::kEnd;
    case BZ_MEM_ERROR:
        return Step::kNoMemory;
    default:
        return Step::kDamaged; // data and magic errors, and nothing else can come
    }
}

} // namespace

Outcome DecodeBzip2(const unsigned char *in, size_t in_len, unsigned char *out, size_t out_len) {
    bz_stream s{};
    s.bzalloc = BzAlloc;
    s.bzfree = BzFree;
    // The fast decoder (small = 0): some 3.6 MB for a stream of 900k blocks.
    const int init = BZ2_bzDecompressInit(&s, 0, 0);
    if (init != BZ_OK) return init == BZ_MEM_ERROR ? Outcome::kNoMemory : Outcome::kDamaged;
    const Outcome outcome = Pump(
        [&s](const unsigned char *next_in, size_t in_avail, unsigned char *next_out,
             size_t out_avail) {
            s.next_in = const_cast<char *>(reinterpret_cast<const char *>(next_in));
            s.avail_in = ClampToUint(in_avail);
            s.next_out = reinterpret_cast<char *>(next_out);
            s.avail_out = ClampToUint(out_avail);
            const unsigned in_was = s.avail_in, out_was = s.avail_out;
            const int r = BZ2_bzDecompress(&s);
            return Progress{StepOf(r), size_t{in_was - s.avail_in}, size_t{out_was - s.avail_out}};
        },
        in, in_len, out, out_len);
    BZ2_bzDecompressEnd(&s);
    return outcome;
}

} // namespace vtq::method

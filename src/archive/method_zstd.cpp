// method_zstd.cpp - zstd members (method 93) through libzstd
//
// The member's data is all in memory and so is its buffer, so the frames
// are decoded in one call straight into the buffer: the decoder keeps no
// window of its own, and a frame that claims a window of gigabytes costs
// nothing more than one that claims a kilobyte.  Its context (some 160 KB)
// comes from the host through the custom allocator.  Several frames, and
// skippable frames, follow each other as the format allows; anything after
// the last frame is damage.
#define ZSTD_STATIC_LINKING_ONLY // ZSTD_createDCtx_advanced, for the allocator
#include <zstd.h>
#include <zstd_errors.h>

#include "archive/method_stream.h"
#include "host/services.h"

namespace vtq::method {
namespace {

void *ZstdAlloc(void *, size_t size) { return VTQ_malloc(size); }
void ZstdFree(void *, void *p) {
    if (p != nullptr) VTQ_free(p);
}

} // namespace

Outcome DecodeZstd(const unsigned char *in, size_t in_len, unsigned char *out, size_t out_len) {
    // Nothing at all is not a frame.
    if (in_len == 0) return Outcome::kDamaged;
    ZSTD_DCtx *dctx = ZSTD_createDCtx_advanced(ZSTD_customMem{ZstdAlloc, ZstdFree, nullptr});
    if (dctx == nullptr) return Outcome::kNoMemory;
    unsigned char spare;
    const size_t r = ZSTD_decompressDCtx(dctx, out_len > 0 ? out : &spare, out_len, in, in_len);
    ZSTD_freeDCtx(dctx);
    if (!ZSTD_isError(r)) return r == out_len ? Outcome::kOk : Outcome::kEndsEarly;
    switch (ZSTD_getErrorCode(r)) {
    case ZSTD_error_dstSize_tooSmall:
        return Outcome::kTooLong;
    case ZSTD_error_srcSize_wrong:
        return Outcome::kEndsEarly; // a frame cut short
    case ZSTD_error_memory_allocation:
        return Outcome::kNoMemory;
    default:
        return Outcome::kDamaged;
    }
}

} // namespace vtq::method

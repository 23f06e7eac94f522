// ext_read.h - bounds-checked little-endian reads for the extended mode's
// readers: from memory, and from the archive at a 64-bit position
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/services.h"

namespace vtq::ext {

inline uint32_t Le16(const unsigned char *p) { return static_cast<uint32_t>(p[0] | p[1] << 8); }
inline uint32_t Le32(const unsigned char *p) { return Le16(p) | Le16(p + 2) << 16; }
inline uint64_t Le64(const unsigned char *p) { return Le32(p) | uint64_t{Le32(p + 4)} << 32; }

// Reads a span of memory front to back.
class Reader {
public:
    Reader(const unsigned char *p, size_t n) : p_(p), left_(n) {}
    size_t remaining() const { return left_; }
    // The next n bytes, and moves past them; null (nothing moves) when
    // fewer remain.
    const unsigned char *Take(size_t n) {
        if (left_ < n) return nullptr;
        const unsigned char *at = p_;
        p_ += n;
        left_ -= n;
        return at;
    }

private:
    const unsigned char *p_;
    size_t left_;
};

// Reads exactly n bytes at file position pos into out, through as many
// host reads as the host needs.  False when the seek fails or a read
// delivers nothing before n bytes are in.
inline bool ReadAt(VTQ_FILE *file, uint64_t pos, void *out, size_t n) {
    if (pos > static_cast<uint64_t>(INT64_MAX) ||
        VTQ_FileSeek(file, static_cast<int64_t>(pos), 0) != 0)
        return false;
    auto *p = static_cast<unsigned char *>(out);
    while (n > 0) {
        const size_t got = VTQ_FileRead(p, 1, n, file);
        if (got == 0 || got > n) return false;
        p += got;
        n -= got;
    }
    return true;
}

} // namespace vtq::ext

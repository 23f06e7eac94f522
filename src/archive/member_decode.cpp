// member_decode.cpp - whole-stream inflate and CRC-32 (see member_decode.h)
#include "archive/member_decode.h"

#include <cstring>

#include "vtq/types.h"

#ifdef VTQ_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif

namespace vtq {

uint32_t Crc32(uint32_t crc, const unsigned char *p, size_t n) {
#ifdef VTQ_HAVE_LIBDEFLATE
    // The same polynomial and conventions as zlib's crc32, computed with
    // carry-less multiplication where the processor has it.
    return libdeflate_crc32(crc, p, n);
#else
    return static_cast<uint32_t>(crc32_z(crc, p, n));
#endif
}

uint32_t DecodeMember(z_stream *z, WholeInflater *whole, const unsigned char *in, uint32_t in_len,
                      unsigned char *out, uint32_t out_len, uint32_t crc) {
    if (z != nullptr && whole != nullptr && out_len > 0 &&
        whole->Decode(in, in_len, out, out_len) && Crc32(0, out, out_len) == crc)
        return VTQ_OK;

    uint32_t pending = in_len;
    uint32_t room = out_len;
    uint32_t running = 0;
    while (room > 0) {
        unsigned char *const produced_at = out + (out_len - room);
        if (z != nullptr) {
            z->next_in = const_cast<unsigned char *>(in);
            z->avail_in = pending;
            z->next_out = produced_at;
            z->avail_out = room;
            const int r = inflate(z, Z_SYNC_FLUSH);
            if (r < 0) return VTQ_E_INFLATE;
            const uint32_t produced = room - z->avail_out;
            const uint32_t consumed = pending - z->avail_in;
            running = Crc32(running, produced_at, produced);
            in += consumed;
            pending = z->avail_in;
            room = z->avail_out;
            if (r == Z_STREAM_END) break;
            // zlib reports a call without progress as Z_BUF_ERROR; never
            // spin on one that claims otherwise.
            if (produced == 0 && consumed == 0) return VTQ_E_INFLATE;
        } else {
            // Stored data that ends before the member's declared size can
            // never produce the member: fail now instead of waiting for
            // input that will not come.
            if (pending == 0) return VTQ_E_CRC;
            const uint32_t produced = pending < room ? pending : room;
            std::memcpy(produced_at, in, produced);
            running = Crc32(running, produced_at, produced);
            in += produced;
            pending -= produced;
            room -= produced;
        }
    }
    // A stream that ended early leaves the rest of the member zero.
    if (room > 0) std::memset(out + (out_len - room), 0, room);
    return running == crc ? VTQ_OK : VTQ_E_CRC;
}

} // namespace vtq

// fuzz_inflate.cc - the whole-stream decoder against zlib, over a declared
// size (three bytes, little endian, at most 1 MiB) and a raw-deflate stream
// (fuzz/README.md lists the checks).
#include <zlib.h>

#include "archive/member_decode.h"
#include "fuzz/fuzz_common.h"
#include "tests/support/test_host.h"
#include "vtq/types.h"

namespace {

using vtq::fuzz::Die;
using Bytes = std::vector<unsigned char>;

// zlib alone, into room for one byte more: true when the stream ends
// without error after exactly `size` bytes.
bool ZlibWhole(const unsigned char *in, uint32_t len, uint32_t size, Bytes &out) {
    out.assign(size + 1, 0);
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK) Die("inflateInit2 failed");
    z.next_in = const_cast<unsigned char *>(in);
    z.avail_in = len;
    z.next_out = out.data();
    z.avail_out = size + 1;
    const bool whole = inflate(&z, Z_FINISH) == Z_STREAM_END && z.total_out == size;
    inflateEnd(&z);
    return whole;
}

// The extraction loop's decode of the member: its code, and its bytes in out.
uint32_t Member(const unsigned char *in, uint32_t len, uint32_t size, uint32_t crc,
                vtq::WholeInflater *whole, Bytes &out) {
    out.assign(size, 0x5A);
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK) Die("inflateInit2 failed");
    const uint32_t code = vtq::DecodeMember(&z, whole, in, len, out.data(), size, crc);
    inflateEnd(&z);
    return code;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 3) return 0;
    const uint32_t declared = (data[0] | data[1] << 8 | data[2] << 16) & 0xFFFFFu;
    const unsigned char *in = data + 3;
    const auto len = static_cast<uint32_t>(size - 3);
    vtq::test::Host &host = vtq::test::host();
    host.Reset();
    {
        vtq::WholeInflater whole;
        Bytes fast(declared + 1, 0xA5), slow, with, without;
        const bool taken = whole.Decode(in, len, fast.data(), declared);
        const bool ended = ZlibWhole(in, len, declared, slow);
        if (taken && !ended)
            Die("the whole-stream decoder took a stream zlib does not end at the size");
        if (taken && std::memcmp(fast.data(), slow.data(), declared) != 0)
            Die("the whole-stream decoder and zlib made different bytes");
        // The same code and bytes with and without it, with the CRC of zlib's
        // bytes (a success is possible) and with a wrong one.
        const uint32_t crc = vtq::Crc32(0, slow.data(), declared);
        for (const uint32_t c : {crc, crc ^ 1u}) {
            const uint32_t a = Member(in, len, declared, c, &whole, with);
            const uint32_t b = Member(in, len, declared, c, nullptr, without);
            if (a != b) Die("DecodeMember: " + std::to_string(a) + " and " + std::to_string(b));
            if (a == VTQ_OK && with != without) Die("DecodeMember: different bytes");
        }
    }
    if (host.live_allocs != 0) Die(std::to_string(host.live_allocs) + " host allocations kept");
    return 0;
}

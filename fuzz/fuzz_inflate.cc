// fuzz_inflate.cc - the whole-stream decoder against zlib, over a declared size
// (three bytes, little endian) and a raw-deflate stream; see fuzz/README.md
#include <zlib.h>

#include "archive/member_decode.h"
#include "fuzz/fuzz_common.h"
#include "tests/support/test_host.h"

using namespace vtq::fuzz;
using Bytes = std::vector<unsigned char>;

// The extraction loop's DecodeMember or, without a crc, zlib alone with room for
// one byte more: 0 when the stream ends without error after exactly `size` bytes.
static uint32_t Decode(const uint8_t *in, uint32_t len, uint32_t size, Bytes &out,
                       const uint32_t *crc = nullptr, vtq::WholeInflater *whole = nullptr) {
    out.assign(size + 1, 0);
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK) Die("inflateInit2 failed");
    z.next_in = const_cast<uint8_t *>(in);
    z.avail_in = len;
    z.next_out = out.data();
    z.avail_out = size + 1;
    const uint32_t code = crc != nullptr
                              ? vtq::DecodeMember(&z, whole, in, len, out.data(), size, *crc)
                              : !(inflate(&z, Z_FINISH) == Z_STREAM_END && z.total_out == size);
    inflateEnd(&z);
    return code;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 3) return 0;
    const uint32_t declared = (data[0] | data[1] << 8 | data[2] << 16) & 0xFFFFFu;
    const auto len = static_cast<uint32_t>(size - 3);
    const AllGivenBack guard(vtq::test::host());
    vtq::WholeInflater whole;
    Bytes fast(declared + 1, 0xA5), slow, with, without;
    const bool taken = whole.Decode(data + 3, len, fast.data(), declared);
    const bool ended = Decode(data + 3, len, declared, slow) == 0;
    if (taken && !ended)
        Die("the whole-stream decoder took a stream zlib does not end at the size");
    if (taken && std::memcmp(fast.data(), slow.data(), declared) != 0)
        Die("the whole-stream decoder and zlib made different bytes");
    // The same with it as without it, with the CRC of zlib's bytes and a wrong one.
    const uint32_t crc = vtq::Crc32(0, slow.data(), declared);
    for (const uint32_t c : {crc, crc ^ 1u}) {
        const uint32_t a = Decode(data + 3, len, declared, with, &c, &whole);
        const uint32_t b = Decode(data + 3, len, declared, without, &c);
        if (a != b) Die("DecodeMember: " + std::to_string(a) + " with, " + std::to_string(b));
        if (a == VTQ_OK && with != without) Die("DecodeMember: different bytes");
    }
    return 0;
}

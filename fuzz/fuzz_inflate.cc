// fuzz_inflate.cc - the whole-stream decoder against zlib, over any stream
//
// The input is a member's declared size (its first three bytes, little
// endian, up to 1 MiB) followed by a raw-deflate stream.  The filter's
// whole-stream decoder may take a stream only when zlib decodes it without
// error through its final block to exactly the declared size, and then its
// bytes must be zlib's.  Whatever it decides, the extraction loop's
// DecodeMember must give the same code and bytes with it as without it.
#include <zlib.h>

#include <cstring>
#include <string>
#include <vector>

#include "archive/member_decode.h"
#include "fuzz/fuzz_common.h"
#include "tests/support/test_host.h"
#include "vtq/types.h"

namespace {

using vtq::fuzz::Die;

// zlib alone, the way a strict reader would: the whole stream through its
// end into room for one byte more than declared.  True when the stream
// ended without error after exactly `size` bytes, with those bytes in out.
bool ZlibWhole(const unsigned char *in, size_t len, size_t size, std::vector<unsigned char> &out) {
    out.assign(size + 1, 0);
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK) Die("inflateInit2 failed");
    z.next_in = const_cast<unsigned char *>(in);
    z.avail_in = static_cast<uInt>(len);
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    const int r = inflate(&z, Z_FINISH);
    const bool whole = r == Z_STREAM_END && z.total_out == size;
    inflateEnd(&z);
    return whole;
}

struct Result {
    uint32_t code;
    std::vector<unsigned char> bytes;
};

Result Member(const unsigned char *in, uint32_t len, uint32_t size, uint32_t crc,
              vtq::WholeInflater *whole) {
    Result r{0, std::vector<unsigned char>(size, 0x5A)};
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK) Die("inflateInit2 failed");
    r.code = vtq::DecodeMember(&z, whole, in, len, r.bytes.data(), size, crc);
    inflateEnd(&z);
    return r;
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
        std::vector<unsigned char> fast(declared + 1, 0xA5);
        const bool taken = whole.Decode(in, len, fast.data(), declared);
        std::vector<unsigned char> slow;
        const bool zlib_whole = ZlibWhole(in, len, declared, slow);
        if (taken && !zlib_whole)
            Die("the whole-stream decoder took a stream that zlib does not end at the size");
        if (taken && std::memcmp(fast.data(), slow.data(), declared) != 0)
            Die("the whole-stream decoder and zlib made different bytes");

        // The loop's view, with the CRC of what zlib made (so that a success
        // is possible) and with a wrong one.
        const uint32_t crc = vtq::Crc32(0, slow.data(), declared);
        for (const uint32_t c : {crc, crc ^ 1u}) {
            const Result with = Member(in, len, declared, c, &whole);
            const Result without = Member(in, len, declared, c, nullptr);
            if (with.code != without.code)
                Die("DecodeMember gave " + std::to_string(with.code) + " with the whole-stream decoder, " +
                    std::to_string(without.code) + " without");
            if (with.code == VTQ_OK && with.bytes != without.bytes)
                Die("DecodeMember made different bytes with the whole-stream decoder");
        }
    }
    if (host.live_allocs != 0) Die(std::to_string(host.live_allocs) + " host allocations not given back");
    return 0;
}

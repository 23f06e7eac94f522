// micro_decode.cc - inflate + CRC-32 of one member, MB/s of member data
//
// The two ways the extraction loop decodes a deflated member: zlib's
// inflate into a buffer of exactly the member's size (with the CRC run over
// each call's output), and the whole-stream decoder it tries first for an
// intact stream (member_decode.h) followed by one CRC-32 over the result.
// Buffers are allocated once, so this is the decoder alone.
#include <benchmark/benchmark.h>
#ifdef VTQ_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif
#include <zlib.h>

#include <string>
#include <vector>

#include "archive/member_decode.h"
#include "bench/micro_common.h"
#include "tests/support/zip_builder.h"

namespace {

struct Member {
    std::string text;
    std::string deflated;
    uint32_t crc;
};

Member MakeMember(size_t size) {
    Member m;
    m.text = vtq::bench::Text(size, size);
    m.deflated = vtq::test::Deflate(m.text);
    m.crc = vtq::test::Crc32(m.text);
    return m;
}

// The extraction loop's zlib path; returns the CRC of what it produced.
uint32_t ZlibDecode(const Member &m, unsigned char *out) {
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK) return 0;
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(m.deflated.data()));
    z.avail_in = static_cast<uInt>(m.deflated.size());
    uint32_t room = static_cast<uint32_t>(m.text.size());
    uint32_t crc = 0;
    while (room > 0) {
        unsigned char *at = out + (m.text.size() - room);
        z.next_out = at;
        z.avail_out = room;
        int r = inflate(&z, Z_SYNC_FLUSH);
        if (r < 0) break;
        crc = vtq::Crc32(crc, at, room - z.avail_out);
        room = z.avail_out;
        if (r == Z_STREAM_END) break;
    }
    inflateEnd(&z);
    return crc;
}

uint32_t WholeDecode(vtq::WholeInflater &w, const Member &m, unsigned char *out) {
    const auto *in = reinterpret_cast<const unsigned char *>(m.deflated.data());
    if (!w.Decode(in, m.deflated.size(), out, m.text.size())) return 0;
    return vtq::Crc32(0, out, m.text.size());
}

void BM_InflateZlib(benchmark::State &state) {
    const Member m = MakeMember(static_cast<size_t>(state.range(0)));
    std::vector<unsigned char> out(m.text.size());
    if (ZlibDecode(m, out.data()) != m.crc) {
        state.SkipWithError("zlib did not reproduce the member");
        return;
    }
    for (auto _ : state) benchmark::DoNotOptimize(ZlibDecode(m, out.data()));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(m.text.size()));
}

void BM_InflateWhole(benchmark::State &state) {
    const Member m = MakeMember(static_cast<size_t>(state.range(0)));
    std::vector<unsigned char> out(m.text.size());
    vtq::WholeInflater w;
    if (WholeDecode(w, m, out.data()) != m.crc) {
        state.SkipWithError("the whole-stream decoder did not reproduce the member");
        return;
    }
    for (auto _ : state) benchmark::DoNotOptimize(WholeDecode(w, m, out.data()));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(m.text.size()));
}

void BM_Crc32(benchmark::State &state) {
    const std::string text = vtq::bench::Text(static_cast<size_t>(state.range(0)));
    const auto *p = reinterpret_cast<const unsigned char *>(text.data());
    if (vtq::Crc32(0, p, text.size()) != vtq::test::Crc32(text)) {
        state.SkipWithError("CRC-32 differs from zlib's");
        return;
    }
    for (auto _ : state) benchmark::DoNotOptimize(vtq::Crc32(0, p, text.size()));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}

BENCHMARK(BM_InflateZlib)->Arg(4 << 10)->Arg(64 << 10)->Arg(1 << 20)->Arg(32 << 20);
BENCHMARK(BM_InflateWhole)->Arg(4 << 10)->Arg(64 << 10)->Arg(1 << 20)->Arg(32 << 20);
#ifdef VTQ_HAVE_LIBDEFLATE
// The same work by libdeflate, a reference for the whole-stream decoder.
void BM_InflateLibdeflate(benchmark::State &state) {
    const Member m = MakeMember(static_cast<size_t>(state.range(0)));
    std::vector<unsigned char> out(m.text.size());
    libdeflate_decompressor *d = libdeflate_alloc_decompressor();
    size_t made = 0;
    if (libdeflate_deflate_decompress(d, m.deflated.data(), m.deflated.size(), out.data(),
                                      out.size(), &made) != LIBDEFLATE_SUCCESS ||
        vtq::Crc32(0, out.data(), made) != m.crc) {
        libdeflate_free_decompressor(d);
        state.SkipWithError("libdeflate did not reproduce the member");
        return;
    }
    for (auto _ : state) {
        size_t got = 0;
        libdeflate_deflate_decompress(d, m.deflated.data(), m.deflated.size(), out.data(),
                                      out.size(), &got);
        benchmark::DoNotOptimize(vtq::Crc32(0, out.data(), got));
    }
    libdeflate_free_decompressor(d);
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(m.text.size()));
}
BENCHMARK(BM_InflateLibdeflate)->Arg(4 << 10)->Arg(64 << 10)->Arg(1 << 20)->Arg(32 << 20);
#endif
BENCHMARK(BM_Crc32)->Arg(4 << 10)->Arg(1 << 20);

} // namespace

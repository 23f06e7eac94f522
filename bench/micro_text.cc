// micro_text.cc - the text host's per-member work: the UTF-8 check, the
// classification and the converter over member text, MB/s of text
//
// classify() decides a member's kind from its bytes (for text: no NUL and
// valid UTF-8, with AVX2 where the processor has it); utf8_valid_prefix is
// the portable check it falls back on.  The converter runs as the host's
// Encoder does for a non-UTF-8 output: one set-up, one conversion of the
// whole text, one release (ns per member shows at 256 bytes).
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "bench/micro_common.h"
#include "host/txif/internal.h"
#include "vtq/host.h"

namespace {

std::span<const unsigned char> Bytes(const std::string &s) {
    return {reinterpret_cast<const unsigned char *>(s.data()), s.size()};
}

void BM_Utf8Portable(benchmark::State &state) {
    const std::string text = vtq::bench::Text(static_cast<size_t>(state.range(0)));
    const auto *p = reinterpret_cast<const unsigned char *>(text.data());
    bool bad = false;
    if (vtq::txif::utf8_valid_prefix(p, text.size(), &bad) != text.size() || bad) {
        state.SkipWithError("the text is not seen as valid UTF-8");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(vtq::txif::utf8_valid_prefix(p, text.size(), &bad));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}

void BM_Classify(benchmark::State &state) {
    const std::string text = vtq::bench::Text(static_cast<size_t>(state.range(0)));
    if (vtq::txif::classify(Bytes(text), "CP932") != vtq::txif::MemberKind::kUtf8Text) {
        state.SkipWithError("the text is not classified as UTF-8 text");
        return;
    }
    for (auto _ : state) benchmark::DoNotOptimize(vtq::txif::classify(Bytes(text), "CP932"));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}

// Member text to UTF-16LE (OutCode 1) as the host's Encoder converts a
// chunk: set up, name the source (UTF-8), convert, release.
uint32_t ConvertText(const TxtOptions &opts, const std::string &text, std::vector<char> &dst) {
    ConvParams params{};
    params.OutCode = opts.OutCode;
    params.TextConv = 1;
    params.Subst[0] = '?';
    params.Subst2[0] = '?';
    params.LineBreakMode = 2;
    ConvState state;
    ConvSource source{0, 0, 1};
    if (cconvInitConvert(&state, &params, &opts) != 0) return 0;
    uint32_t produced = 0;
    if (cconvChgCharset(&state, &source, "UTF-8") == 0) {
        state.Src = text.data();
        state.SrcLen = static_cast<uint32_t>(text.size());
        state.Dst = dst.data();
        state.DstCap = static_cast<uint32_t>(dst.size());
        if (cconvConvert(&state) == 0) produced = state.Produced;
    }
    cconvTermConvert(&state);
    return produced;
}

void BM_ConvertText(benchmark::State &state) {
    const std::string text = vtq::bench::Text(static_cast<size_t>(state.range(0)));
    TxtOptions opts{};
    opts.OutCode = 1;
    std::vector<char> dst(text.size() * 4 + 16);
    // Every character of the text is in the BMP: two bytes each.
    bool bad = false;
    const auto *p = reinterpret_cast<const unsigned char *>(text.data());
    size_t chars = 0;
    for (size_t i = 0; i < text.size(); ++i) chars += (p[i] & 0xC0) != 0x80;
    if (vtq::txif::utf8_valid_prefix(p, text.size(), &bad) != text.size() ||
        ConvertText(opts, text, dst) != 2 * chars) {
        state.SkipWithError("the converter did not give two bytes per character");
        return;
    }
    for (auto _ : state) benchmark::DoNotOptimize(ConvertText(opts, text, dst));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_Utf8Portable)->Arg(256)->Arg(64 << 10);
BENCHMARK(BM_Classify)->Arg(256)->Arg(64 << 10);
BENCHMARK(BM_ConvertText)->Arg(256)->Arg(64 << 10);

} // namespace

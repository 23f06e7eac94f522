// micro_convert.cc - one label through the host's converter, ns per label
//
// TransUCSChar as the compose-mode hand-off calls it for "Filename: ": set
// up a conversion, name the source character set, convert, release.  The
// argument is the output code (0 UTF-8, 1 UTF-16LE, ...); the source set is
// the default of an empty Language (Shift_JIS, through iconv).
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#include "bench/micro_common.h"

namespace {

void BM_LabelConversion(benchmark::State &state) {
    TxtOptions opts{};
    opts.OutCode = static_cast<uint32_t>(state.range(0));
    auto bus = vtq::bench::ComposeBus(&opts);
    static constexpr char kLabel[] = "Filename: ";
    constexpr uint32_t kLen = sizeof kLabel - 1;
    char dst[4 * kLen];
    bus->LeadWritten = 1; // not the first output: no byte-order mark
    bus->LabelMode = 1;
    const uint32_t n = TransUCSChar(bus.get(), kLabel, dst, kLen, nullptr);
    const uint32_t unit = opts.OutCode == 0 ? 1 : 2;
    if (n != kLen * unit) {
        state.SkipWithError("the label did not convert to the expected length");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(TransUCSChar(bus.get(), kLabel, dst, kLen, nullptr));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LabelConversion)->Arg(0)->Arg(1);

} // namespace

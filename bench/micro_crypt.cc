// micro_crypt.cc - traditional PKWARE decryption, MB/s
//
// CryptDecodeBuffer as the extraction loop calls it: in place, byte by
// byte, keys carried from one byte to the next.  Each iteration starts from
// keys freshly derived from the password, as every member does.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#include "bench/micro_common.h"
#include "tests/support/zip_builder.h"

namespace {

void BM_Decrypt(benchmark::State &state) {
    const std::string plain = vtq::bench::Text(static_cast<size_t>(state.range(0)));
    const std::string password = "correct horse";
    const std::string sealed = vtq::test::PkEncrypt(plain, password, 0x5A);
    TxtOptions opts{};
    auto bus = vtq::bench::ComposeBus(&opts);
    bus->CryptOn = 1;
    bus->Password = reinterpret_cast<const unsigned char *>(password.data());
    bus->PasswordLen = static_cast<uint32_t>(password.size());
    ZipEntryInfo info{};
    info.Flags = 1;
    std::string buf = sealed;
    auto *p = reinterpret_cast<unsigned char *>(buf.data());
    const auto n = static_cast<uint32_t>(buf.size());

    CryptInitKeys(bus.get());
    CryptDecodeBuffer(n, p, &info, bus.get());
    if (buf.compare(12, std::string::npos, plain) != 0) {
        state.SkipWithError("decryption did not give the plain text back");
        return;
    }
    for (auto _ : state) {
        CryptInitKeys(bus.get());
        CryptDecodeBuffer(n, p, &info, bus.get());
        benchmark::DoNotOptimize(p);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(n));
}
BENCHMARK(BM_Decrypt)->Arg(4 << 10)->Arg(1 << 20);

} // namespace

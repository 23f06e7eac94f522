// micro_reader.cc - central directory and local header reads, entries per second
//
// One iteration opens an archive of N small members through the host, finds
// and checks its end record, and reads every central entry and its local
// header, exactly as the extraction loop does before it touches any data.
// Every field goes through its own one-byte host read, so this measures the
// host's buffered file service as much as the reader.
#include <benchmark/benchmark.h>

#include <cstdio>

#include "bench/micro_common.h"
#include "tests/support/zip_builder.h"
#include "vtq/host.h"

namespace {

// Reads every entry; returns how many were read whole, or -1.
long ReadAll(const char *path) {
    VTQ_FILE *f = VTQ_FileOpen(path, "rb");
    if (f == nullptr) return -1;
    ZipDirPos pos{};
    uint32_t entries = 0;
    long done = -1;
    if (VtqZip_FormatChk(f, &pos, &entries) == VTQ_OK) {
        done = 0;
        ZipEntryInfo info{};
        for (uint32_t i = 0; i < entries; ++i) {
            uint32_t local = 0, data = 0;
            char *name = nullptr;
            if (VtqZip_GetCurrentFileInfo(f, pos, &info, &local, &data, &name) != VTQ_OK) break;
            const bool ok = VtqZip_CurFileCoherencyCheck(f, pos, &info, local) == VTQ_OK;
            VTQ_free(name);
            if (!ok) break;
            pos.CentralPos += 46 + info.NameLen + info.ExtraLen + info.CommentLen;
            ++done;
        }
    }
    VTQ_FileClose(f);
    return done;
}

void BM_ReadEntries(benchmark::State &state) {
    const auto n = static_cast<long>(state.range(0));
    vtq::test::ZipArchive zip;
    for (long i = 0; i < n; ++i) {
        char name[80];
        std::snprintf(name, sizeof name, "docs/section%03ld/member%05ld.txt", i / 100, i);
        zip.Add(name, vtq::bench::Text(200, static_cast<uint64_t>(i)), 8);
    }
    vtq::bench::ScratchFile file("reader");
    vtq::test::WriteFile(file.path(), zip.Build());
    if (ReadAll(file.path().c_str()) != n) {
        state.SkipWithError("the reader did not read every entry");
        return;
    }
    for (auto _ : state) benchmark::DoNotOptimize(ReadAll(file.path().c_str()));
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_ReadEntries)->Arg(100)->Arg(10000);

} // namespace

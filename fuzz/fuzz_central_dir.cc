// fuzz_central_dir.cc - the central directory reader alone, over any bytes:
// the end record found and checked, every counted central entry read and
// each file entry's local header checked against it, on the unit tests'
// counting host (fuzz/README.md lists the checks).
#include "fuzz/fuzz_common.h"
#include "tests/support/test_host.h"
#include "vtq/zozaz.h"

namespace {

using vtq::fuzz::Die;
using vtq::fuzz::Expect;

void Walk(VTQ_FILE *f, const uint8_t *data, size_t size) {
    // A reported end record holds the signature within the last 65535 bytes.
    if (const uint32_t at = VtqZip_SearchCentralDir(f); at != 0)
        if (at > size - 4 || std::memcmp(data + at, "PK\x05\x06", 4) != 0 || size - at > 65535)
            Die("end record reported at " + std::to_string(at) + " of " + std::to_string(size));
    ZipDirPos pos{};
    ZipEntryInfo info{};
    uint32_t entries = 0, local = 0, data_at = 0;
    const uint32_t chk = VtqZip_FormatChk(f, &pos, &entries);
    Expect("FormatChk", chk, {0, 23, 25, 3100});
    for (uint32_t i = 0; chk == 0 && i < entries; ++i) {
        char *name = nullptr;
        const uint32_t r = VtqZip_GetCurrentFileInfo(f, pos, &info, &local, &data_at, &name);
        Expect("GetCurrentFileInfo", r, {0, 12, 25, 3100});
        if ((r != 0) != (name == nullptr)) Die("an entry read with code and name out of step");
        if (r != 0) return;
        const size_t len = std::strlen(name); // touches every byte up to the NUL
        if (len > info.NameLen) Die("name longer than its recorded length");
        const bool directory = len > 0 && name[len - 1] == '/';
        VTQ_free(name);
        if (!directory)
            Expect("CurFileCoherencyCheck", VtqZip_CurFileCoherencyCheck(f, pos, &info, local),
                   {0, 25, 3100});
        // A read lies inside the file and the position only grows: the walk
        // ends within size / 46 entries.
        pos.CentralPos += 46 + info.NameLen + info.ExtraLen + info.CommentLen;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const std::string path = vtq::fuzz::PrivateDir() + "/central.zip";
    vtq::fuzz::WriteBytes(path, data, size);
    vtq::test::Host &host = vtq::test::host();
    host.Reset();
    VTQ_FILE *f = VTQ_FileOpen(path.c_str(), "rb");
    if (f == nullptr) Die("cannot open the input file");
    Walk(f, data, size);
    VTQ_FileClose(f);
    if (host.live_allocs != 0) Die(std::to_string(host.live_allocs) + " host allocations kept");
    return 0;
}

// fuzz_central_dir.cc - the central directory reader alone, over any bytes, as
// the extraction loop reads it (fuzz/README.md lists the checks)
#include "fuzz/fuzz_common.h"
#include "tests/support/test_host.h"
#include "vtq/zozaz.h"

using namespace vtq::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const std::string path = PrivateDir() + "/central.zip";
    WriteBytes(path, data, size);
    const AllGivenBack guard(vtq::test::host());
    VTQ_FILE *f = VTQ_FileOpen(path.c_str(), "rb");
    if (f == nullptr) Die("cannot open the input file");
    // A reported end record holds the signature within the last 65535 bytes.
    if (const uint32_t at = VtqZip_SearchCentralDir(f); at != 0)
        if (at > size - 4 || std::memcmp(data + at, "PK\x05\x06", 4) != 0 || size - at > 65535)
            Die("end record reported at " + std::to_string(at) + " of " + std::to_string(size));
    ZipDirPos pos{};
    ZipEntryInfo info{};
    uint32_t entries = 0, local = 0, data_at = 0, r = VtqZip_FormatChk(f, &pos, &entries);
    Expect("FormatChk", r, {0, 23, 25, 3100});
    // Every counted entry, and every file entry's local header against it.
    for (uint32_t i = 0; r == 0 && i < entries; ++i) {
        char *name = nullptr;
        r = VtqZip_GetCurrentFileInfo(f, pos, &info, &local, &data_at, &name);
        Expect("GetCurrentFileInfo", r, {0, 12, 25, 3100});
        if ((r != 0) != (name == nullptr)) Die("an entry read with code and name out of step");
        if (r != 0) break;
        const size_t len = std::strlen(name); // touches every byte up to the NUL
        if (len > info.NameLen) Die("name longer than its recorded length");
        const bool directory = len > 0 && name[len - 1] == '/';
        VTQ_free(name);
        if (!directory)
            Expect("CurFileCoherencyCheck", VtqZip_CurFileCoherencyCheck(f, pos, &info, local),
                   {0, 25, 3100});
        // Reads stay inside the file and the position grows: the walk ends.
        pos.CentralPos += 46 + info.NameLen + info.ExtraLen + info.CommentLen;
    }
    VTQ_FileClose(f);
    return 0;
}

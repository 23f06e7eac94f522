// fuzz_central_dir.cc - the central directory reader alone, over any bytes
//
// The input is written to a file of the harness's own and read the way the
// extraction loop reads it: the end record is found and checked, then every
// counted central entry is read, and every file entry's local header is
// checked against it.  Nothing is decoded or written.  The reader runs on
// the unit tests' host (tests/support/test_host.cpp), which counts live
// allocations: every input must give back all it took.
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz/fuzz_common.h"
#include "tests/support/test_host.h"
#include "vtq/zozaz.h"

namespace {

using vtq::fuzz::Die;

constexpr uint32_t kCentralHeaderSize = 46;
constexpr uint32_t kTailSpan = 65535;

bool OneOf(uint32_t code, std::initializer_list<uint32_t> codes) {
    for (uint32_t c : codes)
        if (c == code) return true;
    return false;
}

// The end record search: a position it reports must hold the signature
// and lie within the last 65535 bytes.
void CheckSearch(VTQ_FILE *f, const uint8_t *data, size_t size) {
    const uint32_t found = VtqZip_SearchCentralDir(f);
    if (found == 0) return;
    if (found > size - 4 || std::memcmp(data + found, "PK\x05\x06", 4) != 0)
        Die("end record reported at " + std::to_string(found) + " holds no signature");
    if (size - found > kTailSpan)
        Die("end record reported " + std::to_string(size - found) + " bytes from the end");
}

void Walk(VTQ_FILE *f) {
    ZipDirPos pos{};
    uint32_t entries = 0;
    const uint32_t chk = VtqZip_FormatChk(f, &pos, &entries);
    if (!OneOf(chk, {0, 23, 25, 3100})) Die("FormatChk returned " + std::to_string(chk));
    if (chk != 0) return;

    ZipEntryInfo info{};
    for (uint32_t i = 0; i < entries; ++i) {
        char *name = nullptr;
        uint32_t local_offset = 0, data_offset = 0;
        const uint32_t r =
            VtqZip_GetCurrentFileInfo(f, pos, &info, &local_offset, &data_offset, &name);
        if (!OneOf(r, {0, 12, 25, 3100})) Die("GetCurrentFileInfo returned " + std::to_string(r));
        if (r != 0) {
            if (name != nullptr) Die("a failed entry read handed out a name");
            return;
        }
        if (name == nullptr) Die("an entry read without a name");
        const size_t len = std::strlen(name); // also touches every byte up to the NUL
        if (len > info.NameLen) Die("name longer than its recorded length");
        const bool directory = len > 0 && name[len - 1] == '/';
        VTQ_free(name);
        if (!directory) {
            const uint32_t c = VtqZip_CurFileCoherencyCheck(f, pos, &info, local_offset);
            if (!OneOf(c, {0, 25, 3100})) Die("CurFileCoherencyCheck returned " + std::to_string(c));
        }
        // Each successful read lies inside the file and the position only
        // grows, so the walk ends within size / 46 entries.
        pos.CentralPos += kCentralHeaderSize + info.NameLen + info.ExtraLen + info.CommentLen;
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
    CheckSearch(f, data, size);
    Walk(f);
    VTQ_FileClose(f);
    if (host.live_allocs != 0)
        Die(std::to_string(host.live_allocs) + " host allocations not given back");
    return 0;
}

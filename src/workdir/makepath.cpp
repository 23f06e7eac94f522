// makepath.cpp - make the work directory, with a fresh name when it is taken
//
// Two modes share one routine.  Plain mode makes a member's directory and,
// when a file already holds that name, makes "<name>DIR" beside it instead.
// Unique mode makes the work directory of an extraction: when the name is
// taken by anything it tries "<name>DIR", then "<name>DIR1", "<name>DIR2",
// and so on.  The numbering lives in the context (DirCounter, DirBase), so it
// carries on across the requests of one extraction.
#include <charconv>
#include <cstdint>
#include <cstring>

#include "host/services.h"
#include "vtq/zozaz.h"

namespace vtq {
namespace {

// The host's failure result of VTQ_MkDir.  Each make decision compares with
// exactly this value, so that a host reporting some other negative number
// for "already there" is taken at its word as having made nothing wrong.
constexpr int kMkDirFailed = -1;

constexpr char kDirSuffix[] = "DIR";
constexpr size_t kDirSuffixLen = sizeof(kDirSuffix) - 1;

// Appends "DIR" to the NUL-terminated path in a VTQ_PATH_MAX buffer.
// Returns false, with the buffer unchanged, when the result and its NUL
// would not fit.
bool AppendDirSuffix(char *path) {
    size_t len = strnlen(path, VTQ_PATH_MAX);
    if (VTQ_PATH_MAX - len <= kDirSuffixLen) return false;
    std::memcpy(path + len, kDirSuffix, kDirSuffixLen + 1);
    return true;
}

// Writes DirBase followed by DirCounter in decimal (as "%d" prints it, so a
// counter past INT32_MAX reads as a negative number) into path.  Returns
// false, with path unchanged, when the name and its NUL would not fit.
bool FormNumberedName(const ZipBus &bus, char *path) {
    char digits[16];
    auto [end, ec] =
        std::to_chars(digits, digits + sizeof(digits), static_cast<int32_t>(bus.DirCounter));
    if (ec != std::errc()) return false;
    size_t ndigits = static_cast<size_t>(end - digits);
    size_t base_len = strnlen(bus.DirBase, VTQ_PATH_MAX);
    if (base_len >= VTQ_PATH_MAX || VTQ_PATH_MAX - base_len <= ndigits) return false;
    // memmove: a caller may hand the context's own DirBase in as path.
    std::memmove(path, bus.DirBase, base_len);
    std::memcpy(path + base_len, digits, ndigits);
    path[base_len + ndigits] = '\0';
    return true;
}

// Plain mode.  Returns the host's result of the last make request, or 27
// when a non-directory holds the name and "<name>DIR" could not be made (or
// would not fit in the buffer).
int32_t MakePlain(char *path) {
    int r = VTQ_MkDir(path);
    if (r != kMkDirFailed) return r;
    // A missing parent, or a directory that is already there: nothing to
    // fall back to, and the failure is the host's own.
    if (VTQ_IsExist(path) == 0 || VTQ_IsDirectory(path) != 0) return kMkDirFailed;
    if (!AppendDirSuffix(path)) return static_cast<int32_t>(VTQ_E_PATH);
    r = VTQ_MkDir(path);
    return r >= 0 ? r : static_cast<int32_t>(VTQ_E_PATH);
}

// Unique mode, written as a loop: each taken name leads to exactly one next
// name, and the result of the last attempt is the result.
int32_t MakeUnique(ZipBus *bus, char *path) {
    for (;;) {
        if (VTQ_MkDir(path) != kMkDirFailed) return 0;
        // The make failed for a reason other than a taken name (a missing
        // parent, say): plain mode gives the host's own answer.
        if (VTQ_IsExist(path) == 0) return MakePlain(path);
        if (bus->DirCounter == 0) {
            if (!AppendDirSuffix(path)) return static_cast<int32_t>(VTQ_E_PATH);
            bus->DirCounter = 1;
            std::memset(bus->DirBase, 0, sizeof(bus->DirBase));
            std::memcpy(bus->DirBase, path, strnlen(path, VTQ_PATH_MAX - 1));
        } else {
            if (!FormNumberedName(*bus, path)) return static_cast<int32_t>(VTQ_E_PATH);
            ++bus->DirCounter;
        }
    }
}

} // namespace
} // namespace vtq

// Makes the directory named by path (a NUL-terminated path in a writable
// VTQ_PATH_MAX buffer).  mode non-zero (unique): returns 0 once a directory
// is made under path or a fresh name written into path; when the make
// fails with nothing in the way, the plain-mode result.  mode 0 (plain):
// returns the host's result of the last make request (0 made, -1 not made:
// the parent is missing or the directory already exists), with path ending
// in "DIR" when a file held the name.  Either mode returns 27 when a name
// would not fit in the buffer or "<name>DIR" could not be made; path is
// then left as it was before the name that did not fit.
extern "C" VTQ_FILTER_API int32_t zip_makepath(ZipBus *bus, char *path, int mode) {
    return mode != 0 ? vtq::MakeUnique(bus, path) : vtq::MakePlain(path);
}

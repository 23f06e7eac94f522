// fuzz_common.cc - private directory, listings and the hard stop
#include "fuzz/fuzz_common.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace vtq::fuzz {

void Die(const std::string &what) {
    std::fprintf(stderr, "fuzz harness: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

namespace {

void RemovePrivateDir() {
    std::error_code ec;
    fs::remove_all(PrivateDir(), ec);
}

// In VTQ_FUZZ_TMP when set, else in /dev/shm when there is one, else in
// TMPDIR or /tmp.  Memory-backed is much faster: every input is written
// anew, and ext4 flushes a file that is truncated and written again.
std::string MakePrivateDir() {
    const char *base = std::getenv("VTQ_FUZZ_TMP");
    std::error_code ec;
    if (base == nullptr || *base == '\0')
        base = fs::is_directory("/dev/shm", ec) && access("/dev/shm", W_OK) == 0
                   ? "/dev/shm"
                   : std::getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/vtqfuzz-XXXXXX";
    if (mkdtemp(tmpl.data()) == nullptr) Die("cannot make a private directory in " + tmpl);
    return tmpl;
}

} // namespace

const std::string &PrivateDir() {
    // Never destroyed: the exit handler that removes the directory needs
    // its name after static destructors have run.
    static const std::string *const dir = [] {
        auto *d = new std::string(MakePrivateDir());
        std::atexit(RemovePrivateDir);
        return d;
    }();
    return *dir;
}

void WriteBytes(const std::string &path, const uint8_t *data, size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(data), static_cast<std::streamsize>(size));
    out.close();
    if (!out) Die("cannot write " + path);
}

std::vector<std::string> Listing(const std::string &dir) {
    std::vector<std::string> out;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::end(it);
         it.increment(ec)) {
        std::string rel = fs::relative(it->path(), dir).string();
        if (it->is_directory() && !it->is_symlink()) rel += "/";
        out.push_back(rel);
    }
    std::sort(out.begin(), out.end());
    return out;
}

void Empty(const std::string &dir) {
    std::error_code ec;
    for (auto it = fs::directory_iterator(dir, ec); !ec && it != fs::end(it); it.increment(ec))
        fs::remove_all(it->path(), ec);
}

bool DocumentedCode(uint32_t code) {
    static constexpr uint32_t kCodes[] = {0,    11,   12,   22,   23,   24,   25,   26,
                                          27,   2001, 3001, 3003, 3005, 3100, 3101, 3102,
                                          5001, 6000, 6002, 6003, 6006};
    return std::find(std::begin(kCodes), std::end(kCodes), code) != std::end(kCodes);
}

} // namespace vtq::fuzz

// fuzz_common.cc - the harnesses' skeleton, and the replay main()
#include "fuzz/fuzz_common.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

namespace vtq::fuzz {

void Die(const std::string &what) {
    std::fprintf(stderr, "fuzz harness: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

void Expect(const char *call, uint32_t code, std::initializer_list<uint32_t> codes) {
    if (std::find(codes.begin(), codes.end(), code) == codes.end())
        Die(std::string(call) + " returned " + std::to_string(code));
}

// In VTQ_FUZZ_TMP, else /dev/shm (ext4 flushes a file rewritten: ten times
// slower), else TMPDIR or /tmp; removed at exit, after the static destructors.
const std::string &PrivateDir() {
    static const std::string *const dir = [] {
        const char *base = std::getenv("VTQ_FUZZ_TMP");
        if (base == nullptr || *base == '\0')
            base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : std::getenv("TMPDIR");
        auto *d = new std::string(std::string(base && *base ? base : "/tmp") + "/vtqfuzz-XXXXXX");
        if (mkdtemp(d->data()) == nullptr) Die("cannot make " + *d);
        std::atexit([] {
            std::error_code ec;
            fs::remove_all(PrivateDir(), ec);
        });
        return d;
    }();
    return *dir;
}

void WriteBytes(const std::string &path, const uint8_t *data, size_t size) {
    FILE *f = std::fopen(path.c_str(), "wb");
    if (f == nullptr || std::fwrite(data, 1, size, f) != size || std::fclose(f) != 0)
        Die("cannot write " + path);
}

} // namespace vtq::fuzz

#ifdef VTQ_FUZZ_REPLAY
// Every file below the directories named (a missing one throws), in order.
int main(int argc, char **argv) {
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i)
        for (const auto &e : fs::recursive_directory_iterator(argv[i]))
            if (e.is_regular_file()) inputs.push_back(e.path());
    std::sort(inputs.begin(), inputs.end());
    for (const fs::path &p : inputs) {
        std::ifstream in(p, std::ios::binary);
        const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                         std::istreambuf_iterator<char>());
        in.close(); // before the harness runs: it checks for open files
        std::printf("replay: %s (%zu bytes)\n", p.c_str(), bytes.size());
        std::fflush(stdout);
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    }
    std::printf("replay: %zu inputs, no finding\n", inputs.size());
}
#endif

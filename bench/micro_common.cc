// micro_common.cc - shared set-up of the micro-benchmarks
#include "bench/micro_common.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vtq::bench {

std::string Text(size_t size, uint64_t seed) {
    // A small fixed vocabulary drawn with a skew, as in prose; the same
    // generator idea as the benchmark archives, kept short here.
    static const char *const kWords[] = {
        "the",     "of",      "and",         "archive",      "member",
        "text",    "filter",  "host",        "deflate",      "stream",
        "record",  "central", "directory",   "entry",        "output",
        "limit",   "buffer",  "caf\xC3\xA9", "na\xC3\xAFve", "\xE6\x97\xA5\xE6\x9C\xAC",
        "window",  "block",   "code",        "length",       "distance",
        "literal", "symbol",  "table",       "header",       "local",
        "name",    "size"};
    constexpr uint64_t kCount = sizeof kWords / sizeof kWords[0];
    uint64_t s = seed * 0x9E3779B97F4A7C15ull + 1;
    auto next = [&s] {
        s ^= s >> 12;
        s ^= s << 25;
        s ^= s >> 27;
        return (s * 0x2545F4914F6CDD1Dull) >> 32;
    };
    std::string out;
    out.reserve(size + 16);
    size_t line = 0;
    while (out.size() < size) {
        const char *w = kWords[(next() % kCount) * (next() % kCount) / kCount];
        out += w;
        line += std::strlen(w) + 1;
        out += line > 70 ? '\n' : ' ';
        if (line > 70) line = 0;
        if (next() % 7 == 0) out += std::to_string(next() % 100000) + ' ';
    }
    // Cut at a character boundary and pad with ASCII.
    size_t cut = size;
    while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;
    out.resize(cut);
    out.append(size - cut, ' ');
    return out;
}

std::unique_ptr<ZipBus> ComposeBus(const TxtOptions *opts) {
    auto bus = std::make_unique<ZipBus>();
    std::memset(bus.get(), 0, sizeof *bus);
    bus->Options = opts;
    bus->FileMode = 1;
    TransOption(bus->Option, opts->FormatFlags);
    bus->CpuBigEndian = IsCPUBigEndian();
    bus->SwapBytes = bus->CpuBigEndian;
    return bus;
}

ScratchFile::ScratchFile(const std::string &tag) {
    const char *dir = std::getenv("TMPDIR");
    path_ = std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/vtq-micro-" + tag + "-" +
            std::to_string(::getpid());
}

ScratchFile::~ScratchFile() { std::remove(path_.c_str()); }

} // namespace vtq::bench

// options.cpp - option words from the host's format flags, and the byte-order probe
#include <cstdint>
#include <cstring>

#include "entry/options.h"
#include "vtq/host.h"
#include "vtq/zozaz.h"

namespace {

constexpr uint32_t Bit(uint32_t flags, unsigned n) { return (flags >> n) & 1u; }

// The line-break mode: the lowest of bits 3 to 7 that is set picks modes 1
// to 5; with none of them set the mode is 1, the same as bit 3.
constexpr uint32_t LineBreakMode(uint32_t flags) {
    for (unsigned n = 3; n <= 7; ++n)
        if (Bit(flags, n) != 0) return n - 2;
    return 1;
}

} // namespace

// Fills words[0..9] from flags.  Words 2 and 3/4 exclude each other: the
// group bit (word 1) decides whether bit 13 (word 2) or bits 14 and 15
// (words 3 and 4) count.  words must hold ten entries; every one is written.
extern "C" VTQ_FILTER_API void TransOption(uint32_t *words, uint32_t flags) {
    words[1] = Bit(flags, 12);
    words[2] = Bit(flags, 13);
    words[3] = Bit(flags, 14);
    words[4] = Bit(flags, 15);
    if (words[1] == 0) {
        words[3] = 0;
        words[4] = 0;
    } else {
        words[2] = 0;
    }
    words[5] = Bit(flags, 22);
    words[0] = Bit(flags, 1);
    words[6] = Bit(flags, 18);
    words[7] = Bit(flags, 19);
    words[8] = Bit(flags, 27);
    words[9] = LineBreakMode(flags);
}

// 1 when the processor stores the high byte of a 16-bit value first.
// Looks at real memory rather than a compile-time constant, so that the
// answer is the one of the machine the library runs on.
extern "C" VTQ_FILTER_API uint32_t IsCPUBigEndian(void) {
    const uint16_t probe = 0x1234;
    unsigned char bytes[sizeof probe];
    std::memcpy(bytes, &probe, sizeof probe);
    return bytes[0] == 0x12 ? 1u : 0u;
}

namespace vtq::entry {

bool ProbeByteOrder(ZipBus &bus, const char *archive) {
    // The local header signature "PK\3\4" as a little-endian word, and the
    // same four bytes read by a processor of the other byte order.
    constexpr uint32_t kSignature = 0x04034b50u;
    constexpr uint32_t kSwappedSignature = 0x504b0304u;

    bus.InFile = VTQ_FileOpen(archive, "rb");
    if (bus.InFile == nullptr) return false;
    uint32_t probe = 0;
    // The count is not needed: a short read leaves the rest of the word 0.
    (void)VTQ_FileRead(&probe, 1, sizeof probe, bus.InFile);
    VTQ_FileClose(bus.InFile);
    bus.InFile = nullptr;

    if (probe == kSignature)
        bus.FileBigEndian = 0;
    else if (probe == kSwappedSignature)
        bus.FileBigEndian = 1;
    bus.CpuBigEndian = IsCPUBigEndian();
    bus.SwapBytes = bus.FileBigEndian == 0 ? bus.CpuBigEndian : (bus.CpuBigEndian ^ 1u);
    return true;
}

} // namespace vtq::entry

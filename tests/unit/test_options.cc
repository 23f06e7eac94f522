// test_options.cc - option words from FormatFlags, and the archive byte-order probe
#include <bit>
#include <cstring>
#include <memory>

#include "entry/options.h"
#include "tests/support/fixture.h"
#include "tests/support/zip_builder.h"
#include "vtq/zozaz.h"

namespace vtq::test {
namespace {

TEST(Options, TransOptionFillsEveryWord) {
    const struct { const char *what; uint32_t flags; uint32_t words[10]; } rows[] = {
        {"none", 0, {0, 0, 0, 0, 0, 0, 0, 0, 0, 1}},
        // The group bit (12) admits bits 14 and 15 and shuts out bit 13.
        {"group 13 14", (1u << 12) | (1u << 13) | (1u << 14), {0, 1, 0, 1, 0, 0, 0, 0, 0, 1}},
        {"group 15", (1u << 12) | (1u << 15), {0, 1, 0, 0, 1, 0, 0, 0, 0, 1}},
        {"no group 14 15", (1u << 14) | (1u << 15), {0, 0, 0, 0, 0, 0, 0, 0, 0, 1}},
        {"no group 13", 1u << 13, {0, 0, 1, 0, 0, 0, 0, 0, 0, 1}},
        {"singles", (1u << 1) | (1u << 22) | (1u << 18) | (1u << 19) | (1u << 27), {1, 0, 0, 0, 0, 1, 1, 1, 1, 1}},
        // Line-break mode: the lowest of bits 3..7 wins.
        {"eol 3+6", 0x8 | 0x40, {0, 0, 0, 0, 0, 0, 0, 0, 0, 1}},
        {"eol 4", 0x10, {0, 0, 0, 0, 0, 0, 0, 0, 0, 2}},
        {"eol 5+7", 0x20 | 0x80, {0, 0, 0, 0, 0, 0, 0, 0, 0, 3}},
        {"eol 6", 0x40, {0, 0, 0, 0, 0, 0, 0, 0, 0, 4}},
        {"eol 7", 0x80, {0, 0, 0, 0, 0, 0, 0, 0, 0, 5}},
        // Bits that mean nothing here change nothing.
        {"unread bits", 0xF7B30E05u, {0, 0, 0, 0, 0, 0, 0, 0, 0, 1}},
    };
    for (const auto &r : rows) {
        uint32_t words[10];
        std::memset(words, 0xEE, sizeof words); // every word must be written
        TransOption(words, r.flags);
        for (int i = 0; i < 10; ++i) EXPECT_EQ(words[i], r.words[i]) << r.what << " word " << i;
    }
}

class Probe : public HostTest {};

// The first four bytes set the file's byte order (neither signature leaves
// it as it was), the processor's as IsCPUBigEndian gives it, and the swap.
TEST_F(Probe, FirstFourBytesSetTheFileByteOrder) {
    const uint32_t cpu = std::endian::native == std::endian::big ? 1u : 0u;
    const struct { std::string bytes; uint32_t file_big, preset; } rows[] = {
        {"PK\3\4rest", 0, 1}, {"\4\3KPrest", 1, 0}, {"abcd", 0, 0}, {"abcd", 1, 1}, {"PK", 0, 0}, {"", 1, 1}};
    for (const auto &r : rows) {
        WriteFile(Path("a.zip"), r.bytes);
        auto bus = std::make_unique<ZipBus>();
        bus->FileBigEndian = r.preset;
        ASSERT_TRUE(entry::ProbeByteOrder(*bus, Path("a.zip").c_str()));
        EXPECT_EQ(bus->FileBigEndian, r.file_big) << r.bytes;
        EXPECT_EQ(bus->CpuBigEndian, cpu);
        EXPECT_EQ(bus->SwapBytes, r.file_big ? cpu ^ 1u : cpu) << r.bytes;
        EXPECT_EQ(bus->InFile, nullptr);
    }
    auto bus = std::make_unique<ZipBus>();
    EXPECT_FALSE(entry::ProbeByteOrder(*bus, Path("missing.zip").c_str()));
}

} // namespace
} // namespace vtq::test

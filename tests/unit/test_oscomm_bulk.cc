// test_oscomm_bulk.cc - the stand-in runtime's paths for bulk work: large
// blocks of memory
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>

#include "host/oscomm/oscomm.h"

namespace os = vtq::oscomm;

namespace {

// The process's mapped address space, from /proc (kB).
long VmSizeKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmSize:", 0) == 0) return std::stol(line.substr(7));
    return -1;
}

// Blocks around the size where the allocator switches to huge-page
// mappings, and member-sized ones: each is usable to its last byte, keeps
// malloc's alignment, and goes back whole (the address space is the same
// after a hundred rounds).
TEST(OscommMemory, LargeBlocksAreUsableAndGivenBackWhole) {
    const size_t sizes[] = {(size_t{2} << 20) - 17, size_t{2} << 20, (size_t{2} << 20) + 1,
                            size_t{32} << 20, (size_t{32} << 20) + 4097};
    for (size_t size : sizes) {
        auto *p = static_cast<unsigned char *>(os::mem_alloc(size));
        ASSERT_NE(p, nullptr) << size;
        EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 16, 0u) << size;
        std::memset(p, 0xA5, size);
        EXPECT_EQ(p[0] + p[size - 1], 2 * 0xA5);
        os::mem_free(p);
    }
    const long before = VmSizeKb();
    for (int round = 0; round < 100; ++round) {
        void *a = os::mem_alloc(size_t{9} << 20);
        void *b = os::mem_alloc(size_t{33} << 20);
        ASSERT_TRUE(a != nullptr && b != nullptr);
        os::mem_free(a);
        os::mem_free(b);
    }
    EXPECT_EQ(VmSizeKb(), before);
    os::mem_free(nullptr);
}

} // namespace

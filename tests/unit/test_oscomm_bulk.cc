// test_oscomm_bulk.cc - the stand-in runtime's paths for bulk work: large
// blocks of memory, buffered file handles, the default temporary directory
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "host/oscomm/oscomm.h"
#include "tests/support/fixture.h"
#include "tests/support/zip_builder.h"

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
#if !defined(__SANITIZE_ADDRESS__) // there the blocks come from the sanitizer's malloc
    EXPECT_EQ(VmSizeKb(), before);
#else
    (void)before;
#endif
    os::mem_free(nullptr);
}

class OscommFiles : public vtq::test::HostTest {};

// A handle opened "wb+" driven through a long pseudo-random mix of small
// and window-sized reads and writes, seeks (past the end too) and size
// queries, against a string that models the file: every count, every byte
// read and every size must match the model, and so must the file after
// the close.  Windows of the handle are 64 KiB, so the file is made to
// span several and the transfers to cross their edges.
TEST_F(OscommFiles, ReadsAndWritesMatchAPlainModelOfTheFile) {
    const std::string path = Path("model");
    VTQ_FILE *f = os::file_open(path.c_str(), "wb+");
    ASSERT_NE(f, nullptr);
    std::string model;
    int64_t pos = 0;
    uint32_t s = 7;
    auto next = [&s](uint32_t n) {
        s = s * 1103515245u + 12345u;
        return (s >> 8) % n;
    };
    std::string buf;
    for (int step = 0; step < 3000; ++step) {
        const uint32_t op = next(10);
        const size_t len = next(4) == 0 ? 60000 + next(80000) : next(300);
        if (op < 4) { // write
            buf.assign(len, static_cast<char>('a' + step % 26));
            ASSERT_EQ(os::file_write(buf.data(), 1, len, f), len) << step;
            if (model.size() < pos + len) model.resize(pos + len, '\0');
            model.replace(pos, len, buf);
            pos += static_cast<int64_t>(len);
        } else if (op < 7) { // read in items of 3 bytes
            buf.assign(len + 3, '?');
            const size_t items = os::file_read(buf.data(), 3, len / 3 + 1, f);
            const size_t avail = pos < static_cast<int64_t>(model.size()) ? model.size() - pos : 0;
            const size_t got = std::min(avail, 3 * (len / 3 + 1));
            ASSERT_EQ(items, got / 3) << step;
            if (got > 0) {
                ASSERT_EQ(buf.compare(0, got, model, pos, got), 0) << step;
            }
            pos += static_cast<int64_t>(got);
        } else if (op < 9) { // seek, sometimes past the end
            const int64_t to = next(static_cast<uint32_t>(model.size() + 20000) + 1);
            ASSERT_EQ(os::file_seek(f, to, 0), 0);
            pos = to;
        } else {
            ASSERT_EQ(os::file_tell_size(f), static_cast<int64_t>(model.size())) << step;
        }
    }
    ASSERT_GT(model.size(), size_t{200000});
    EXPECT_EQ(os::file_seek(f, -1, 0), -1);
    EXPECT_EQ(os::file_seek(f, -3, 2), 0);
    buf.assign(8, '?');
    EXPECT_EQ(os::file_read(buf.data(), 1, 8, f), 3u);
    EXPECT_EQ(buf.compare(0, 3, model, model.size() - 3, 3), 0);
    EXPECT_EQ(os::file_close(f), 0);
    EXPECT_TRUE(vtq::test::ReadFile(path) == model);
}

// What each mode allows, and appending.
TEST_F(OscommFiles, ModesAllowWhatStdioAllows) {
    const std::string path = Path("m");
    vtq::test::WriteFile(path, "0123");
    char c = 0;
    VTQ_FILE *r = os::file_open(path.c_str(), "rb");
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(os::file_write("x", 1, 1, r), 0u);
    EXPECT_EQ(os::file_read(&c, 1, 1, r), 1u);
    EXPECT_EQ(os::file_close(r), 0);
    VTQ_FILE *a = os::file_open(path.c_str(), "ab");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(os::file_read(&c, 1, 1, a), 0u);
    EXPECT_EQ(os::file_write("45", 1, 2, a), 2u);
    EXPECT_EQ(os::file_tell_size(a), 6);
    EXPECT_EQ(os::file_close(a), 0);
    EXPECT_EQ(vtq::test::ReadFile(path), "012345");
    VTQ_FILE *w = os::file_open(path.c_str(), "wb");
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(os::file_tell_size(w), 0);
    EXPECT_EQ(os::file_read(&c, 1, 1, w), 0u);
    EXPECT_EQ(os::file_close(w), 0);
    EXPECT_EQ(os::file_open(path.c_str(), "q"), nullptr);
    EXPECT_EQ(os::file_open(path.c_str(), ""), nullptr);
}

// Without TMPDIR, temporary names go to /dev/shm when a name can be made
// there, else to /tmp.
TEST_F(OscommFiles, TemporaryNamesDefaultToMemory) {
    unsetenv("TMPDIR");
    char buf[4096];
    ASSERT_EQ(os::tmp_name(buf), buf);
    const std::string name = buf;
    EXPECT_EQ(os::remove_file((name + ".x").c_str()), -1); // drops the stem all the same
    EXPECT_FALSE(os::is_exist(name.c_str()));
    const bool shm_usable = access("/dev/shm", W_OK | X_OK) == 0;
    EXPECT_EQ(name.rfind(shm_usable ? "/dev/shm/vtqz-" : "/tmp/vtqz-", 0), 0u) << name;
}

} // namespace

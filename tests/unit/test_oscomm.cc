// test_oscomm.cc - the stand-in runtime: file and memory-file handles against a model
#include <algorithm>
#include <string>

#include "host/oscomm/oscomm.h"
#include "tests/support/fixture.h"
#include "tests/support/zip_builder.h"

namespace os = vtq::oscomm;
using vtq::test::ReadFile;

namespace {

class Oscomm : public vtq::test::HostTest {};

std::string Viewed(const std::string &path) {
    const unsigned char *data = nullptr;
    uint64_t size = 0;
    if (os::store_view(path.c_str(), &data, &size) != 1) return "(no view)";
    return std::string(reinterpret_cast<const char *>(data), size);
}

// A handle opened "wb+" through a long pseudo-random mix of small and
// window-sized reads and writes, seeks (past the end too) and size queries,
// against a string that models the file; the handle's windows are 64 KiB,
// so transfers cross their edges.  The same for a memory file, which moves
// into a memfd at 1 MiB and then gathers small appends.  Then what each
// mode allows, as stdio does.
TEST_F(Oscomm, HandlesMatchAPlainModelOfTheFile) {
    char name[4096];
    for (const std::string &path : {Path("model"), std::string(os::tmp_name(name))}) {
        VTQ_FILE *f = os::file_open(path.c_str(), "wb+");
        ASSERT_NE(f, nullptr);
        std::string model, buf;
        size_t pos = 0;
        uint32_t s = 7;
        auto next = [&s](uint32_t n) { return ((s = s * 1103515245u + 12345u) >> 8) % n; };
        for (int step = 0; step < 3000; ++step) {
            const uint32_t op = next(10);
            const size_t len = next(4) == 0 ? 60000 + next(80000) : next(300);
            if (op < 4) {
                buf.assign(len, static_cast<char>('a' + step % 26));
                ASSERT_EQ(os::file_write(buf.data(), 1, len, f), len) << step;
                if (model.size() < pos + len) model.resize(pos + len, '\0');
                model.replace(pos, len, buf);
                pos += len;
            } else if (op < 7) { // items of 3 bytes
                buf.assign(len + 3, '?');
                const size_t items = os::file_read(buf.data(), 3, len / 3 + 1, f);
                const size_t got =
                    std::min(pos < model.size() ? model.size() - pos : 0, 3 * (len / 3 + 1));
                ASSERT_EQ(items, got / 3) << step;
                ASSERT_TRUE(got == 0 || buf.compare(0, got, model, pos, got) == 0) << step;
                pos += got;
            } else if (op < 9) {
                pos = next(static_cast<uint32_t>(model.size() + 20000) + 1);
                ASSERT_EQ(os::file_seek(f, static_cast<int64_t>(pos), 0), 0);
            } else {
                ASSERT_EQ(os::file_tell_size(f), static_cast<int64_t>(model.size())) << step;
            }
        }
        ASSERT_GT(model.size(), size_t{200000});
        EXPECT_EQ(os::file_seek(f, -1, 0), -1);
        EXPECT_EQ(os::file_seek(f, -3, 2), 0);
        EXPECT_EQ(os::file_read(buf.data(), 1, 8, f), 3u);
        EXPECT_EQ(buf.compare(0, 3, model, model.size() - 3, 3), 0);
        EXPECT_EQ(os::file_close(f), 0);
        EXPECT_EQ(os::file_size_by_path(path.c_str()), static_cast<int64_t>(model.size()));
        EXPECT_TRUE((path == Path("model") ? ReadFile(path) : Viewed(path)) == model);
        char c = 0;
        VTQ_FILE *r = os::file_open(path.c_str(), "rb"), *a = os::file_open(path.c_str(), "ab");
        EXPECT_EQ(os::file_write("x", 1, 1, r) + os::file_read(&c, 1, 1, a), 0u);
        EXPECT_EQ(os::file_read(&c, 1, 1, r), 1u);
        EXPECT_EQ(os::file_write("45", 1, 2, a), 2u);
        EXPECT_EQ(os::file_tell_size(a), static_cast<int64_t>(model.size() + 2));
        EXPECT_EQ(os::file_close(r) + os::file_close(a), 0);
        os::remove_file(path.c_str());
    }
}

// A memory file just opened for writing takes a block whole and is then
// viewed in place; a file with bytes, or one on disk, leaves the block
// with the caller.  Writing on moves the bytes into a memfd.
TEST_F(Oscomm, AdoptedBlockBecomesTheFile) {
    char name[4096];
    os::tmp_name(name);
    const size_t n = 3u << 20;
    auto *block = static_cast<unsigned char *>(os::mem_alloc(n));
    ASSERT_NE(block, nullptr);
    std::string model(n, 'a');
    std::copy(model.begin(), model.end(), block);
    VTQ_FILE *disk = os::file_open(Path("disk").c_str(), "wb");
    EXPECT_EQ(os::file_adopt(disk, block, n), 0);
    EXPECT_EQ(os::file_close(disk), 0);
    VTQ_FILE *f = os::file_open(name, "wb+");
    EXPECT_EQ(os::file_write("x", 1, 1, f), 1u);
    EXPECT_EQ(os::file_close(f), 0);
    f = os::file_open(name, "rb+"); // at 0, yet the file holds a byte
    EXPECT_EQ(os::file_adopt(f, block, n), 0);
    EXPECT_EQ(os::file_close(f), 0);
    f = os::file_open(name, "wb+");
    ASSERT_EQ(os::file_adopt(f, block, n), 1);
    const unsigned char *data = nullptr;
    uint64_t size = 0;
    EXPECT_EQ(os::store_state(name), 2);
    EXPECT_EQ(os::store_view(name, &data, &size), 1);
    EXPECT_TRUE(data == block && size == n);
    EXPECT_EQ(os::file_write("b", 1, 1, f), 1u);
    EXPECT_EQ(os::file_close(f), 0);
    EXPECT_EQ(os::store_state(name), 1);
    EXPECT_EQ(Viewed(name), model + "b");
    os::remove_file(name);
}

} // namespace

// test_oscomm.cc - the stand-in runtime: listings, temporary names, memory, files
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "host/oscomm/oscomm.h"
#include "tests/support/fixture.h"
#include "tests/support/zip_builder.h"

namespace os = vtq::oscomm;
namespace fs = std::filesystem;
using vtq::test::ReadFile;
using vtq::test::WriteFile;

namespace {

class Oscomm : public vtq::test::HostTest {};

std::string BaseName(const std::string &p) { return p.substr(p.rfind('/') + 1); }

// Lists dir with the host calls alone, as the filter's removal walk does,
// handing each entry's path to each while the listing is open; nothing may
// be written past the entry record.
void List(const std::string &dir, const std::function<void(const std::string &)> &each) {
    uint8_t state[VTQ_DIRSTATE_SIZE] = {};
    ASSERT_NE(os::dir_open((dir + "/*").c_str(), state), 0) << dir;
    uint8_t entry[VTQ_DIRENTRY_SIZE + 64];
    std::memset(entry, 0x5a, sizeof entry);
    while (os::dir_read(state, entry)) each(reinterpret_cast<char *>(entry + VTQ_DIRENTRY_NAME));
    os::dir_close(state);
    for (size_t i = VTQ_DIRENTRY_SIZE; i < sizeof entry; ++i) ASSERT_EQ(entry[i], 0x5a) << i;
}

// Entries come as full paths, "." and ".." included.  Where the full path
// passes the 512 bytes of the record, a /proc/self/fd path through the open
// listing still reaches the entry.  Links are not followed: a link to a
// directory is no directory to walk into.
TEST_F(Oscomm, ListingsReachTheEntryAndLinksAreNotFollowed) {
    std::string deep = Path("d");
    ASSERT_EQ(os::mkdir_(deep.c_str()), 0);
    while (deep.size() < 600) ASSERT_EQ(os::mkdir_((deep += "/" + std::string(200, 'd')).c_str()), 0);
    const std::string f(100, 'f');
    WriteFile(Path("d/" + f), "12345");
    WriteFile(deep + "/" + f, "12345");
    for (const std::string &d : {Path("d"), deep}) {
        std::set<std::string> names;
        List(d, [&](const std::string &p) {
            EXPECT_EQ(p.rfind(d.size() < 400 ? d + "/" : "/proc/self/fd/", 0), 0u) << p;
            names.insert(BaseName(p));
            if (BaseName(p) != f) return;
            EXPECT_EQ(os::file_size_by_path(p.c_str()), 5);
            EXPECT_EQ(os::remove_file(p.c_str()), 0);
        });
        EXPECT_EQ(names.size(), d == deep ? 3u : 4u);
        EXPECT_TRUE(names.count(".") && names.count("..") && names.count(f));
        EXPECT_FALSE(os::is_exist((d + "/" + f).c_str()));
    }
    uint8_t state[VTQ_DIRSTATE_SIZE] = {};
    EXPECT_EQ(os::dir_open(Path("missing/*").c_str(), state), 0);
    os::dir_close(state); // a state that never opened is left alone

    ASSERT_EQ(symlink(Path("d").c_str(), Path("link").c_str()), 0);
    ASSERT_EQ(symlink(Path("nowhere").c_str(), Path("dangling").c_str()), 0);
    EXPECT_TRUE(os::is_directory(Path("d").c_str()));
    EXPECT_FALSE(os::is_directory(Path("link").c_str()));
    EXPECT_TRUE(os::is_exist(Path("dangling").c_str()));
    EXPECT_FALSE(os::is_exist(Path("nowhere").c_str()));
    EXPECT_EQ(os::mkdir_(Path("d").c_str()), -1);
    EXPECT_EQ(os::file_size_by_path(Path("nowhere").c_str()), -1);
    EXPECT_EQ(os::file_open(Path("nowhere").c_str(), "rb"), nullptr);
    for (const auto &[p, at] : {std::pair{"a/b/c", 3}, {"abc", 0}, {"/abc", 0}, {"a/", 1}, {"", 0}})
        EXPECT_EQ(os::path_break(p), at) << p;
}

// Names are unique across threads and each is held by an empty file in
// TMPDIR, or beside the parent's output for tmp_name_in; without TMPDIR
// in /dev/shm when usable.  Removing "<name>.<suffix>" also drops the
// name, but only while it is still the empty file the reservation made.
TEST_F(Oscomm, TemporaryNames) {
    constexpr int kThreads = 8, kEach = 200;
    std::vector<std::vector<std::string>> names(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&names, t] {
            char buf[4096];
            for (int i = 0; i < kEach; ++i)
                if (os::tmp_name(buf) == buf) names[t].emplace_back(buf);
        });
    for (std::thread &t : threads) t.join();
    std::set<std::string> all;
    for (const auto &v : names)
        for (const std::string &n : v) {
            EXPECT_EQ(n.rfind(Path("tmp/vtqz-"), 0), 0u) << n;
            all.insert(n);
        }
    EXPECT_EQ(all.size(), size_t{kThreads * kEach});
    EXPECT_EQ(TmpFiles().size(), all.size());

    // Removing the member file drops its reserved stem, an empty directory,
    // and nothing that holds a file or merely looks like a stem.
    const struct { const char *suffix; bool stem_holds_a_file, stem_left; } stems[] = {
        {".doc", false, false}, {".tar.gz", false, false}, {".doc", true, true}, {"x.doc", false, true}};
    for (const auto &c : stems) {
        char stem[4096];
        ASSERT_EQ(os::tmp_name(stem), stem);
        EXPECT_TRUE(os::is_directory(stem)) << stem;
        if (c.stem_holds_a_file) WriteFile(std::string(stem) + "/data", "data");
        const std::string member = std::string(stem) + c.suffix;
        WriteFile(member, "member");
        EXPECT_EQ(os::remove_file(member.c_str()), 0);
        EXPECT_EQ(os::is_exist(stem) != 0, c.stem_left) << c.suffix << " " << c.stem_holds_a_file;
        fs::remove_all(stem);
    }
    fs::create_directory(Path("vtqz-abc")); // a short random part is no reserved name
    EXPECT_EQ(os::remove_file(Path("vtqz-abc.doc").c_str()), -1);
    EXPECT_TRUE(os::is_exist(Path("vtqz-abc").c_str()));

    char cwd[4096], buf[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(dir().c_str()), 0);
    for (const auto &[out, prefix] : {std::pair{Path("out.txt"), Path("vtqz-")}, {"out.txt", "./vtqz-"}}) {
        ParentInfo parent{};
        std::strcpy(parent.Path, out.c_str());
        EXPECT_EQ(os::tmp_name_in(&parent, buf), buf);
        EXPECT_EQ(std::string(buf).rfind(prefix, 0), 0u) << buf;
        EXPECT_EQ(os::rmdir_(buf), 0);
    }
    ASSERT_EQ(chdir(cwd), 0);
    setenv("TMPDIR", Path("no-such-dir").c_str(), 1);
    EXPECT_EQ(os::tmp_name(buf), nullptr);
    EXPECT_EQ(buf[0], '\0');
    unsetenv("TMPDIR");
    ASSERT_EQ(os::tmp_name(buf), buf);
    EXPECT_EQ(os::remove_file((std::string(buf) + ".x").c_str()), -1); // drops the name all the same
    EXPECT_FALSE(os::is_exist(buf));
    EXPECT_EQ(std::string(buf).rfind(access("/dev/shm", W_OK | X_OK) == 0 ? "/dev/shm/vtqz-" : "/tmp/vtqz-", 0), 0u);
}

long VmSizeKb() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmSize:", 0) == 0) return std::stol(line.substr(7));
    return -1;
}

// The cap holds at its limit (junk in VTQ_MAX_ALLOC leaves the default);
// blocks around the size where the allocator maps huge pages are usable to
// their last byte, aligned, and go back whole.
TEST_F(Oscomm, AllocationCapAndLargeBlocks) {
    setenv("VTQ_MAX_ALLOC", "4096", 1);
    void *at_cap = os::mem_alloc(4096);
    EXPECT_NE(at_cap, nullptr);
    EXPECT_EQ(os::mem_alloc(4097), nullptr);
    void *zero = os::mem_alloc(0);
    EXPECT_TRUE(zero != nullptr && zero != at_cap);
    os::mem_free(at_cap);
    os::mem_free(zero);
    for (const char *junk : {"", "12k", "-1", "99999999999999999999999"}) {
        setenv("VTQ_MAX_ALLOC", junk, 1);
        EXPECT_EQ(os::alloc_cap(), size_t{536870912}) << junk;
    }
    unsetenv("VTQ_MAX_ALLOC");
    EXPECT_EQ(os::mem_alloc(size_t{536870912} + 1), nullptr);

    for (size_t size : {(size_t{2} << 20) - 17, size_t{2} << 20, (size_t{2} << 20) + 1, (size_t{32} << 20) + 4097}) {
        auto *p = static_cast<unsigned char *>(os::mem_alloc(size));
        ASSERT_NE(p, nullptr) << size;
        EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 16, 0u) << size;
        std::memset(p, 0xA5, size);
        os::mem_free(p);
    }
    const long before = VmSizeKb();
    for (int round = 0; round < 100; ++round) {
        void *a = os::mem_alloc(size_t{9} << 20), *b = os::mem_alloc(size_t{33} << 20);
        ASSERT_TRUE(a != nullptr && b != nullptr);
        os::mem_free(a);
        os::mem_free(b);
    }
#if !defined(__SANITIZE_ADDRESS__) // there the blocks come from the sanitizer's malloc
    EXPECT_EQ(VmSizeKb(), before);
#endif
    (void)before;
}

// A handle opened "wb+" through a long pseudo-random mix of small and
// window-sized reads and writes, seeks (past the end too) and size queries,
// against a string that models the file; the handle's windows are 64 KiB,
// so the file spans several and transfers cross their edges.
TEST_F(Oscomm, HandlesMatchAPlainModelOfTheFile) {
    const std::string path = Path("model");
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
            const size_t got = std::min(pos < model.size() ? model.size() - pos : 0, 3 * (len / 3 + 1));
            ASSERT_EQ(items, got / 3) << step;
            ASSERT_TRUE(got == 0 || buf.compare(0, got, model, pos, got) == 0) << step; // pos may be past the end
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
    EXPECT_TRUE(ReadFile(path) == model);
}

// What each mode allows, as stdio does, and appending.
TEST_F(Oscomm, ModesAllowWhatStdioAllows) {
    const std::string path = Path("m");
    WriteFile(path, "0123");
    char c = 0;
    VTQ_FILE *r = os::file_open(path.c_str(), "rb");
    EXPECT_EQ(os::file_write("x", 1, 1, r), 0u);
    EXPECT_EQ(os::file_read(&c, 1, 1, r), 1u);
    EXPECT_EQ(os::file_close(r), 0);
    VTQ_FILE *a = os::file_open(path.c_str(), "ab");
    EXPECT_EQ(os::file_read(&c, 1, 1, a), 0u);
    EXPECT_EQ(os::file_write("45", 1, 2, a), 2u);
    EXPECT_EQ(os::file_tell_size(a), 6);
    EXPECT_EQ(os::file_close(a), 0);
    EXPECT_EQ(ReadFile(path), "012345");
    VTQ_FILE *w = os::file_open(path.c_str(), "wb");
    EXPECT_EQ(os::file_tell_size(w), 0);
    EXPECT_EQ(os::file_read(&c, 1, 1, w), 0u);
    EXPECT_EQ(os::file_close(w), 0);
    EXPECT_EQ(os::file_open(path.c_str(), "q"), nullptr);
    EXPECT_EQ(os::file_open(path.c_str(), ""), nullptr);
}

} // namespace

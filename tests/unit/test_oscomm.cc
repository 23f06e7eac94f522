// test_oscomm.cc - the stand-in runtime: listings, memory files, memory, files
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <string_view>
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

// The calling thread's last failure of a kind (or its lost write) as
// "op path errno", "" when none is recorded.
std::string Failure(uint32_t kind, bool lost_write = false) {
    VTQ_HostFailure f;
    if ((lost_write ? os::write_failure(&f) : os::failure_get(kind, &f)) == 0) return "";
    EXPECT_EQ(f.Kind, kind);
    return std::string(f.Op) + " " + f.Path + " " + std::to_string(f.Errno);
}

// Opens path in mode, writes bytes and closes it: true when all went well.
bool Put(const std::string &path, const char *mode, const std::string &bytes) {
    VTQ_FILE *f = os::file_open(path.c_str(), mode);
    return f != nullptr && os::file_write(bytes.data(), 1, bytes.size(), f) == bytes.size() &&
           os::file_close(f) == 0;
}

std::string Viewed(const std::string &path) {
    const unsigned char *data = nullptr;
    uint64_t size = 0;
    if (os::store_view(path.c_str(), &data, &size) != 1) return "(no view)";
    return std::string(reinterpret_cast<const char *>(data), size);
}

// Temporary names are distinct memory files, nothing on disk, written and
// read through the file calls, appended to and emptied like files, gone
// once removed.  The allocation cap bounds a file as it bounds a block, and
// a write it refuses is a lost write.
TEST_F(Oscomm, TemporaryNamesAreMemoryFiles) {
    std::set<std::string> names;
    for (int i = 0; i < 100; ++i) {
        char buf[4096];
        ParentInfo parent{};
        ASSERT_EQ(i % 2 ? os::tmp_name(buf) : os::tmp_name_in(&parent, buf), buf);
        EXPECT_EQ(std::string_view(buf).rfind("/proc/self/vtqmem/", 0), 0u) << buf;
        names.insert(buf);
    }
    EXPECT_EQ(names.size(), 100u);
    EXPECT_NE(access("/proc/self/vtqmem", F_OK), 0);
    const std::string path = *names.begin() + ".pdf";
    EXPECT_TRUE(Put(path, "wb", "abc"));
    EXPECT_FALSE(os::is_exist(names.begin()->c_str())); // the bare name is no file
    EXPECT_TRUE(os::is_exist(path.c_str()) && !os::is_directory(path.c_str()));
    EXPECT_TRUE(Put(path, "ab", "z"));
    EXPECT_EQ(Viewed(path), "abcz");
    VTQ_FILE *f = os::file_open(path.c_str(), "wb");
    EXPECT_EQ(os::file_tell_size(f), 0);
    EXPECT_EQ(os::file_close(f), 0);
    EXPECT_EQ(os::file_size_by_path(path.c_str()), 0);
    EXPECT_EQ(os::rmdir_(path.c_str()), -1);
    EXPECT_EQ(os::remove_file(path.c_str()), 0);
    EXPECT_EQ(os::is_exist(path.c_str()) + os::remove_file(path.c_str()) + 1, 0);
    EXPECT_EQ(os::file_open(path.c_str(), "rb"), nullptr);

    os::failure_clear();
    setenv("VTQ_MAX_ALLOC", "4096", 1);
    f = os::file_open(path.c_str(), "wb");
    EXPECT_EQ(os::file_write(std::string(4096, 'b').data(), 1, 4096, f), 4096u);
    EXPECT_EQ(os::file_write("!", 1, 1, f), 0u);
    EXPECT_EQ(os::file_close(f), -1);
    unsetenv("VTQ_MAX_ALLOC");
    EXPECT_EQ(Failure(VTQ_HOST_FAIL_WRITE, true), "write " + path + " " + std::to_string(EFBIG));
    EXPECT_EQ(Viewed(path), "(no view)"); // damaged
    os::failure_clear();
    EXPECT_EQ(Failure(VTQ_HOST_FAIL_WRITE, true), "");
    EXPECT_EQ(os::remove_file(path.c_str()), 0);
    EXPECT_TRUE(Tree().empty());
}

// A "w" open creates a file or fails: it never opens what is there unless
// this process created it, and then it empties it (but not with "x").
// "r" takes regular files only: a FIFO fails at once instead of blocking.
// Every refusal is recorded with its reason.
TEST_F(Oscomm, OpensNeverGoThroughWhatWasThere) {
    WriteFile(Path("users"), "user's");
    ASSERT_EQ(symlink(Path("users").c_str(), Path("link").c_str()), 0);
    ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
    fs::create_directory(Path("d"));
    ASSERT_TRUE(Put(Path("own"), "wb", "old"));
    const struct {
        const char *name, *mode;
        int err;
    } rows[] = {
        {"users", "wb", EEXIST}, {"link", "wb+", EEXIST}, {"fifo", "wb", EEXIST},
        {"own", "wbx", EEXIST},  {"own", "wb", 0},        {"new", "wbx", 0},
        {"fifo", "rb", EINVAL},  {"d", "rb", EISDIR},     {"link", "rb", 0},
        {"link", "ab", ELOOP},   {"users", "ab", 0},      {"missing", "rb", ENOENT},
        {"users", "q", EINVAL},
    };
    for (const auto &row : rows) {
        const std::string path = Path(row.name), trace = path + " " + row.mode;
        VTQ_FILE *f = os::file_open(path.c_str(), row.mode);
        EXPECT_EQ(f != nullptr, row.err == 0) << trace;
        if (f != nullptr) {
            EXPECT_EQ(os::file_close(f), 0) << trace;
            continue;
        }
        EXPECT_EQ(Failure(VTQ_HOST_FAIL_OPEN),
                  std::string(row.mode[0] == 'r' ? "open " : "create ") + path + " " +
                      std::to_string(row.err));
    }
    EXPECT_EQ(ReadFile(Path("users")), "user's");
    EXPECT_EQ(ReadFile(Path("own")), "");
    EXPECT_EQ(Failure(VTQ_HOST_FAIL_WRITE, true), ""); // no open failure is a lost write
}

// Removals take only what this process created, and only while the path
// still shows that very object: not a user's file or directory, not a link
// to our own directory, not a file that replaced ours, not even one that
// got our file's inode number after ours was removed behind our back.
TEST_F(Oscomm, RemovalsTakeOnlyWhatThisProcessCreated) {
    WriteFile(Path("users"), "x");
    fs::create_directory(Path("users_dir"));
    ASSERT_EQ(os::mkdir_(Path("own_dir").c_str()), 0);
    ASSERT_EQ(symlink(Path("own_dir").c_str(), Path("link").c_str()), 0);
    for (const char *name : {"own", "replaced", "reborn"}) ASSERT_TRUE(Put(Path(name), "wb", ""));
    WriteFile(Path("other"), "y");
    ASSERT_EQ(rename(Path("other").c_str(), Path("replaced").c_str()), 0);
    // The inode number is free for the next file, born a clock tick later.
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    ASSERT_EQ(unlink(Path("reborn").c_str()), 0);
    WriteFile(Path("reborn"), "z");
    const struct {
        const char *name;
        bool dir;
        int err;
    } rows[] = {
        {"users", false, EPERM},   {"users_dir", true, EPERM}, {"link", false, EPERM},
        {"link", true, EPERM},     {"replaced", false, EPERM}, {"reborn", false, EPERM},
        {"own_dir", false, EPERM}, {"own", false, 0},          {"own_dir", true, 0},
        {"own", false, ENOENT},
    };
    for (const auto &row : rows) {
        const std::string path = Path(row.name);
        EXPECT_EQ(row.dir ? os::rmdir_(path.c_str()) : os::remove_file(path.c_str()),
                  row.err ? -1 : 0)
            << path;
        if (row.err != 0) {
            EXPECT_EQ(Failure(VTQ_HOST_FAIL_REMOVE),
                      "remove " + path + " " + std::to_string(row.err));
        }
    }
    EXPECT_EQ(Tree(),
              (std::vector<std::string>{"link", "reborn", "replaced", "users", "users_dir/"}));
}

// The clean-up after an interruption removes every object still recorded,
// made by any thread (files, then directories from the deepest), and no
// other: not what was kept, not a user's file in one of our directories,
// which keeps that directory and the one above (2 left).  From then on
// nothing can be created.  It stops creation for the whole process, so it
// runs in a child.
TEST_F(Oscomm, RemovingAllCreatedTakesBackWhatWasMade) {
    auto scenario = [this]() -> std::string {
        os::mkdir_(Path("kept").c_str());
        Put(Path("kept/k"), "wb", "");
        os::keep_created();
        for (const char *d : {"a", "a/b", "a/b/c", "a/e"}) os::mkdir_(Path(d).c_str());
        Put(Path("a/b/c/f"), "wb", "");
        std::thread([this] { Put(Path("a/e/g"), "wb", ""); }).join();
        WriteFile(Path("a/b/users"), "u");
        std::string bad, tree;
        if (const uint32_t left = os::remove_all_created(); left != 2)
            bad += "left " + std::to_string(left) + "\n";
        for (const std::string &p : Tree()) tree += p + " ";
        if (tree != "a/ a/b/ a/b/users kept/ kept/k ") bad += "tree " + tree + "\n";
        if (os::file_open(Path("new").c_str(), "wb") != nullptr || errno != EINTR)
            bad += "created a file\n";
        if (os::mkdir_(Path("new").c_str()) != -1 || errno != EINTR) bad += "made a directory\n";
        return bad;
    };
    EXPECT_EXIT(
        {
            const std::string bad = scenario();
            std::fputs(bad.c_str(), stderr);
            std::_Exit(bad.empty() ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
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
    void *at_cap = os::mem_alloc(4096), *zero = os::mem_alloc(0);
    EXPECT_TRUE(at_cap != nullptr && zero != nullptr && zero != at_cap);
    EXPECT_EQ(os::mem_alloc(4097), nullptr);
    os::mem_free(at_cap);
    os::mem_free(zero);
    for (const char *junk : {"", "12k", "-1", "99999999999999999999999"}) {
        setenv("VTQ_MAX_ALLOC", junk, 1);
        EXPECT_EQ(os::alloc_cap(), size_t{536870912}) << junk;
    }
    unsetenv("VTQ_MAX_ALLOC");
    EXPECT_EQ(os::mem_alloc(size_t{536870912} + 1), nullptr);
    for (size_t size : {(size_t{2} << 20) - 17, size_t{2} << 20, (size_t{32} << 20) + 4097}) {
        auto *p = static_cast<unsigned char *>(os::mem_alloc(size));
        ASSERT_NE(p, nullptr) << size;
        EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 16, 0u) << size;
        std::memset(p, 0xA5, size);
        os::mem_free(p);
    }
    // Freed large blocks are kept for the next requests they fit, two at most, and given back on
    // request: a member's buffers, member after member, cost no new mapping.
    os::mem_release_kept();
    const long before = VmSizeKb();
    for (int round = 0; round < 100; ++round) {
        void *a = os::mem_alloc(size_t{9} << 20);
        auto *b = static_cast<unsigned char *>(os::mem_alloc(size_t{33} << 20));
        ASSERT_TRUE(a != nullptr && b != nullptr);
        b[12345] = 0x5A; // a fresh mapping reads zero
        os::mem_free(a);
        os::mem_free(b);
    }
#if !defined(__SANITIZE_ADDRESS__) // there the blocks come from the sanitizer's malloc
    EXPECT_LE(VmSizeKb(), before + (9 + 33 + 8) * 1024);
    for (const bool kept : {true, false}) {
        auto *again = static_cast<unsigned char *>(os::mem_alloc(size_t{33} << 20));
        EXPECT_EQ(again[12345], kept ? 0x5A : 0) << kept;
        again[12345] = 0x5A;
        os::mem_free(again);
        os::mem_release_kept();
        if (!kept) continue;
        // A block far larger than the request is not lent for it.
        again = static_cast<unsigned char *>(os::mem_alloc(size_t{33} << 20));
        again[12345] = 0x5A;
        os::mem_free(again);
        auto *small = static_cast<unsigned char *>(os::mem_alloc(size_t{3} << 20));
        EXPECT_EQ(small[12345], 0);
        os::mem_free(small);
        os::mem_release_kept();
    }
    EXPECT_EQ(VmSizeKb(), before);
#endif
    (void)before;
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

} // namespace

// test_oscomm.cc - the stand-in runtime: listings, temporary names, memory cap, files
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "host/oscomm/oscomm.h"
#include "tests/support/fixture.h"
#include "tests/support/zip_builder.h"

namespace os = vtq::oscomm;

namespace {

class Oscomm : public vtq::test::HostTest {};
using vtq::test::WriteFile;

std::string BaseName(const std::string &p) { return p.substr(p.rfind('/') + 1); }

// Lists dir with the host calls alone, as the filter's removal walk does,
// handing each entry's path to each while the listing is open; nothing may
// be written past the 520-byte entry record.
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
// listing still reaches the entry.
TEST_F(Oscomm, ListingsGiveFullPathsThatReachTheEntry) {
    std::string deep = Path("d");
    ASSERT_EQ(os::mkdir_(deep.c_str()), 0);
    while (deep.size() < 600) {
        deep += "/" + std::string(200, 'd');
        ASSERT_EQ(os::mkdir_(deep.c_str()), 0);
    }
    const std::string f(100, 'f');
    WriteFile(Path("d/" + f), "12345");
    WriteFile(deep + "/" + f, "12345");
    for (const std::string &d : {Path("d"), deep}) {
        std::set<std::string> names;
        List(d, [&](const std::string &p) {
            EXPECT_LT(p.size(), 512u);
            EXPECT_EQ(p.rfind(d.size() < 400 ? d + "/" : "/proc/self/fd/", 0), 0u) << p;
            names.insert(BaseName(p));
            if (BaseName(p) != f) return;
            EXPECT_EQ(os::file_size_by_path(p.c_str()), 5);
            EXPECT_EQ(os::remove_file(p.c_str()), 0);
            EXPECT_FALSE(os::is_exist(p.c_str()));
        });
        EXPECT_EQ(names.size(), d == deep ? 3u : 4u);
        EXPECT_TRUE(names.count(".") && names.count("..") && names.count(f));
    }
    List(deep, [](const std::string &p) { EXPECT_NE(BaseName(p), std::string(100, 'f')); });
    uint8_t state[VTQ_DIRSTATE_SIZE] = {};
    EXPECT_EQ(os::dir_open(Path("missing/*").c_str(), state), 0);
    os::dir_close(state); // a state that never opened is left alone
}

// lstat, not stat: a link to a directory is not a directory to walk into.
TEST_F(Oscomm, SymlinksAreNotFollowed) {
    ASSERT_EQ(os::mkdir_(Path("real").c_str()), 0);
    ASSERT_EQ(symlink(Path("real").c_str(), Path("link").c_str()), 0);
    ASSERT_EQ(symlink(Path("nowhere").c_str(), Path("dangling").c_str()), 0);
    EXPECT_TRUE(os::is_directory(Path("real").c_str()));
    EXPECT_FALSE(os::is_directory(Path("link").c_str()));
    EXPECT_TRUE(os::is_exist(Path("dangling").c_str()));
    EXPECT_FALSE(os::is_exist(Path("nowhere").c_str()));
    EXPECT_EQ(os::mkdir_(Path("real").c_str()), -1);
    EXPECT_EQ(os::rmdir_(Path("nowhere").c_str()), -1);
}

// Names are unique across threads and each is held by an empty file in
// TMPDIR, or beside the parent's output for tmp_name_in.
TEST_F(Oscomm, TmpNames) {
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
    EXPECT_EQ(TmpFiles().size(), all.size()); // each name is held by a file
    // Beside the parent's output, "./" for an output without a directory.
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(dir().c_str()), 0);
    for (const auto &[parent_path, prefix] : {std::pair{Path("out.txt"), Path("vtqz-")},
                                              std::pair<std::string, std::string>{"out.txt", "./vtqz-"}}) {
        ParentInfo parent{};
        std::strcpy(parent.Path, parent_path.c_str());
        char buf[4096];
        EXPECT_EQ(os::tmp_name_in(&parent, buf), buf);
        EXPECT_EQ(std::string(buf).rfind(prefix, 0), 0u) << buf;
        EXPECT_EQ(os::remove_file(buf), 0); // the name was held by a file
    }
    ASSERT_EQ(chdir(cwd), 0);
    setenv("TMPDIR", Path("no-such-dir").c_str(), 1);
    char buf[4096] = "x";
    EXPECT_EQ(os::tmp_name(buf), nullptr);
    EXPECT_EQ(buf[0], '\0');
}

// Removing "<reserved>.<suffix>" also drops the reserved stem, but only
// when it is still the empty file the reservation made.
TEST_F(Oscomm, RemovingAMemberFileDropsItsReservedStem) {
    struct Case {
        const char *suffix;
        const char *stem_bytes; // null: no stem file at all
        bool stem_left;
    } cases[] = {
        {".doc", "", false},
        {".tar.gz", "", false},
        {".doc", "data", true}, // someone wrote into it: not ours to drop
        {"x.doc", "", true},    // not "<stem>.<anything>"
    };
    for (const Case &c : cases) {
        char stem[4096];
        ASSERT_EQ(os::tmp_name(stem), stem);
        if (*c.stem_bytes) WriteFile(stem, c.stem_bytes);
        std::string member = std::string(stem) + c.suffix;
        WriteFile(member, "member");
        EXPECT_EQ(os::remove_file(member.c_str()), 0);
        EXPECT_FALSE(os::is_exist(member.c_str()));
        EXPECT_EQ(os::is_exist(stem) != 0, c.stem_left) << c.suffix << " " << c.stem_bytes;
        unlink(stem);
    }
    // A short random part is not a reserved name.
    WriteFile(Path("vtqz-abc"), "");
    WriteFile(Path("vtqz-abc.doc"), "m");
    EXPECT_EQ(os::remove_file(Path("vtqz-abc.doc").c_str()), 0);
    EXPECT_TRUE(os::is_exist(Path("vtqz-abc").c_str()));
    EXPECT_EQ(os::remove_file(Path("vtqz-abc.doc").c_str()), -1);
}

TEST_F(Oscomm, AllocationCapHoldsAtTheLimit) {
    setenv("VTQ_MAX_ALLOC", "4096", 1);
    for (size_t size : {size_t{4095}, size_t{4096}}) {
        void *p = os::mem_alloc(size);
        EXPECT_NE(p, nullptr) << size;
        if (p != nullptr) std::memset(p, 1, size);
        os::mem_free(p);
    }
    EXPECT_EQ(os::mem_alloc(4097), nullptr);
    void *a = os::mem_alloc(0), *b = os::mem_alloc(0);
    EXPECT_NE(a, nullptr);
    EXPECT_NE(a, b);
    os::mem_free(a);
    os::mem_free(b);

    for (const char *junk : {"", "12k", "-1", "99999999999999999999999"}) {
        setenv("VTQ_MAX_ALLOC", junk, 1);
        EXPECT_EQ(os::alloc_cap(), size_t{536870912}) << junk;
    }
    unsetenv("VTQ_MAX_ALLOC");
    EXPECT_EQ(os::alloc_cap(), size_t{536870912});
    EXPECT_EQ(os::mem_alloc(size_t{536870912} + 1), nullptr);
}

// Sizes by path; reads, writes, seeks and sizes of open handles are checked
// against a model of the file in test_oscomm_bulk.cc.
TEST_F(Oscomm, SizeByPathAndMissingFiles) {
    WriteFile(Path("w"), "abc");
    WriteFile(Path("empty"), "");
    EXPECT_EQ(os::file_size_by_path(Path("w").c_str()), 3);
    EXPECT_EQ(os::file_size_by_path(Path("empty").c_str()), 0);
    EXPECT_EQ(os::file_size_by_path(Path("missing").c_str()), -1);
    EXPECT_EQ(os::file_open(Path("missing").c_str(), "rb"), nullptr);
}

TEST(OscommPath, BreakIsTheLastSlash) {
    struct Case {
        const char *path;
        int32_t at;
    } cases[] = {{"a/b/c", 3}, {"abc", 0}, {"/abc", 0}, {"a/", 1}, {"", 0}};
    for (const Case &c : cases) EXPECT_EQ(os::path_break(c.path), c.at) << c.path;
}

} // namespace

// test_hostile.cc - archives and surroundings made to hurt ziptext
//
// Archives someone could send on purpose (climbing names, deep trees, long
// names, the most entries, shared data, 4 GiB claims, a deflate bomb), and
// hostile surroundings (FIFOs, devices and links where the output goes, the
// archive as an output, the user's files under the names of texts, a folder
// the tool may not write, a full file system, runs stopped by signals).
#include <zlib.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <random>
#include <set>
#include <thread>

#include "tests/e2e/e2e.h"

namespace fs = std::filesystem;

namespace vtq::e2e {
namespace {

using e2e::PrintTo;
using test::ZipArchive;
using Strings = std::vector<std::string>;
using Check = std::function<void(const RunResult &, const std::string &work)>;
constexpr uint32_t kGiB = 1u << 30;

std::string One(const std::string &name, const std::string &data, uint16_t method = 0) {
    ZipArchive a;
    a.Add(name, data, method);
    return a.Build();
}
std::string Deep(int levels, const std::string &tail) {
    std::string name;
    while (levels-- > 0) name += "d/";
    return name + tail;
}
const std::string kRootName = "/abs-root-" + std::to_string(getpid()) + ".txt";
std::string Climbers(const std::string &work) {
    ZipArchive a;
    for (std::string n : {"../up.txt", "x/../../up2.txt", "../updir/", "ok.txt"}) a.Add(n, n.ends_with('/') ? "" : "x\n");
    a.Add(fs::path(work).parent_path().string() + "/abs.txt", "beside work/\n");
    a.Add(kRootName, "at the root\n");
    return a.Build();
}
// The end record's largest count, a text at each end of 65533 directories.
std::string MostEntries(const std::string &) {
    ZipArchive a;
    a.Add("first.txt", "first\n");
    for (int i = 0; i < 65533; ++i) a.Add("d/");
    a.Add("last.txt", "last\n");
    return a.Build();
}
// n central entries that all point at the first local header.
std::string SharedHeader(int n, const std::string &text) {
    ZipArchive a;
    for (int i = 0; i < n; ++i) {
        auto &m = a.Add("m" + std::to_string(10000 + i) + ".txt", "", 8);
        m.raw = test::Deflate(text);
        m.crc = test::Crc32(text);
        m.uncompressed_size = static_cast<uint32_t>(text.size());
        m.local_offset = 0;
    }
    return a.Build();
}
std::string Claims4GiB(bool compressed, bool uncompressed) {
    ZipArchive a;
    auto &m = a.Add("big.txt", "small in truth\n", 8);
    if (compressed) m.compressed_size = 0xFFFFFFFFu;
    if (uncompressed) m.uncompressed_size = 0xFFFFFFFFu;
    return a.Build();
}
// 1 GiB of the text '0' (about 1 MiB deflated, made once) as bomb.txt,
// inside `levels` archives (1: the top-level one).
std::string BombZip(int levels) {
    static const std::pair<std::string, uint32_t> bomb = [] {
        // 1 MiB deflated with a full flush (no reference reaches back past
        // it) 1024 times over, then an empty final block.
        std::string chunk(1u << 20, '0'), out(1u << 20, '\0'), deflated;
        z_stream z{};
        deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
        z.next_in = reinterpret_cast<Bytef *>(chunk.data()), z.avail_in = 1u << 20;
        z.next_out = reinterpret_cast<Bytef *>(out.data()), z.avail_out = 1u << 20;
        deflate(&z, Z_FULL_FLUSH);
        deflateEnd(&z);
        const uLong crc1 = crc32(0, reinterpret_cast<const Bytef *>(chunk.data()), 1u << 20);
        uLong crc = crc1;
        for (int i = 1; i < 1024; ++i) crc = crc32_combine(crc, crc1, 1u << 20);
        for (int i = 0; i < 1024; ++i) deflated.append(out.data(), (1u << 20) - z.avail_out);
        return std::pair{deflated + std::string("\x03\x00", 2), static_cast<uint32_t>(crc)};
    }();
    ZipArchive a;
    auto &m = a.Add("bomb.txt", "", 8);
    m.raw = bomb.first;
    m.crc = bomb.second;
    m.uncompressed_size = kGiB;
    std::string bytes = a.Build();
    for (int level = levels; level > 1; --level) bytes = One("l" + std::to_string(level) + ".zip", bytes);
    return bytes;
}

void NoClimber(const RunResult &, const std::string &work) {
    for (const char *p : {"../up.txt", "../up2.txt", "../updir", "../abs.txt", "up.txt", "up2.txt", "updir", "abs.txt"})
        EXPECT_FALSE(fs::exists(work + "/" + p)) << p;
    EXPECT_FALSE(fs::exists(kRootName));
}
// 2000 "d" levels with f.txt at the bottom, walked without paths (the
// bottom is further than any path buffer reaches).
void DeepTreeKept(const RunResult &, const std::string &w) {
    int fd = open((w + "/out/a.zip").c_str(), O_DIRECTORY | O_RDONLY), n = 0;
    bool text = false;
    for (int next; fd >= 0; close(fd), fd = next, n += fd >= 0)
        if ((next = openat(fd, "d", O_DIRECTORY | O_RDONLY)) < 0) text = faccessat(fd, "f.txt", F_OK, 0) == 0;
    EXPECT_EQ(n, 2000);
    EXPECT_TRUE(text);
}
void NoWorkDir(const RunResult &, const std::string &w) { EXPECT_FALSE(fs::exists(w + "/out/a.zip")); }
void CutAtLimit(const RunResult &r, const std::string &work) {
    const auto size = fs::file_size(work + "/out/a.txt");
    EXPECT_TRUE(size <= 1u << 20 && size >= (1u << 20) - 64) << size << r.err;
}
void NamesTheCap(const RunResult &r, const std::string &) {
    EXPECT_NE(r.err.find("member-size cap of 536870912 bytes"), std::string::npos) << r.err;
}
Check Output(const std::string &want) {
    return [want](const RunResult &, const std::string &w) { EXPECT_EQ(test::ReadFile(w + "/out/a.txt"), want); };
}

struct Row {
    const char *label;
    std::function<std::string(const std::string &work)> archive;
    Strings args; // mode and options; "-o out/a.txt a.zip" follow
    uint32_t code;
    Check check = nullptr;
    long max_rss_kib = 256 << 10;
};
const Strings kSplit{"--split"}, kFlat{"--flat"}, kBombCap{"--max-size", "1048576", "--max-member-size", "1073741824"};
auto Fixed(std::string bytes) { return [bytes](const std::string &) { return bytes; }; }
auto Bomb(int levels) { return [levels](const std::string &) { return BombZip(levels); }; }
const std::string kLongName = std::string(3996, 'n') + ".doc";

const Row kRows[] = {
    // ".." is refused before anything is made (27); absolute names stay
    // below work/; in compose mode a name never becomes a path.
    {"climbing_names_split", Climbers, kSplit, 27, NoClimber},
    {"climbing_names_flat", Climbers, kFlat, 27, NoClimber},
    {"climbing_names_compose", Climbers, {}, 0, NoClimber},
    // 2000 levels fit (4015 bytes) and pruning keeps the text; a tree of
    // directories only is pruned away; 2100 levels do not fit (27).
    {"deep_2000_levels_split", Fixed(One(Deep(2000, "f.doc"), "at the bottom\n", 8)), kSplit, 0, DeepTreeKept},
    {"deep_2000_directories_only", Fixed(One(Deep(2000, ""), "")), kSplit, 6002, NoWorkDir},
    {"deep_2100_levels_too_long", Fixed(One(Deep(2100, "f.doc"), "never written\n")), kSplit, 27, NoWorkDir},
    // A 4000-byte component fits the buffers but not the file system (22);
    // compose mode names its member file itself.
    {"name_4000_bytes_split", Fixed(One(kLongName, "long\n")), kSplit, 22},
    {"name_4000_bytes_flat", Fixed(One(kLongName, "long\n")), kFlat, 22},
    {"name_4000_bytes_compose", Fixed(One(kLongName, "long\n")), {}, 0},
    {"entries_65535_compose", MostEntries, {}, 0, Output(Block("first.txt", "first\n") + Block("last.txt", "last\n"))},
    {"entries_65535_split", MostEntries, kSplit, 0,
     [](const RunResult &, const std::string &w) { EXPECT_TRUE(fs::exists(w + "/out/a.zip/last.txt.txt")); }},
    {"entries_65535_claimed",
     [](const std::string &) {
         ZipArchive a;
         a.Add("only.txt", "one\n");
         a.entries_total = 65535;
         return a.Build();
     },
     {}, 6003},
    // Entries sharing a local header are each read from it; 1000 of them
    // on a 1 MiB member meet the size limit.
    {"shared_local_header", Fixed(SharedHeader(2, "shared\n")), {}, 0,
     Output(Block("m10000.txt", "shared\n") + Block("m10001.txt", "shared\n"))},
    {"shared_local_header_1000_with_limit", [](const std::string &) { return SharedHeader(1000, std::string(1 << 20, 's')); },
     {"--max-size", "4194304"}, 3005},
    // Sizes claiming 4 GiB - 1 and the bomb meet the default cap (512 MiB)
    // first; with the cap at 1 GiB the bomb is decoded whole, its text cut
    // at the 1 MiB limit, memory bounded by the cap, five levels down too.
    {"claims_4GiB_uncompressed", Fixed(Claims4GiB(false, true)), {}, 12, NamesTheCap},
    {"claims_4GiB_compressed", Fixed(Claims4GiB(true, false)), {}, 12, NamesTheCap},
    {"claims_4GiB_both_split", Fixed(Claims4GiB(true, true)), kSplit, 12, NamesTheCap},
    {"bomb_default_cap", Bomb(1), {}, 12, NamesTheCap},
    {"bomb_nested_5_default_cap", Bomb(5), {}, 12, NamesTheCap},
    {"bomb_limit_on_cap_1GiB", Bomb(1), kBombCap, 3005, CutAtLimit, 1400 << 10},
    {"bomb_nested_5_limit_on_cap_1GiB", Bomb(5), kBombCap, 3005, CutAtLimit, 1400 << 10},
};

class Hostile : public ZiptextTest, public ::testing::WithParamInterface<Row> {};

TEST_P(Hostile, EndsWithItsCodeAndNothingOutside) {
    const Row &row = GetParam();
    test::WriteFile(Work("a.zip"), row.archive(Work()));
    fs::create_directory(Work("out"));
    Strings args = row.args;
    args.insert(args.begin(), "--strict");
    args.insert(args.end(), {"-o", "out/a.txt", "a.zip"});
    const RunResult r = Run(args, {}, 120);
    ASSERT_FALSE(r.timed_out);
    ASSERT_EQ(r.signal, 0);
    EXPECT_EQ(r.Code(), row.code) << r.err;
    EXPECT_EQ(r.status, row.code == 0 ? 0 : 1) << r.err;
    EXPECT_TRUE(UnderMemcheck() || r.max_rss_kib <= row.max_rss_kib) << r.max_rss_kib;
    // Nothing but a.zip and out/ in work/, nothing new beside it (one
    // level: a walk of the 2000-level trees by path takes minutes).
    for (const auto &e : fs::directory_iterator(Work()))
        EXPECT_TRUE(e.path().filename() == "a.zip" || e.path().filename() == "out") << e.path();
    for (const auto &e : fs::directory_iterator(Work() + "/.."))
        EXPECT_TRUE(std::set<std::string>({"work", "tmp", "stdout", "stderr"}).contains(e.path().filename())) << e.path();
    if (row.check) row.check(r, Work());
}

INSTANTIATE_TEST_SUITE_P(Archives, Hostile, ::testing::ValuesIn(kRows),
                         [](const auto &r) { return std::string(r.param.label); });

// ------------------------------------------------------------ surroundings

const std::string kTwo = Zip({{"a.txt", "alpha\n"}, {"b.md", "beta\n"}});
const std::string kComposed = Block("a.txt", "alpha\n") + Block("b.md", "beta\n");

std::string ReadOr(const std::string &path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec) ? test::ReadFile(path) : "<none>";
}
bool Is(const std::string &path, mode_t type) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0 && (st.st_mode & S_IFMT) == type;
}

// A situation in work/ (a.zip is there), the run, and what must hold.
struct Place {
    const char *label;
    std::string archive;
    std::function<void(const std::string &work)> plant;
    Strings args;
    int status;
    // Checks the run; fifo_bytes: what a reader of the row's FIFO received.
    std::function<void(const RunResult &, const std::string &work, const std::string &fifo_bytes)> check;
    const char *fifo = nullptr; // a FIFO below work/, read while the tool runs
    bool needs_root = false;    // mknod
    bool read_only_out = false; // out/ without write permission
};

void Fifo(const std::string &w) { ASSERT_EQ(mkfifo((w + "/out/p").c_str(), 0600), 0); }
bool Says(const RunResult &r, const std::string &what) { return r.err.find(what) != std::string::npos; }
auto KeptArchive(const std::string &archive) {
    return [archive](const RunResult &r, const std::string &w, const std::string &) {
        EXPECT_EQ(test::ReadFile(w + "/a.zip"), archive);
        EXPECT_TRUE(Says(r, "refusing to write over the input archive 'a.zip'")) << r.err;
    };
}
void Denied(const RunResult &r, const std::string &, const std::string &) {
    EXPECT_TRUE(Says(r, "'out/") && Says(r, "': Permission denied")) << r.err;
}
const std::string kNamedLikeIt = Zip({{"d/a.zip", "member named like the archive\n"}});

const Place kPlaces[] = {
    // Written as standard output would be, through a FIFO, a link to one or
    // a device: never opened for positioned writes, never removed.
    {"fifo", kTwo, Fifo, {"a.zip", "-o", "out/p"}, 0,
     [](const RunResult &, const std::string &w, const std::string &got) {
         EXPECT_EQ(got, kComposed);
         EXPECT_TRUE(Is(w + "/out/p", S_IFIFO));
     }, "out/p"},
    {"link_to_fifo", kTwo, [](const std::string &w) { Fifo(w), fs::create_symlink("p", w + "/out/l"); },
     {"a.zip", "-o", "out/l"}, 0,
     [](const RunResult &, const std::string &w, const std::string &got) {
         EXPECT_EQ(got, kComposed);
         EXPECT_TRUE(Is(w + "/out/l", S_IFLNK) && Is(w + "/out/p", S_IFIFO));
     }, "out/p"},
    {"copy_of_dev_null", kTwo,
     [](const std::string &w) { ASSERT_EQ(mknod((w + "/out/null").c_str(), S_IFCHR | 0666, makedev(1, 3)), 0); },
     {"a.zip", "-o", "out/null"}, 0,
     [](const RunResult &, const std::string &w, const std::string &) { EXPECT_TRUE(Is(w + "/out/null", S_IFCHR)); },
     nullptr, true},
    // The archive as the output, or as a flat-mode member file.
    {"output_is_input", kTwo, nullptr, {"a.zip", "-o", "a.zip"}, 2, KeptArchive(kTwo)},
    {"flat_member_is_input", kNamedLikeIt, nullptr, {"--flat", "-o", "x.txt", "a.zip"}, 2, KeptArchive(kNamedLikeIt)},
    // A link named like a member is not written through, a user's file
    // named like a text is not written over, two texts of one name stay.
    {"flat_planted_link", kTwo,
     [](const std::string &w) {
         test::WriteFile(w + "/outside.txt", "mine\n");
         fs::create_symlink("../outside.txt", w + "/out/b.md");
     },
     {"--flat", "-o", "out/a.txt", "a.zip"}, 1,
     [](const RunResult &, const std::string &w, const std::string &) {
         EXPECT_EQ(test::ReadFile(w + "/outside.txt"), "mine\n");
         EXPECT_TRUE(Is(w + "/out/b.md", S_IFLNK));
     }},
    {"flat_user_file_named_like_a_text", kTwo, [](const std::string &w) { test::WriteFile(w + "/out/b.txt", "mine\n"); },
     {"--flat", "-o", "out/a.txt", "a.zip"}, 0,
     [](const RunResult &, const std::string &w, const std::string &) {
         EXPECT_EQ(test::ReadFile(w + "/out/b.txt") + ReadOr(w + "/out/b (2).txt"), "mine\nbeta\n");
     }},
    {"split_two_texts_one_name", Zip({{"x.md", "one\n"}, {"x.csv", "two\n"}}), nullptr,
     {"--split", "-o", "out/a.txt", "a.zip"}, 0,
     [](const RunResult &, const std::string &w, const std::string &) {
         const std::set<std::string> texts{ReadOr(w + "/out/a.zip/x.txt"), ReadOr(w + "/out/a.zip/x (2).txt")};
         EXPECT_EQ(texts, (std::set<std::string>{"one\n", "two\n"}));
     }},
    // A folder the user may not write: the message names what could not
    // be made and why.
    {"read_only_compose", kTwo, nullptr, {"a.zip", "-o", "out/a.txt"}, 1, Denied, nullptr, false, true},
    {"read_only_split", kTwo, nullptr, {"--split", "-o", "out/a.txt", "a.zip"}, 1, Denied, nullptr, false, true},
    {"read_only_flat", kTwo, nullptr, {"--flat", "-o", "out/a.txt", "a.zip"}, 1, Denied, nullptr, false, true},
};

class Places : public ZiptextTest, public ::testing::WithParamInterface<Place> {};

TEST_P(Places, NothingFoundThereIsHarmed) {
    const Place &row = GetParam();
    if (row.needs_root && geteuid() != 0) GTEST_SKIP() << "mknod needs root";
    test::WriteFile(Work("a.zip"), row.archive);
    fs::create_directory(Work("out"));
    if (row.plant) row.plant(Work());
    if (row.read_only_out) {
        fs::permissions(Work("out"), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                        fs::perm_options::remove);
        // Root without these two capabilities is held to the permissions.
        if (geteuid() == 0) {
            if (access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "root, and no setpriv";
            launcher_ = {"/usr/bin/setpriv", "--bounding-set=-dac_override,-dac_read_search", "--"};
        }
    }
    // The FIFO's reader; one still waiting for a writer is let go with an
    // empty writer of its own.
    std::future<std::string> fifo;
    if (row.fifo != nullptr) fifo = std::async(std::launch::async, test::ReadFile, Work(row.fifo));
    const RunResult r = Run(row.args, {}, 20);
    while (fifo.valid() && fifo.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready)
        close(open(Work(row.fifo).c_str(), O_WRONLY | O_NONBLOCK));
    fs::permissions(Work("out"), fs::perms::owner_all, fs::perm_options::add);
    ASSERT_FALSE(r.timed_out);
    EXPECT_EQ(r.status, row.status) << r.err;
    row.check(r, Work(), fifo.valid() ? fifo.get() : "");
}

INSTANTIATE_TEST_SUITE_P(Outputs, Places, ::testing::ValuesIn(kPlaces),
                         [](const auto &r) { return std::string(r.param.label); });

class Surroundings : public ZiptextTest {};

// A full file system (a 256 KiB tmpfs, filled) and a copy of /dev/full:
// status 1 and the reason, also when only the close tells; an old output
// stays as it was.
TEST_F(Surroundings, WriteErrorsAreReported) {
    if (geteuid() != 0) GTEST_SKIP() << "mount and mknod need root";
    const std::string full = Work("full");
    fs::create_directories(full);
    if (mount("tmpfs", full.c_str(), "tmpfs", 0, "size=256k") != 0) GTEST_SKIP() << "cannot mount a tmpfs";
    std::shared_ptr<void> unmount(nullptr, [&](void *) { umount2(full.c_str(), MNT_DETACH); });
    test::WriteFile(Work("a.zip"), kTwo);
    test::WriteFile(full + "/out.txt", "old\n");
    const int fd = open((full + "/filler").c_str(), O_WRONLY | O_CREAT, 0600);
    for (const std::string block(4096, 'f'); write(fd, block.data(), block.size()) > 0;) {
    }
    close(fd);
    fs::create_directory(Work("out"));
    ASSERT_EQ(mknod(Work("out/full").c_str(), S_IFCHR | 0666, makedev(1, 7)), 0);
    const std::pair<Strings, Strings> cases[] = { // the arguments, parts of the message
        {{"a.zip", "-o", "full/out.txt"}, {"ziptext: cannot write 'full/out.txt': No space left on device\n"}},
        {{"--split", "-o", "full/out.txt", "a.zip"}, {"'full/a.zip/", "': No space left on device"}},
        {{"--flat", "-o", "full/out.txt", "a.zip"}, {"'full/", "': No space left on device"}},
        {{"a.zip", "-o", "out/full"}, {"ziptext: cannot write 'out/full': No space left on device\n"}},
    };
    for (const auto &[args, parts] : cases) {
        const RunResult r = Run(args);
        EXPECT_EQ(r.status, 1) << r.err;
        for (const std::string &part : parts) EXPECT_TRUE(Says(r, part)) << r.err;
    }
    EXPECT_EQ(test::ReadFile(full + "/out.txt"), "old\n");
    EXPECT_TRUE(Is(Work("out/full"), S_IFCHR));
}

Strings ShmNames() {
    Strings names;
    std::error_code ec;
    for (const auto &e : fs::directory_iterator("/dev/shm", ec))
        if (e.path().filename().string().starts_with("vtqz-")) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

// Runs stopped at random points by SIGINT, SIGTERM or SIGHUP, or by a
// reader that closes standard output early (SIGPIPE): each dies of its
// signal, work/ is exactly as before or as a whole run leaves it, the old
// output is never cut short, TMPDIR and /dev/shm gain nothing.
TEST_F(Surroundings, InterruptedRunsLeaveNothing) {
    if (UnderMemcheck()) GTEST_SKIP() << "stops runs by timing, which valgrind stretches";
    std::vector<std::pair<std::string, std::string>> members;
    for (int i = 0; i < 100; ++i)
        members.emplace_back("d" + std::to_string(i % 7) + "/m" + std::to_string(i) + ".txt",
                             std::string(12288, static_cast<char>('a' + i % 26)));
    test::WriteFile(Work("a.zip"), Zip(members));
    const std::pair<Strings, std::vector<int>> modes[] = {
        {{"a.zip", "-o", "out/a.txt"}, {SIGINT, SIGTERM, SIGHUP}},
        {{"a.zip"}, {SIGPIPE}},
        {{"a.zip", "-o", "/dev/stdout"}, {SIGPIPE}},
        {{"--split", "-o", "out/a.txt", "a.zip"}, {SIGINT, SIGTERM, SIGHUP}},
        {{"--flat", "-o", "out/a.txt", "a.zip"}, {SIGINT, SIGTERM, SIGHUP}},
    };
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    const int devnull = open("/dev/null", O_WRONLY | O_CLOEXEC);
    const Strings shm_before = ShmNames();
    auto reset_out = [&] {
        fs::remove_all(Work("out"));
        fs::create_directory(Work("out"));
        test::WriteFile(Work("out/a.txt"), "old\n");
    };
    auto state = [&] { // every path below work/ with the bytes of every file
        Strings s = Tree(Work());
        for (std::string &p : s)
            if (p.back() != '/' && p != "a.zip") p += "=" + test::ReadFile(Work(p));
        return s;
    };
    int runs = 0, stopped = 0;
    for (const auto &[args, signals] : modes) {
        SCOPED_TRACE(testing::PrintToString(args));
        reset_out(); // a whole run first: how long it takes, what it leaves
        const auto t0 = std::chrono::steady_clock::now();
        ASSERT_EQ(Run(args).status, 0);
        const long whole_us = std::chrono::duration_cast<std::chrono::microseconds>(
                                  std::chrono::steady_clock::now() - t0).count();
        const Strings after_whole = state();
        for (int rep = 0; rep < 5; ++rep) {
            for (int sig : signals) {
                reset_out();
                const Strings before = state();
                int wstatus = 0, p[2] = {-1, -1};
                ASSERT_TRUE(sig != SIGPIPE || pipe2(p, O_CLOEXEC) == 0);
                const pid_t pid = Start(args, sig == SIGPIPE ? p[1] : devnull);
                if (sig == SIGPIPE) { // read well inside the 1.2 MB of text, past the pipe's buffer
                    close(p[1]);
                    char buf[8192];
                    ssize_t n = 0;
                    for (auto want = std::uniform_int_distribution<std::size_t>(0, 600000)(random);
                         want > 0 && (n = read(p[0], buf, std::min(want, sizeof buf))) > 0;)
                        want -= static_cast<std::size_t>(n);
                    close(p[0]);
                } else {
                    std::this_thread::sleep_for(std::chrono::microseconds(
                        std::uniform_int_distribution<long>(0, whole_us * 6 / 10)(random)));
                    kill(pid, sig);
                }
                waitpid(pid, &wstatus, 0);
                ++runs;
                const Strings after = state();
                if (WIFSIGNALED(wstatus)) {
                    ++stopped;
                    EXPECT_EQ(WTERMSIG(wstatus), sig);
                    EXPECT_TRUE(after == before || after == after_whole) << testing::PrintToString(after);
                } else {
                    EXPECT_TRUE(WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 0 && after == after_whole) << wstatus;
                }
                EXPECT_EQ(Tree(Tmp()), Strings{});
            }
        }
    }
    close(devnull);
    Strings shm_new = ShmNames();
    std::erase_if(shm_new, [&](const std::string &n) { return std::ranges::binary_search(shm_before, n); });
    EXPECT_EQ(shm_new, Strings{});
    EXPECT_GE(stopped, runs * 3 / 4); // most runs must really be stopped
}

} // namespace
} // namespace vtq::e2e

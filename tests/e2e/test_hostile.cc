// test_hostile.cc - archives and surroundings made to hurt ziptext
//
// Archives someone could send on purpose (climbing names, deep trees, long names, the most entries,
// shared data, 4 GiB claims, a deflate bomb), and hostile surroundings (FIFOs, devices and links
// where the output goes, the archive as an output, the user's files under the names of texts, a
// folder the tool may not write, a full file system, runs stopped by signals).
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
#include <random>
#include <thread>

#include "tests/e2e/e2e.h"

namespace fs = std::filesystem;

namespace vtq::e2e {
namespace {

using test::ZipArchive;

std::string Deep(int levels, const std::string &tail) {
    std::string name;
    while (levels-- > 0) name += "d/";
    return name + tail;
}
const std::string kRootName = "/abs-root-" + std::to_string(getpid()) + ".txt";
std::string Climbers(const std::string &work) {
    ZipArchive a;
    for (std::string n : {"../up.txt", "x/../../up2.txt", "../updir/", "ok.txt"})
        a.Add(n, n.ends_with('/') ? "" : "x\n");
    a.Add(fs::path(work).parent_path().string() + "/abs.txt", "beside work/\n");
    a.Add(kRootName, "at the root\n");
    return a.Build();
}
// The end record's largest count, a text at each end of 65533 directories; or one entry where the
// end record claims that many.
std::string MostEntries(bool claimed) {
    ZipArchive a;
    a.Add("first.txt", "first\n");
    for (int i = 0; i < (claimed ? 0 : 65533); ++i) a.Add("d/");
    if (claimed) a.entries_total = 65535;
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
// big.txt, whose sizes claim 4 GiB - 1 where the flags say.
std::string Claims4GiB(bool compressed, bool uncompressed) {
    ZipArchive a;
    auto &m = a.Add("big.txt", "small in truth\n", 8);
    m.compressed_size = compressed ? std::optional(0xFFFFFFFFu) : std::nullopt;
    m.uncompressed_size = uncompressed ? std::optional(0xFFFFFFFFu) : std::nullopt;
    return a.Build();
}
// 1 GiB of the text '0' as bomb.txt, inside `levels` archives (1: the top-level one): 1 MiB
// deflated with a full flush (no reference reaches back past it) 1024 times over, then an empty
// final block.
std::string BombZip(int levels) {
    static const std::pair<std::string, uint32_t> bomb = [] {
        std::string chunk(1u << 20, '0'), out(1u << 20, '\0'), deflated;
        z_stream z{};
        deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
        z.next_in = reinterpret_cast<Bytef *>(chunk.data());
        z.avail_in = 1u << 20;
        z.next_out = reinterpret_cast<Bytef *>(out.data());
        z.avail_out = 1u << 20;
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
    m.uncompressed_size = 1u << 30;
    std::string bytes = a.Build();
    for (int level = levels; level > 1; --level) {
        ZipArchive outer;
        outer.Add("l" + std::to_string(level) + ".zip", bytes);
        bytes = outer.Build();
    }
    return bytes;
}
template <class F, class... A> auto Lazy(F f, A... a) {
    return [=](const std::string &) { return f(a...); };
}

void NoClimber(const RunResult &, const std::string &) { EXPECT_FALSE(fs::exists(kRootName)); }
// 2000 "d" levels with f.txt at the bottom, walked without paths (the bottom is further than any
// path buffer reaches).
void DeepTreeKept(const RunResult &, const std::string &w) {
    int fd = open((w + "/out/a.zip").c_str(), O_DIRECTORY | O_RDONLY), n = 0;
    bool text = false;
    for (int next; fd >= 0; close(fd), fd = next, n += fd >= 0)
        if ((next = openat(fd, "d", O_DIRECTORY | O_RDONLY)) < 0)
            text = faccessat(fd, "f.txt", F_OK, 0) == 0;
    EXPECT_EQ(n, 2000);
    EXPECT_TRUE(text);
}
void CutAtLimit(const RunResult &r, const std::string &work) {
    const auto size = fs::file_size(work + "/out/a.txt");
    EXPECT_TRUE(size <= 1u << 20 && size >= (1u << 20) - 64) << size << r.err;
}
Strings Strict(Strings mode, const std::string &out = "out/a.txt") { // "-o out a.zip" after mode
    mode.insert(mode.begin(), "--strict");
    mode.insert(mode.end(), {"-o", out, "a.zip"});
    return mode;
}
const Strings kSplit = Strict({"--split"}), kFlat = Strict({"--flat"}), kCompose = Strict({}),
              kBombCap = Strict({"--max-size", "1048576", "--max-member-size", "1073741824"});
const std::string kLongName = Zip({{std::string(3996, 'n') + ".doc", "long\n"}}),
                  kCap = "member-size cap of 536870912 bytes";
const std::string kTwo = Zip({{"a.txt", "alpha\n"}, {"b.md", "beta\n"}}),
                  kComposed = Block("a.txt", "alpha\n") + Block("b.md", "beta\n");
Row Bomb(const char *label, int levels, bool capped) {
    if (!capped) return Ends(label, Lazy(BombZip, levels), kCompose, 1, 12, {}, kCap);
    Row r = Ends(label, Lazy(BombZip, levels), kBombCap, 1, 3005, {}, "", CutAtLimit);
    r.max_rss_kib = 1400 << 10;
    return r;
}

const Row kArchives[] = {
    // ".." is refused before anything is made (27); absolute names stay below work/; in compose
    // mode a name never becomes a path.
    Ends("climbing_names_split", Climbers, kSplit, 1, 27, {}, "", NoClimber),
    Ends("climbing_names_flat", Climbers, kFlat, 1, 27, {}, "", NoClimber),
    Ends("climbing_names_compose", Climbers, kCompose, 0, 0, {}, "", NoClimber),
    // 2000 levels fit (4015 bytes) and pruning keeps the text; a tree of directories only is pruned
    // away; 2100 levels do not fit (27).
    Ends("deep_2000_levels_split", Fixed(Zip({{Deep(2000, "f.doc"), "at the bottom\n"}})), kSplit,
         0, 0, {}, "", DeepTreeKept),
    Ends("deep_2000_directories_only", Fixed(Zip({{Deep(2000, ""), ""}})), kSplit, 1, 6002,
         {{"out/a.zip", "<none>"}}),
    Ends("deep_2100_levels_too_long", Fixed(Zip({{Deep(2100, "f.doc"), "never\n"}})), kSplit, 1, 27,
         {{"out/a.zip", "<none>"}}),
    // A 4000-byte component fits the buffers but not the file system (22); compose mode names its
    // member file itself.
    Ends("name_4000_bytes_split", Fixed(kLongName), kSplit, 1, 22),
    Ends("name_4000_bytes_flat", Fixed(kLongName), kFlat, 1, 22),
    Ends("name_4000_bytes_compose", Fixed(kLongName), kCompose, 0, 0),
    Ends("entries_65535_compose", Lazy(MostEntries, false), kCompose, 0, 0,
         {{"out/a.txt", Block("first.txt", "first\n") + Block("last.txt", "last\n")}}),
    Ends("entries_65535_split", Lazy(MostEntries, false), kSplit, 0, 0,
         {{"out/a.zip/last.txt.txt", "last\n"}}),
    Ends("entries_65535_claimed", Lazy(MostEntries, true), kCompose, 1, 6003),
    // Entries sharing a local header are each read from it; 1000 of them on a 1 MiB member meet the
    // size limit.
    Ends("shared_local_header", Fixed(SharedHeader(2, "shared\n")), kCompose, 0, 0,
         {{"out/a.txt", Block("m10000.txt", "shared\n") + Block("m10001.txt", "shared\n")}}),
    Ends("shared_local_header_1000_with_limit", Lazy(SharedHeader, 1000, std::string(1 << 20, 's')),
         Strict({"--max-size", "4194304"}), 1, 3005),
    // Sizes claiming 4 GiB - 1 and the bomb meet the default cap (512 MiB) first; with the cap at 1
    // GiB the bomb is decoded whole, its text cut at the 1 MiB limit, memory bounded by the cap,
    // five levels down too.
    Ends("claims_4GiB_uncompressed", Lazy(Claims4GiB, false, true), kCompose, 1, 12, {}, kCap),
    Ends("claims_4GiB_compressed", Lazy(Claims4GiB, true, false), kCompose, 1, 12, {}, kCap),
    Ends("claims_4GiB_both_split", Lazy(Claims4GiB, true, true), kSplit, 1, 12, {}, kCap),
    Bomb("bomb_default_cap", 1, false),
    Bomb("bomb_nested_5_default_cap", 5, false),
    Bomb("bomb_limit_on_cap_1GiB", 1, true),
    Bomb("bomb_nested_5_limit_on_cap_1GiB", 5, true),
};
VTQ_ROWS(Archives, kArchives);

void Fifo(const std::string &w) { ASSERT_EQ(mkfifo((w + "/out/p").c_str(), 0600), 0); }
void Device(const std::string &w, int minor, const char *name) {
    ASSERT_EQ(mknod((w + "/out/" + name).c_str(), S_IFCHR | 0666, makedev(1, minor)), 0);
}
// Written as standard output would be, through a FIFO, a link to one or a device: never opened for
// positioned writes, never removed.
Row Stream(const char *label, const char *out, Planter plant, Row::Paths after) {
    Row r = Ends(label, Fixed(kTwo), {"a.zip", "-o", out}, 0, 0, after, "", nullptr, plant);
    r.needs_root = r.after[0].second == "<device>"; // mknod
    if (!r.needs_root) {
        r.out = kComposed;
        r.fifo = "out/p";
    }
    return r;
}
// A folder the user may not write: the message names what could not be made and why.
Row ReadOnly(const char *label, Strings args) {
    Row r = Ends(label, Fixed(kTwo), args, 1, std::nullopt, {}, "': Permission denied",
                 [](const RunResult &res, const std::string &) {
                     EXPECT_NE(res.err.find("'out/"), res.err.npos) << res.err;
                 });
    r.read_only_out = true;
    return r;
}
// A full file system (a 256 KiB tmpfs at full/, filled, with an old output) or a copy of /dev/full:
// status 1 and the reason, also when only the close tells; the old output stays as it was.
void FillTmpfs(const std::string &w) {
    fs::create_directory(w + "/full");
    if (mount("tmpfs", (w + "/full").c_str(), "tmpfs", 0, "size=256k") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs";
    test::WriteFile(w + "/full/out.txt", "old\n");
    const int fd = open((w + "/full/filler").c_str(), O_WRONLY | O_CREAT, 0600);
    for (const std::string block(4096, 'f'); write(fd, block.data(), block.size()) > 0;) {
    }
    close(fd);
}
Row Full(const char *label, Strings args, const char *err) {
    const bool device = args.back() == "out/full";
    Row r = Ends(
        label, Fixed(kTwo), args, 1, std::nullopt,
        {device ? std::pair{"out/full", "<device>"} : std::pair{"full/out.txt", "old\n"}}, err,
        [](const RunResult &, const std::string &w) { umount2((w + "/full").c_str(), MNT_DETACH); },
        device ? [](const std::string &w) { Device(w, 7, "full"); } : Planter(FillTmpfs));
    r.needs_root = true;
    return r;
}
const std::string kNamedLikeIt = Zip({{"d/a.zip", "member named like the archive\n"}});
const char *kRefused = "refusing to write over the input archive 'a.zip'";

const Row kPlaces[] = {
    Stream("fifo", "out/p", Fifo, {{"out/p", "<fifo>"}}),
    Stream("link_to_fifo", "out/l",
           [](const std::string &w) {
               Fifo(w);
               fs::create_symlink("p", w + "/out/l");
           },
           {{"out/l", "<link>"}, {"out/p", "<fifo>"}}),
    Stream("copy_of_dev_null", "out/null", [](const std::string &w) { Device(w, 3, "null"); },
           {{"out/null", "<device>"}}),
    // The archive as the output, or as a flat-mode member file.
    Ends("output_is_input", Fixed(kTwo), {"a.zip", "-o", "a.zip"}, 2, 0, {{"a.zip", kTwo}},
         kRefused),
    Ends("flat_member_is_input", Fixed(kNamedLikeIt), {"--flat", "-o", "x.txt", "a.zip"}, 2, 0,
         {{"a.zip", kNamedLikeIt}}, kRefused),
    // A link named like a member is not written through, a user's file named like a text is not
    // written over, three texts of one name stay.
    Ends("flat_planted_link", Fixed(kTwo), {"--flat", "-o", "out/a.txt", "a.zip"}, 1, std::nullopt,
         {{"outside.txt", "mine\n"}, {"out/b.md", "<link>"}}, "", nullptr,
         [](const std::string &w) {
             test::WriteFile(w + "/outside.txt", "mine\n");
             fs::create_symlink("../outside.txt", w + "/out/b.md");
         }),
    Ends("flat_user_file_named_like_a_text", Fixed(kTwo), {"--flat", "-o", "out/a.txt", "a.zip"}, 0,
         0, {{"out/b.txt", "mine\n"}, {"out/b (2).txt", "beta\n"}}, "", nullptr,
         [](const std::string &w) { test::WriteFile(w + "/out/b.txt", "mine\n"); }),
    Ends("split_texts_one_name",
         Fixed(Zip({{"x.md", "one\n"}, {"x.csv", "two\n"}, {"x", "three\n"}})),
         {"--split", "-o", "out/a.txt", "a.zip"}, 0, 0,
         {{"out/a.zip/x.txt", "one\n"},
          {"out/a.zip/x (2).txt", "two\n"},
          {"out/a.zip/x (3).txt", "three\n"}}),
    ReadOnly("read_only_compose", {"a.zip", "-o", "out/a.txt"}),
    ReadOnly("read_only_split", {"--split", "-o", "out/a.txt", "a.zip"}),
    ReadOnly("read_only_flat", {"--flat", "-o", "out/a.txt", "a.zip"}),
    Full("full_compose", {"a.zip", "-o", "full/out.txt"},
         "ziptext: cannot write 'full/out.txt': No space left on device"),
    Full("full_split", {"--split", "-o", "full/out.txt", "a.zip"}, "'full/a.zip/"),
    Full("full_flat", {"--flat", "-o", "full/out.txt", "a.zip"}, "': No space left on device"),
    Full("dev_full", {"a.zip", "-o", "out/full"},
         "ziptext: cannot write 'out/full': No space left on device"),
};
VTQ_ROWS(Outputs, kPlaces);

class Surroundings : public ZiptextTest {};

// Runs stopped at random points by SIGINT, SIGTERM or SIGHUP, or by a reader that closes standard
// output early (SIGPIPE): each dies of its signal, work/ is exactly as before or as a whole run
// leaves it (the old output never cut short), TMPDIR gains nothing (member files are memory files:
// nothing of theirs is ever named in /dev/shm).
TEST_F(Surroundings, InterruptedRunsLeaveNothing) {
    if (UnderMemcheck()) GTEST_SKIP() << "stops runs by timing, which valgrind stretches";
    std::vector<std::pair<std::string, std::string>> members;
    for (int i = 0; i < 100; ++i)
        members.emplace_back("d" + std::to_string(i % 7) + "/m" + std::to_string(i) + ".txt",
                             std::string(12288, static_cast<char>('a' + i % 26)));
    test::WriteFile(Work("a.zip"), Zip(members));
    const std::vector<int> kStops{SIGINT, SIGTERM, SIGHUP}, kPipe{SIGPIPE};
    const std::pair<Strings, std::vector<int>> modes[] = {
        {{"a.zip", "-o", "out/a.txt"}, kStops},
        {{"a.zip"}, kPipe},
        {{"a.zip", "-o", "/dev/stdout"}, kPipe},
        {{"--split", "-o", "out/a.txt", "a.zip"}, kStops},
        {{"--flat", "-o", "out/a.txt", "a.zip"}, kStops},
    };
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    const int devnull = open("/dev/null", O_WRONLY | O_CLOEXEC);
    auto state = [&](bool reset) { // every path below work/ with the bytes of every file
        if (reset) {
            fs::remove_all(Work("out"));
            fs::create_directory(Work("out"));
            test::WriteFile(Work("out/a.txt"), "old\n");
        }
        Strings s = Tree(Work());
        for (std::string &p : s)
            p += p.back() == '/' || p == "a.zip" ? "" : "=" + test::ReadFile(Work(p));
        return s;
    };
    int runs = 0, stopped = 0;
    for (const auto &[args, signals] : modes) {
        SCOPED_TRACE(testing::PrintToString(args));
        state(true); // a whole run first: how long it takes, what it leaves
        const auto t0 = std::chrono::steady_clock::now();
        ASSERT_EQ(Run(args).status, 0);
        const auto whole = std::chrono::steady_clock::now() - t0;
        const Strings after_whole = state(false);
        for (int rep = 0; rep < 5; ++rep) {
            for (int sig : signals) {
                const Strings before = state(true);
                int wstatus = 0, p[2] = {-1, -1};
                ASSERT_TRUE(sig != SIGPIPE || pipe2(p, O_CLOEXEC) == 0);
                const pid_t pid = Start(args, sig == SIGPIPE ? p[1] : devnull);
                if (sig == SIGPIPE) { // read well inside the 1.2 MB of text, past the pipe's buffer
                    close(p[1]);
                    char buf[8192];
                    auto want = std::uniform_int_distribution<std::size_t>(0, 600000)(random);
                    for (ssize_t n = 0;
                         want > 0 && (n = read(p[0], buf, std::min(want, sizeof buf))) > 0;)
                        want -= n;
                    close(p[0]);
                } else {
                    std::this_thread::sleep_for(whole *
                                                std::uniform_real_distribution(0.0, 0.6)(random));
                    kill(pid, sig);
                }
                waitpid(pid, &wstatus, 0);
                const Strings after = state(false);
                ++runs;
                stopped += WIFSIGNALED(wstatus);
                EXPECT_TRUE(
                    WIFSIGNALED(wstatus)
                        ? WTERMSIG(wstatus) == sig && (after == before || after == after_whole)
                        : WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 0 && after == after_whole)
                    << "status " << wstatus << ": " << testing::PrintToString(after);
                EXPECT_EQ(Tree(Tmp()), Strings{});
            }
        }
    }
    close(devnull);
    EXPECT_GE(stopped, runs * 3 / 4); // most runs must really be stopped
}

} // namespace
} // namespace vtq::e2e

// test_hostile.cc - archives and surroundings made to hurt ziptext
//
// Each row of the first table is an archive someone could send on purpose:
// names that climb out of the work directory, very deep trees, very long
// names, the largest entry count, entries that share data, sizes that
// claim 4 GiB, and a deflate bomb.  ziptext runs in compose, split or flat
// mode into out/; every row checks the code, that nothing appears anywhere
// but out/ and the archive, and that the run stayed within time and memory.
//
// The second part keeps the archive harmless and makes the surroundings
// hostile: FIFOs, devices and links where the output goes, the archive
// itself as an output, the user's own files under the names of texts, a
// folder the tool may not write, a full file system, and runs stopped by
// signals at random points.
#include <zlib.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

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
using test::ZipMember;
using Strings = std::vector<std::string>;

constexpr long kMiB = 1024; // in KiB, as max_rss_kib counts
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

std::string Climbers(const std::string &work) {
    ZipArchive a;
    a.Add("../up.txt", "climbs one level\n");
    a.Add("x/../../up2.txt", "climbs through a directory\n");
    a.Add("../updir/");
    a.Add(fs::path(work).parent_path().string() + "/abs.txt", "absolute, beside work/\n");
    a.Add("/abs-root-" + std::to_string(getpid()) + ".txt", "absolute, at the root\n");
    a.Add("ok.txt", "stays\n");
    return a.Build();
}

// The end record's largest count: one member at each end of 65533
// directory entries proves the walk went through all of them.
std::string MostEntries() {
    ZipArchive a;
    a.Add("first.txt", "first\n");
    for (int i = 0; i < 65533; ++i) a.Add("d/");
    a.Add("last.txt", "last\n");
    return a.Build();
}

// n central entries that all point at the local header of the first.
std::string SharedHeader(int n, const std::string &text) {
    const std::string deflated = test::Deflate(text);
    ZipArchive a;
    for (int i = 0; i < n; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "m%05d.txt", i);
        ZipMember &m = a.Add(name, "", 8);
        m.raw = deflated;
        m.crc = test::Crc32(text);
        m.uncompressed_size = static_cast<uint32_t>(text.size());
        m.local_offset = 0;
    }
    return a.Build();
}

std::string Claims4GiB(bool compressed, bool uncompressed) {
    ZipArchive a;
    ZipMember &m = a.Add("big.txt", "small in truth\n", 8);
    if (compressed) m.compressed_size = 0xFFFFFFFFu;
    if (uncompressed) m.uncompressed_size = 0xFFFFFFFFu;
    return a.Build();
}

// 1 GiB of the digit '0' (text, so that the size limit and not a missing
// text filter stops it) as bomb.txt, about 1 MiB deflated and made once,
// inside levels archives (1: the top-level one).
std::string BombZip(int levels) {
    static const std::pair<std::string, uint32_t> bomb = [] {
        std::string deflated, out(64u << 10, '\0');
        const std::string chunk(1u << 20, '0');
        z_stream z{};
        deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_RLE); // as small as level 9, twice as fast
        uLong crc = crc32(0, nullptr, 0);
        for (uint32_t done = 0; done < kGiB; done += 1u << 20) {
            crc = crc32(crc, reinterpret_cast<const Bytef *>(chunk.data()), 1u << 20);
            z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(chunk.data()));
            z.avail_in = 1u << 20;
            do {
                z.next_out = reinterpret_cast<Bytef *>(out.data());
                z.avail_out = static_cast<uInt>(out.size());
                deflate(&z, done + (1u << 20) == kGiB ? Z_FINISH : Z_NO_FLUSH);
                deflated.append(out.data(), out.size() - z.avail_out);
            } while (z.avail_out == 0);
        }
        deflateEnd(&z);
        return std::pair{deflated, static_cast<uint32_t>(crc)};
    }();
    ZipArchive a;
    ZipMember &m = a.Add("bomb.txt", "", 8);
    m.raw = bomb.first;
    m.crc = bomb.second;
    m.uncompressed_size = kGiB;
    std::string bytes = a.Build();
    for (int level = levels; level > 1; --level) bytes = One("level" + std::to_string(level) + ".zip", bytes);
    return bytes;
}

// Levels below dir along "d" links, walked without paths (the bottom is
// further than any path buffer reaches); text: f.txt at the bottom.
int DeepLevels(const std::string &dir, bool *text) {
    int fd = open(dir.c_str(), O_DIRECTORY | O_RDONLY), n = 0;
    while (fd >= 0) {
        const int next = openat(fd, "d", O_DIRECTORY | O_RDONLY);
        if (next < 0) *text = faccessat(fd, "f.txt", F_OK, 0) == 0;
        close(fd);
        fd = next;
        n += fd >= 0;
    }
    return n;
}

using Check = std::function<void(const RunResult &, const std::string &work)>;

void NoClimber(const RunResult &, const std::string &work) {
    for (const char *p : {"../up.txt", "../up2.txt", "../updir", "../abs.txt", "up.txt", "up2.txt", "updir", "abs.txt"})
        EXPECT_FALSE(fs::exists(work + "/" + p)) << p;
    EXPECT_FALSE(fs::exists("/abs-root-" + std::to_string(getpid()) + ".txt"));
}
void NoWorkDir(const RunResult &, const std::string &w) { EXPECT_FALSE(fs::exists(w + "/out/a.zip")); }
void CutAtLimit(const RunResult &r, const std::string &work) {
    const auto size = fs::file_size(work + "/out/a.txt");
    EXPECT_LE(size, 1u << 20);
    EXPECT_GE(size, (1u << 20) - 64) << r.err;
}
void NamesTheDefaultCap(const RunResult &r, const std::string &) {
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
    long max_rss_kib = 256 * kMiB;
    int seconds = 60;
};

const Strings kSplit{"--split"}, kFlat{"--flat"}, kBombCap{"--max-size", "1048576", "--max-member-size", "1073741824"};
auto Fixed(std::string bytes) { return [bytes](const std::string &) { return bytes; }; }

const Row kRows[] = {
    // A ".." component is refused before anything is made (27, the others
    // go on); absolute names stay below the work directory; in compose
    // mode the name never becomes a path.
    {"climbing_names_split", Climbers, kSplit, 27, NoClimber},
    {"climbing_names_flat", Climbers, kFlat, 27, NoClimber},
    {"climbing_names_compose", Climbers, {}, 0, NoClimber},
    // 2000 directory levels: the whole path (4015 bytes) fits, the text
    // lands at the bottom and pruning keeps it; only directories are
    // pruned away; at 2100 levels the member's path does not fit (27).
    {"deep_2000_levels_split", Fixed(One(Deep(2000, "f.doc"), "at the bottom\n", 8)), kSplit, 0,
     [](const RunResult &, const std::string &w) {
         bool text = false;
         EXPECT_EQ(DeepLevels(w + "/out/a.zip", &text), 2000);
         EXPECT_TRUE(text);
     }},
    {"deep_2000_directories_only", Fixed(One(Deep(2000, ""), "")), kSplit, 6002, NoWorkDir},
    {"deep_2100_levels_too_long", Fixed(One(Deep(2100, "f.doc"), "never written\n")), kSplit, 27, NoWorkDir},
    // One 4000-byte component fits the buffers but not the file system:
    // the member file cannot be opened (22).  Compose mode names its
    // member file itself.
    {"name_4000_bytes_split", Fixed(One(std::string(3996, 'n') + ".doc", "long\n")), kSplit, 22},
    {"name_4000_bytes_flat", Fixed(One(std::string(3996, 'n') + ".doc", "long\n")), kFlat, 22},
    {"name_4000_bytes_compose", Fixed(One(std::string(3996, 'n') + ".doc", "long\n")), {}, 0},
    {"entries_65535_compose", [](const std::string &) { return MostEntries(); }, {}, 0, Output(Block("first.txt", "first\n") + Block("last.txt", "last\n"))},
    {"entries_65535_split", [](const std::string &) { return MostEntries(); }, kSplit, 0,
     [](const RunResult &, const std::string &w) { EXPECT_TRUE(fs::exists(w + "/out/a.zip/last.txt.txt")); }},
    {"entries_65535_claimed",
     [](const std::string &) {
         ZipArchive a;
         a.Add("only.txt", "one\n");
         a.entries_total = 65535;
         return a.Build();
     },
     {}, 6003},
    // Entries sharing one local header are each extracted from it; 1000 of
    // them on one 1 MiB member (1 GiB of text) meet the size limit.
    {"shared_local_header", Fixed(SharedHeader(2, "shared\n")), {}, 0,
     Output(Block("m00000.txt", "shared\n") + Block("m00001.txt", "shared\n"))},
    {"shared_local_header_1000_with_limit", [](const std::string &) { return SharedHeader(1000, std::string(1 << 20, 's')); },
     {"--max-size", "4194304"}, 3005},
    // Sizes claiming 4 GiB - 1 are refused by the host's cap first.
    {"claims_4GiB_uncompressed", Fixed(Claims4GiB(false, true)), {}, 12, NamesTheDefaultCap},
    {"claims_4GiB_compressed", Fixed(Claims4GiB(true, false)), {}, 12, NamesTheDefaultCap},
    {"claims_4GiB_both_split", Fixed(Claims4GiB(true, true)), kSplit, 12, NamesTheDefaultCap},
    // The bomb: the default cap (512 MiB) refuses to hold it (12, nothing
    // decoded); with the cap at 1 GiB it is decoded whole and the size
    // limit cuts its text at 1 MiB, memory bounded by the cap, also five
    // levels down.
    {"bomb_default_cap", [](const std::string &) { return BombZip(1); }, {}, 12, NamesTheDefaultCap},
    {"bomb_nested_5_default_cap", [](const std::string &) { return BombZip(5); }, {}, 12, NamesTheDefaultCap},
    {"bomb_limit_on_cap_1GiB", [](const std::string &) { return BombZip(1); }, kBombCap, 3005, CutAtLimit, 1400 * kMiB, 120},
    {"bomb_nested_5_limit_on_cap_1GiB", [](const std::string &) { return BombZip(5); }, kBombCap, 3005, CutAtLimit,
     1400 * kMiB, 120},
};

class Hostile : public ZiptextTest, public ::testing::WithParamInterface<Row> {};

TEST_P(Hostile, EndsWithItsCodeAndNothingOutside) {
    const Row &row = GetParam();
    test::WriteFile(Work("a.zip"), row.archive(Work()));
    fs::create_directory(Work("out"));
    Strings args = row.args;
    args.insert(args.begin(), "--strict");
    args.insert(args.end(), {"-o", "out/a.txt", "a.zip"});
    const RunResult r = Run(args, {}, row.seconds);
    ASSERT_FALSE(r.timed_out) << "still running after " << row.seconds << " s";
    ASSERT_EQ(r.signal, 0);
    EXPECT_EQ(r.Code(), row.code) << r.err;
    EXPECT_EQ(r.status, row.code == 0 ? 0 : 1) << r.err;
    EXPECT_TRUE(UnderMemcheck() || r.max_rss_kib <= row.max_rss_kib) << r.max_rss_kib; // valgrind's own would count
    RecordProperty("peak_rss_kib", std::to_string(r.max_rss_kib));
    // Nothing but the archive and out/ in work/, nothing new beside it.
    // (One level deep: a walk of the 2000-level trees by path takes minutes.)
    for (const auto &e : fs::directory_iterator(Work()))
        EXPECT_TRUE(e.path().filename() == "a.zip" || e.path().filename() == "out") << e.path();
    for (const auto &e : fs::directory_iterator(Work() + "/..")) {
        const std::string n = e.path().filename();
        EXPECT_TRUE(n == "work" || n == "tmp" || n == "stdout" || n == "stderr") << n;
    }
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

// Reads a FIFO on a thread of its own until its writer closes it.
class FifoReader {
public:
    explicit FifoReader(const std::string &path)
        : path_(path), bytes_(std::async(std::launch::async, [path] { return test::ReadFile(path); })) {}
    // What came through.  A reader still waiting for a writer that never
    // came is let go with an empty writer of its own.
    std::string Collect() {
        using namespace std::chrono_literals;
        while (bytes_.wait_for(10ms) != std::future_status::ready) {
            const int fd = open(path_.c_str(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0) close(fd);
        }
        return bytes_.get();
    }

private:
    std::string path_;
    std::future<std::string> bytes_;
};

// A situation in work/ (a.zip is there), the run, and what must hold.
struct Place {
    const char *label;
    std::string archive;
    std::function<void(const std::string &work)> plant;
    Strings args;
    int status;
    // fifo_bytes: what a reader of the row's FIFO received.
    std::function<void(const RunResult &, const std::string &work, const std::string &fifo_bytes)> check;
    const char *fifo = nullptr; // a FIFO below work/, read while the tool runs
    bool needs_root = false;    // mknod
    bool read_only_out = false; // out/ without write permission, for a user without privileges
};

void MakeFifo(const std::string &path) { ASSERT_EQ(mkfifo(path.c_str(), 0600), 0) << path; }
void Names(const RunResult &r, const std::string &what) {
    EXPECT_NE(r.err.find(what), std::string::npos) << r.err;
}
void KeptArchive(const RunResult &r, const std::string &w, const std::string &) {
    EXPECT_EQ(test::ReadFile(w + "/a.zip"), kTwo);
    Names(r, "refusing to write over the input archive 'a.zip'");
}
void Denied(const RunResult &r, const std::string &, const std::string &) {
    EXPECT_NE(r.err.find("'out/"), std::string::npos) << r.err;
    Names(r, "': Permission denied");
}

const Place kPlaces[] = {
    // Written as standard output would be, through the FIFO, a link to
    // one, or a device: never opened for positioned writes, never removed.
    {"fifo", kTwo, [](const std::string &w) { MakeFifo(w + "/out/p"); }, {"a.zip", "-o", "out/p"}, 0,
     [](const RunResult &, const std::string &w, const std::string &got) {
         EXPECT_EQ(got, kComposed);
         EXPECT_TRUE(Is(w + "/out/p", S_IFIFO));
     }, "out/p"},
    {"link_to_fifo", kTwo,
     [](const std::string &w) {
         MakeFifo(w + "/out/p");
         fs::create_symlink("p", w + "/out/l");
     },
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
    {"output_is_input", kTwo, nullptr, {"a.zip", "-o", "a.zip"}, 2, KeptArchive},
    {"flat_member_is_input", Zip({{"d/a.zip", "member named like the archive\n"}}), nullptr,
     {"--flat", "-o", "x.txt", "a.zip"}, 2,
     [](const RunResult &r, const std::string &w, const std::string &) {
         EXPECT_EQ(test::ReadFile(w + "/a.zip"), Zip({{"d/a.zip", "member named like the archive\n"}}));
         Names(r, "refusing to write over the input archive 'a.zip'");
     }},
    // What is in the folder stays as it is: a link named like a member
    // is not written through, a user's file named like a text is not
    // written over, and two texts of one name both stay.
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
         EXPECT_EQ(test::ReadFile(w + "/out/b.txt"), "mine\n");
         EXPECT_EQ(ReadOr(w + "/out/b (2).txt"), "beta\n");
     }},
    {"split_two_texts_one_name", Zip({{"x.md", "one\n"}, {"x.csv", "two\n"}}), nullptr,
     {"--split", "-o", "out/a.txt", "a.zip"}, 0,
     [](const RunResult &, const std::string &w, const std::string &) {
         const std::set<std::string> texts{ReadOr(w + "/out/a.zip/x.txt"), ReadOr(w + "/out/a.zip/x (2).txt")};
         EXPECT_EQ(texts, (std::set<std::string>{"one\n", "two\n"}));
     }},
    // A folder the user may not write: the message names what could not
    // be made and why, not the archive.
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
        // Root writes anywhere; without the two capabilities it is held to
        // the permissions like any user.
        if (geteuid() == 0) {
            if (access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "root, and no setpriv to drop privileges";
            launcher_ = {"/usr/bin/setpriv", "--bounding-set=-dac_override,-dac_read_search", "--"};
        }
    }
    std::optional<FifoReader> reader;
    if (row.fifo != nullptr) reader.emplace(Work(row.fifo));
    const RunResult r = Run(row.args, {}, 20);
    const std::string got = reader ? reader->Collect() : "";
    fs::permissions(Work("out"), fs::perms::owner_all, fs::perm_options::add);
    ASSERT_FALSE(r.timed_out);
    EXPECT_EQ(r.status, row.status) << r.err;
    row.check(r, Work(), got);
}

INSTANTIATE_TEST_SUITE_P(Outputs, Places, ::testing::ValuesIn(kPlaces),
                         [](const auto &r) { return std::string(r.param.label); });

class Surroundings : public ZiptextTest {};

// A full file system (a 256 KiB tmpfs, filled up) and a copy of /dev/full:
// data that does not reach its file, also when only the close tells, gives
// status 1 and a message with the reason; an old output stays as it was.
TEST_F(Surroundings, WriteErrorsAreReported) {
    if (geteuid() != 0) GTEST_SKIP() << "mount and mknod need root";
    const std::string full = Work("full");
    fs::create_directories(full);
    if (mount("tmpfs", full.c_str(), "tmpfs", 0, "size=256k") != 0) GTEST_SKIP() << "cannot mount a tmpfs";
    struct Unmount {
        std::string dir;
        ~Unmount() { umount2(dir.c_str(), MNT_DETACH); }
    } unmount{full};
    test::WriteFile(Work("a.zip"), kTwo);
    test::WriteFile(full + "/out.txt", "old\n");
    {
        const int fd = open((full + "/filler").c_str(), O_WRONLY | O_CREAT, 0600);
        const std::string block(4096, 'f');
        while (write(fd, block.data(), block.size()) > 0) {
        }
        close(fd);
    }
    fs::create_directory(Work("out"));
    ASSERT_EQ(mknod(Work("out/full").c_str(), S_IFCHR | 0666, makedev(1, 7)), 0);
    struct Case {
        Strings args;
        Strings parts; // of the message
    };
    const Case cases[] = {
        {{"a.zip", "-o", "full/out.txt"}, {"ziptext: cannot write 'full/out.txt': No space left on device\n"}},
        {{"--split", "-o", "full/out.txt", "a.zip"}, {"'full/a.zip/", "': No space left on device"}},
        {{"--flat", "-o", "full/out.txt", "a.zip"}, {"'full/", "': No space left on device"}},
        {{"a.zip", "-o", "out/full"}, {"ziptext: cannot write 'out/full': No space left on device\n"}},
    };
    for (const Case &c : cases) {
        const RunResult r = Run(c.args);
        const std::string run = testing::PrintToString(c.args) + ": " + r.err;
        EXPECT_EQ(r.status, 1) << run;
        for (const std::string &part : c.parts) EXPECT_NE(r.err.find(part), std::string::npos) << run;
    }
    EXPECT_EQ(test::ReadFile(full + "/out.txt"), "old\n");
    EXPECT_TRUE(Is(Work("out/full"), S_IFCHR));
}

std::vector<std::string> ShmNames() {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto &e : fs::directory_iterator("/dev/shm", ec)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

// Runs stopped at random points, by SIGINT, SIGTERM or SIGHUP, or by a
// reader that closes standard output early (SIGPIPE), in compose, split and
// flat mode: each dies of its signal and leaves nothing it made.  work/
// (out/ included) is afterwards exactly as before, or as a whole run leaves
// it when the signal came after the outputs were in place; the old output
// is never cut short; TMPDIR and /dev/shm gain nothing.
TEST_F(Surroundings, InterruptedRunsLeaveNothing) {
    if (UnderMemcheck()) GTEST_SKIP() << "stops runs by timing, which valgrind stretches";
    std::vector<std::pair<std::string, std::string>> members;
    for (int i = 0; i < 100; ++i)
        members.emplace_back("d" + std::to_string(i % 7) + "/m" + std::to_string(i) + ".txt",
                             std::string(12288, static_cast<char>('a' + i % 26)));
    test::WriteFile(Work("a.zip"), Zip(members));
    struct Mode {
        const char *name;
        Strings args;
        std::vector<int> signals; // SIGPIPE: the reader of standard output goes away
    };
    const Mode modes[] = {
        {"compose", {"a.zip", "-o", "out/a.txt"}, {SIGINT, SIGTERM, SIGHUP}},
        {"stdout", {"a.zip"}, {SIGPIPE}},
        {"dev_stdout", {"a.zip", "-o", "/dev/stdout"}, {SIGPIPE}},
        {"split", {"--split", "-o", "out/a.txt", "a.zip"}, {SIGINT, SIGTERM, SIGHUP}},
        {"flat", {"--flat", "-o", "out/a.txt", "a.zip"}, {SIGINT, SIGTERM, SIGHUP}},
    };
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    const int devnull = open("/dev/null", O_WRONLY | O_CLOEXEC);
    const std::vector<std::string> shm_before = ShmNames();
    auto reset_out = [&] {
        fs::remove_all(Work("out"));
        fs::create_directory(Work("out"));
        test::WriteFile(Work("out/a.txt"), "old\n");
    };
    // Everything below work/ with the bytes of every file.
    auto state = [&] {
        std::vector<std::string> s = Tree(Work());
        for (std::string &p : s)
            if (p.back() != '/' && p != "a.zip") p += "=" + test::ReadFile(Work(p));
        return s;
    };
    int runs = 0, stopped = 0; // 55 runs in all
    for (const Mode &mode : modes) {
        SCOPED_TRACE(mode.name);
        // A whole run first: how long it takes, and what it leaves.
        reset_out();
        const auto t0 = std::chrono::steady_clock::now();
        ASSERT_EQ(Run(mode.args).status, 0);
        const auto whole_us = std::chrono::duration_cast<std::chrono::microseconds>(
                                  std::chrono::steady_clock::now() - t0).count();
        const std::vector<std::string> after_whole = state();
        for (int rep = 0; rep < 5; ++rep) {
            for (int sig : mode.signals) {
                reset_out();
                const std::vector<std::string> before = state();
                int wstatus = 0;
                if (sig == SIGPIPE) {
                    int p[2];
                    ASSERT_EQ(pipe2(p, O_CLOEXEC), 0);
                    const pid_t pid = Start(mode.args, p[1]);
                    close(p[1]);
                    // Well inside the 1.2 MB of text, past the pipe's buffer.
                    std::size_t want = std::uniform_int_distribution<std::size_t>(0, 600000)(random);
                    char buf[8192];
                    while (want > 0) {
                        const ssize_t n = read(p[0], buf, std::min(want, sizeof buf));
                        if (n <= 0) break;
                        want -= static_cast<std::size_t>(n);
                    }
                    close(p[0]);
                    waitpid(pid, &wstatus, 0);
                } else {
                    const pid_t pid = Start(mode.args, devnull);
                    std::this_thread::sleep_for(std::chrono::microseconds(
                        std::uniform_int_distribution<long>(0, whole_us * 6 / 10)(random)));
                    kill(pid, sig);
                    waitpid(pid, &wstatus, 0);
                }
                ++runs;
                const std::vector<std::string> after = state();
                if (WIFSIGNALED(wstatus)) {
                    ++stopped;
                    EXPECT_EQ(WTERMSIG(wstatus), sig);
                    EXPECT_TRUE(after == before || after == after_whole) << testing::PrintToString(after);
                } else {
                    EXPECT_TRUE(WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 0 && after == after_whole)
                        << "signal " << sig << ", status " << wstatus;
                }
                EXPECT_EQ(Tree(Tmp()), Strings{});
            }
        }
    }
    close(devnull);
    std::vector<std::string> shm_new;
    const std::vector<std::string> shm_after = ShmNames();
    std::set_difference(shm_after.begin(), shm_after.end(), shm_before.begin(), shm_before.end(),
                        std::back_inserter(shm_new));
    std::erase_if(shm_new, [](const std::string &n) { return n.rfind("vtqz-", 0) != 0; });
    EXPECT_EQ(shm_new, Strings{});
    // Most runs must really be stopped, or the test proves little.
    EXPECT_GE(stopped, runs * 3 / 4);
}

} // namespace
} // namespace vtq::e2e

// test_hostile.cc - archives made to hurt the reader, through ziptext
//
// Each row is an archive someone could send on purpose: names that climb
// out of the work directory, very deep trees, very long names, the largest
// entry count, entries that share data, sizes that claim 4 GiB, and a
// deflate bomb.  ziptext runs in compose, split or flat mode into out/;
// every row checks the code, that nothing appears anywhere but out/ and
// the archive, and that the run stayed within time and memory.
#include <zlib.h>

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

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

} // namespace
} // namespace vtq::e2e

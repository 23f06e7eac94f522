// test_hostile.cc - archives made to hurt the reader, through ziptext
//
// Each row is an archive that someone could send on purpose: names that
// climb out of the work directory, very deep trees, very long names, the
// largest entry count, entries that share data, sizes that claim 4 GiB,
// and a deflate bomb.  ziptext runs as a user runs it, in compose, split
// or flat mode into out/; every row checks the code, that nothing appears
// anywhere but out/ and the archive, and that the run stayed within time
// and memory.
#include <zlib.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>

#include "tests/e2e/e2e.h"

namespace fs = std::filesystem;

namespace vtq::e2e {
namespace {

using e2e::PrintTo; // rows print as their label
using test::ZipArchive;
using test::ZipMember;

constexpr long kMiB = 1024; // in KiB, as max_rss_kib counts
constexpr uint32_t kGiB = 1u << 30;

// ------------------------------------------------------------- archives

// "d/" repeated levels times, then tail.
std::string Deep(int levels, const std::string &tail) {
    std::string name;
    for (int i = 0; i < levels; ++i) name += "d/";
    return name + tail;
}

// The tree below dir along "d" links, as deep as it goes; a path-free walk
// (openat), since the bottom is further than any path buffer reaches.
int DeepLevels(const std::string &dir, bool *text_at_bottom) {
    int fd = open(dir.c_str(), O_DIRECTORY | O_RDONLY), n = 0;
    while (fd >= 0) {
        const int next = openat(fd, "d", O_DIRECTORY | O_RDONLY);
        if (next < 0) *text_at_bottom = faccessat(fd, "f.txt", F_OK, 0) == 0;
        close(fd);
        fd = next;
        n += fd >= 0;
    }
    return n;
}

ZipArchive Climbers(const std::string &work) {
    ZipArchive a;
    a.Add("../up.txt", "climbs one level\n");
    a.Add("x/../../up2.txt", "climbs through a directory\n");
    a.Add("../updir/");
    a.Add(fs::path(work).parent_path().string() + "/abs.txt", "absolute, beside work/\n");
    a.Add("/abs-root-" + std::to_string(getpid()) + ".txt", "absolute, at the root\n");
    a.Add("ok.txt", "stays\n");
    return a;
}

// Entries in the end record's largest count: the directory entries cost a
// central read each (and in split mode a make request); one member at
// each end of the directory proves the walk went through all of them.
ZipArchive MostEntries() {
    ZipArchive a;
    a.Add("first.txt", "first\n");
    for (int i = 0; i < 65533; ++i) a.Add("d/");
    a.Add("last.txt", "last\n");
    return a;
}

// n central entries that all point at the local header of the first.
ZipArchive SharedHeader(int n, const std::string &text) {
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
    return a;
}

// A deflated member whose central and local sizes claim 4 GiB - 1.
ZipArchive Claims4GiB(bool compressed, bool uncompressed) {
    ZipArchive a;
    ZipMember &m = a.Add("big.txt", "small in truth\n", 8);
    if (compressed) m.compressed_size = 0xFFFFFFFFu;
    if (uncompressed) m.uncompressed_size = 0xFFFFFFFFu;
    return a;
}

// The raw deflate of 1 GiB of the digit '0' (text, so that the size limit
// and not a missing text filter is what stops it) and its CRC, made once
// per test run by streaming, about 1 MiB.
struct Bomb {
    std::string deflated;
    uint32_t crc = 0;
};
const Bomb &GiBBomb() {
    static const Bomb bomb = [] {
        Bomb b;
        constexpr uInt kChunk = 1u << 20;
        const std::string chunk(kChunk, '0');
        z_stream z{};
        deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_RLE); // as small as level 9, twice as fast
        constexpr uInt kOut = 64u << 10;
        std::string out(kOut, '\0');
        uLong crc = crc32(0, nullptr, 0);
        for (uint32_t done = 0; done < kGiB; done += kChunk) {
            const bool last = done + kChunk == kGiB;
            crc = crc32(crc, reinterpret_cast<const Bytef *>(chunk.data()), kChunk);
            z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(chunk.data()));
            z.avail_in = kChunk;
            do {
                z.next_out = reinterpret_cast<Bytef *>(out.data());
                z.avail_out = kOut;
                deflate(&z, last ? Z_FINISH : Z_NO_FLUSH);
                b.deflated.append(out.data(), kOut - z.avail_out);
            } while (z.avail_out == 0);
        }
        deflateEnd(&z);
        b.crc = static_cast<uint32_t>(crc);
        return b;
    }();
    return bomb;
}

// The bomb as bomb.txt, inside levels archives (1: the top-level one).
std::string BombZip(int levels) {
    ZipArchive a;
    ZipMember &m = a.Add("bomb.txt", "", 8);
    m.raw = GiBBomb().deflated;
    m.crc = GiBBomb().crc;
    m.uncompressed_size = kGiB;
    std::string bytes = a.Build();
    for (int level = levels - 1; level >= 1; --level) {
        ZipArchive outer;
        outer.Add("level" + std::to_string(level + 1) + ".zip", bytes);
        bytes = outer.Build();
    }
    return bytes;
}

// ------------------------------------------------------------------ rows

const std::vector<std::string> kCompose{}, kSplit{"--split"}, kFlat{"--flat"};

struct Row {
    const char *label;
    std::function<std::string(const std::string &work)> archive;
    std::vector<std::string> args; // mode and options; "-o out/a.txt a.zip" follow
    uint32_t code;
    // Extra checks on the run and the work directory, when any.
    std::function<void(const RunResult &, const std::string &work)> check = nullptr;
    long max_rss_kib = 256 * kMiB;
    int seconds = 60;
};

void NoClimber(const RunResult &, const std::string &work) {
    for (const char *p : {"../up.txt", "../up2.txt", "../updir", "../abs.txt", "up.txt",
                          "up2.txt", "updir", "abs.txt"})
        EXPECT_FALSE(fs::exists(work + "/" + p)) << p;
    EXPECT_FALSE(fs::exists("/abs-root-" + std::to_string(getpid()) + ".txt"));
}

void DeepFileKept(const RunResult &, const std::string &work) {
    bool text = false;
    EXPECT_EQ(DeepLevels(work + "/out/a.zip", &text), 2000);
    EXPECT_TRUE(text);
}

void CutAtLimit(const RunResult &r, const std::string &work) {
    const auto size = fs::file_size(work + "/out/a.txt");
    EXPECT_LE(size, 1u << 20);
    EXPECT_GE(size, (1u << 20) - 64) << r.err;
}

void NamesTheDefaultCap(const RunResult &r, const std::string &) {
    EXPECT_NE(r.err.find("member-size cap of 536870912 bytes"), std::string::npos) << r.err;
}

const std::vector<std::string> kLimit1MiB{"--max-size", "1048576"};
const std::vector<std::string> kCapGiB{"--max-member-size", "1073741824"};
std::vector<std::string> Join(std::vector<std::string> a, const std::vector<std::string> &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const Row kRows[] = {
    // A ".." component is refused before anything is made (27, the others
    // go on); absolute names stay below the work directory; in compose
    // mode and flat mode the name never becomes a path.
    {"climbing_names_split", [](const std::string &w) { return Climbers(w).Build(); }, kSplit,
     27, NoClimber},
    {"climbing_names_flat", [](const std::string &w) { return Climbers(w).Build(); }, kFlat, 27,
     NoClimber},
    {"climbing_names_compose", [](const std::string &w) { return Climbers(w).Build(); },
     kCompose, 0, NoClimber},
    // 2000 directory levels: the whole path (4015 bytes) fits, the tree is
    // made, the text lands at the bottom and pruning keeps it.
    {"deep_2000_levels_split",
     [](const std::string &) {
         ZipArchive a;
         a.Add(Deep(2000, "f.doc"), "at the bottom\n", 8);
         return a.Build();
     },
     kSplit, 0, DeepFileKept},
    // Only directories: made, then pruned away entirely.
    {"deep_2000_directories_only",
     [](const std::string &) {
         ZipArchive a;
         a.Add(Deep(2000, ""));
         return a.Build();
     },
     kSplit, 6002,
     [](const RunResult &, const std::string &w) { EXPECT_FALSE(fs::exists(w + "/out/a.zip")); }},
    // 2100 levels: the prefixes that fit are made, the member's path does
    // not fit (27), and the tree it leaves is pruned.
    {"deep_2100_levels_too_long",
     [](const std::string &) {
         ZipArchive a;
         a.Add(Deep(2100, "f.doc"), "never written\n");
         return a.Build();
     },
     kSplit, 27,
     [](const RunResult &, const std::string &w) { EXPECT_FALSE(fs::exists(w + "/out/a.zip")); }},
    // One component of 4000 bytes: the path fits the buffers but not the
    // file system (a name is at most 255 bytes), so the member file cannot
    // be opened: 22.  Compose mode names its member file itself.
    {"name_4000_bytes_split",
     [](const std::string &) {
         ZipArchive a;
         a.Add(std::string(3996, 'n') + ".doc", "long name\n");
         return a.Build();
     },
     kSplit, 22},
    {"name_4000_bytes_flat",
     [](const std::string &) {
         ZipArchive a;
         a.Add(std::string(3996, 'n') + ".doc", "long name\n");
         return a.Build();
     },
     kFlat, 22},
    {"name_4000_bytes_compose",
     [](const std::string &) {
         ZipArchive a;
         a.Add(std::string(3996, 'n') + ".doc", "long name\n");
         return a.Build();
     },
     kCompose, 0},
    {"entries_65535_compose", [](const std::string &) { return MostEntries().Build(); }, kCompose,
     0,
     [](const RunResult &, const std::string &w) {
         EXPECT_EQ(test::ReadFile(w + "/out/a.txt"),
                   "Filename: first.txt\nContent: \nfirst\n\nFilename: last.txt\nContent: \nlast\n\n");
     }},
    {"entries_65535_split", [](const std::string &) { return MostEntries().Build(); }, kSplit, 0,
     [](const RunResult &, const std::string &w) {
         EXPECT_TRUE(fs::exists(w + "/out/a.zip/first.txt.txt"));
         EXPECT_TRUE(fs::exists(w + "/out/a.zip/last.txt.txt"));
     }},
    // The end record counts 65535 entries; the directory holds one.
    {"entries_65535_claimed",
     [](const std::string &) {
         ZipArchive a;
         a.Add("only.txt", "one\n");
         a.entries_total = 65535;
         return a.Build();
     },
     kCompose, 6003},
    // Two entries, one local header: each is extracted from the same data.
    {"shared_local_header",
     [](const std::string &) { return SharedHeader(2, "shared\n").Build(); }, kCompose, 0,
     [](const RunResult &, const std::string &w) {
         EXPECT_EQ(test::ReadFile(w + "/out/a.txt"),
                   "Filename: m00000.txt\nContent: \nshared\n\n"
                   "Filename: m00001.txt\nContent: \nshared\n\n");
     }},
    // 1000 entries share one 1 MiB member (1 GiB of text in all, from an
    // archive of about 1 MiB): the size limit stops it.
    {"shared_local_header_1000_with_limit",
     [](const std::string &) { return SharedHeader(1000, std::string(1 << 20, 's')).Build(); },
     Join(kCompose, {"--max-size", "4194304"}), 3005},
    // Sizes that claim 4 GiB - 1: the buffer is refused by the host's cap
    // before anything is read or written.
    {"claims_4GiB_uncompressed", [](const std::string &) { return Claims4GiB(false, true).Build(); },
     kCompose, 12, NamesTheDefaultCap},
    {"claims_4GiB_compressed", [](const std::string &) { return Claims4GiB(true, false).Build(); },
     kCompose, 12, NamesTheDefaultCap},
    {"claims_4GiB_both_split", [](const std::string &) { return Claims4GiB(true, true).Build(); },
     kSplit, 12, NamesTheDefaultCap},
    // The deflate bomb: 1 GiB of text from about 1 MiB.  The default cap
    // (512 MiB) refuses to hold it, with or without the size limit: 12,
    // nothing decoded.  With the cap at exactly 1 GiB the member is decoded
    // whole and the size limit cuts its text: 3005 at 1 MiB of output,
    // memory bounded by the cap.  Nested five levels deep, the same.
    {"bomb_limit_off", [](const std::string &) { return BombZip(1); }, kCompose, 12,
     NamesTheDefaultCap},
    {"bomb_limit_on_default_cap", [](const std::string &) { return BombZip(1); }, kLimit1MiB, 12,
     NamesTheDefaultCap},
    {"bomb_limit_on_cap_1GiB", [](const std::string &) { return BombZip(1); },
     Join(kLimit1MiB, kCapGiB), 3005, CutAtLimit, 1400 * kMiB, 120},
    {"bomb_nested_5_limit_off", [](const std::string &) { return BombZip(5); }, kCompose, 12,
     NamesTheDefaultCap},
    {"bomb_nested_5_limit_on_cap_1GiB", [](const std::string &) { return BombZip(5); },
     Join(kLimit1MiB, kCapGiB), 3005, CutAtLimit, 1400 * kMiB, 120},
};

class Hostile : public ZiptextTest, public ::testing::WithParamInterface<Row> {};

TEST_P(Hostile, EndsWithItsCodeAndNothingOutside) {
    const Row &row = GetParam();
    test::WriteFile(Work("a.zip"), row.archive(Work()));
    fs::create_directory(Work("out"));
    const auto start = std::chrono::steady_clock::now();
    const RunResult r = Run(Join(row.args, {"-o", "out/a.txt", "a.zip"}), {}, row.seconds);
    const auto took = std::chrono::steady_clock::now() - start;

    ASSERT_FALSE(r.timed_out) << "still running after " << row.seconds << " s";
    ASSERT_EQ(r.signal, 0);
    EXPECT_EQ(r.Code(), row.code) << r.err;
    EXPECT_EQ(r.status, row.code == 0 ? 0 : 1) << r.err;
    // (valgrind's own memory would count too.)
    if (!UnderMemcheck()) {
        EXPECT_LE(r.max_rss_kib, row.max_rss_kib);
    }
    RecordProperty("peak_rss_kib", std::to_string(r.max_rss_kib));
    RecordProperty("milliseconds",
                   std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
    // Nothing but the archive and out/ in the tool's directory, nothing new
    // beside it.  (Listed one level deep: a walk of the 2000-level trees by
    // path takes minutes.)
    for (const auto &e : fs::directory_iterator(Work()))
        EXPECT_TRUE(e.path().filename() == "a.zip" || e.path().filename() == "out") << e.path();
    for (const auto &e : fs::directory_iterator(Work() + "/.."))
        EXPECT_TRUE(e.path().filename() == "work" || e.path().filename() == "tmp" ||
                    e.path().filename() == "stdout" || e.path().filename() == "stderr")
            << e.path();
    if (row.check) row.check(r, Work());
}

INSTANTIATE_TEST_SUITE_P(Archives, Hostile, ::testing::ValuesIn(kRows),
                         [](const auto &r) { return std::string(r.param.label); });

} // namespace
} // namespace vtq::e2e

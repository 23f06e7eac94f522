// gen_archives.cpp - write the benchmark archives, the same bytes every run
//
//   vtq_bench_gen [--small] DIR
//
// makes DIR/big.zip (8 text members of 32 MiB, deflated), DIR/many.zip
// (20,000 text members of 0.5-4 KiB, deflated), DIR/stored.zip (4 text
// members of 64 MiB, stored) and DIR/nested.zip (50 deflated archives of 20
// deflated text members each), DIR/tiny.zip (60,000 text members of 16-24
// bytes in 60 folders, deflated or stored, whichever is smaller, as zip
// tools choose) and DIR/tiny200k.zip (200,000 tiny members in 4 deflated
// inner archives of 50,000, as an archive's own count stops at 65,535: memory
// must not grow with the member count).  --small makes
// the same shapes a few hundred KiB in all, for the harness's smoke test.
//
// The text is pseudo-English from a fixed vocabulary, valid UTF-8 with a
// little accented and CJK text in it, so that a text filter passes it
// through; its word frequencies are skewed so that deflate (level 6) gets a
// ratio of about 3.6, as it does on prose.  Everything derives from fixed
// seeds: the archives are identical on every machine and run.  Members of
// the large archives are compressed on two threads; each archive is written
// to a temporary name and renamed, so an interrupted run leaves no archive
// that looks finished.
#include <zlib.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

// xorshift64*: small, fast and the same everywhere.
class Rng {
public:
    explicit Rng(uint64_t seed) : s_(seed * 0x9E3779B97F4A7C15ull + 1) {}
    uint64_t Next() {
        s_ ^= s_ >> 12;
        s_ ^= s_ << 25;
        s_ ^= s_ >> 27;
        return s_ * 0x2545F4914F6CDD1Dull;
    }
    // Uniform in [0, n).
    uint32_t Below(uint32_t n) { return static_cast<uint32_t>(((Next() >> 32) * n) >> 32); }

private:
    uint64_t s_;
};

// The vocabulary: mostly ASCII syllable words, some with an accented letter
// (two UTF-8 bytes) and a few CJK words (three bytes per character).
class Vocabulary {
public:
    Vocabulary() {
        static const char *const kOnsets[] = {"b", "c",  "d",  "f",  "g",  "h", "l",
                                              "m", "n",  "p",  "r",  "s",  "t", "v",
                                              "w", "st", "tr", "ch", "th", "pl"};
        static const char *const kVowels[] = {"a", "e", "i", "o", "u", "ea", "ou", "ai"};
        static const char *const kCodas[] = {"", "", "n", "r", "s", "t", "l", "nd", "ck"};
        static const char *const kAccents[] = {
            "\xC3\xA9", "\xC3\xB6", "\xC3\xB1", "\xC3\xA7",
            "\xC3\xBC"}; // e-acute, o-umlaut, n-tilde, c-cedilla, u-umlaut
        static const char *const kCjk[] = {"\xE6\x97\xA5", "\xE6\x9C\xAC", "\xE8\xAA\x9E",
                                           "\xE6\x96\x87", "\xE5\xAD\x97"};
        Rng rng(7);
        words_.reserve(kWords);
        for (uint32_t i = 0; i < kWords; ++i) {
            std::string w;
            if (i % 53 == 52) {
                for (uint32_t k = 0, n = 2 + rng.Below(2); k < n; ++k) w += kCjk[rng.Below(5)];
            } else {
                for (uint32_t k = 0, n = 1 + rng.Below(3); k < n; ++k) {
                    w += kOnsets[rng.Below(20)];
                    w += kVowels[rng.Below(8)];
                    w += kCodas[rng.Below(9)];
                }
                if (i % 13 == 12) w.insert(w.size() / 2, kAccents[rng.Below(5)]);
            }
            words_.push_back(std::move(w));
        }
    }
    // A word index skewed towards the front (the product of four uniform
    // draws), like word frequencies in prose.
    const std::string &Pick(Rng &rng) const {
        uint64_t i = rng.Below(kWords);
        for (int k = 0; k < 3; ++k) i = i * rng.Below(kWords) / kWords;
        return words_[i];
    }

private:
    static constexpr uint32_t kWords = 2000;
    std::vector<std::string> words_;
};

// Appends text to out until it holds exactly size bytes: lines of words,
// sentences with capitals and full stops.  The last line is padded or cut
// at a character boundary with ASCII, so the text stays valid UTF-8.
void MakeText(const Vocabulary &vocab, uint64_t seed, size_t size, std::string &out) {
    Rng rng(seed);
    out.clear();
    out.reserve(size + 64);
    size_t line = 0;
    bool sentence_start = true;
    while (out.size() < size) {
        const std::string &w = vocab.Pick(rng);
        if (line + w.size() + 1 > 72) {
            out += '\n';
            line = 0;
        } else if (line > 0) {
            out += ' ';
            ++line;
        }
        size_t at = out.size();
        out += w;
        if (sentence_start && out[at] >= 'a' && out[at] <= 'z')
            out[at] = static_cast<char>(out[at] - 32);
        sentence_start = false;
        uint32_t r = rng.Below(16);
        if (r == 0) {
            out += '.';
            sentence_start = true;
        } else if (r == 1) {
            out += ',';
        }
        line += out.size() - at;
    }
    // Cut back to size less the final line break, never inside a UTF-8
    // sequence; fill with dots.
    if (size == 0) return out.clear();
    size_t cut = size - 1;
    while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;
    out.resize(cut);
    out.append(size - 1 - cut, '.');
    out += '\n';
}

Bytes Deflate(const std::string &text) {
    z_stream z{};
    if (deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) std::abort();
    Bytes out(deflateBound(&z, static_cast<uLong>(text.size())));
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(text.data()));
    z.avail_in = static_cast<uInt>(text.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    if (deflate(&z, Z_FINISH) != Z_STREAM_END) std::abort();
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

// One member, ready to be written: name, method, CRC, sizes and data.
struct Member {
    std::string name;
    uint16_t method = 8;
    uint32_t crc = 0;
    uint32_t size = 0;
    Bytes data;
};

Member MakeMember(std::string name, const std::string &content, bool deflate) {
    Member m;
    m.name = std::move(name);
    m.method = deflate ? 8 : 0;
    m.crc = static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef *>(content.data()),
                                        static_cast<uInt>(content.size())));
    m.size = static_cast<uint32_t>(content.size());
    if (deflate)
        m.data = Deflate(content);
    else
        m.data.assign(content.begin(), content.end());
    return m;
}

// A member deflated when that makes it smaller, else stored.
Member MakeSmallest(std::string name, const std::string &content) {
    Member m = MakeMember(std::move(name), content, true);
    if (m.data.size() >= content.size()) {
        m.method = 0;
        m.data.assign(content.begin(), content.end());
    }
    return m;
}

// A ZIP writer into memory: local headers and data as members come, the
// central directory and the end record at Finish().  Fixed DOS time, no
// extra fields, no data descriptors.
class ZipWriter {
public:
    void Add(const Member &m) {
        Entry e{m.name, m.method,
                m.crc,  static_cast<uint32_t>(m.data.size()),
                m.size, static_cast<uint32_t>(out_.size())};
        Header(kLocalSig, e, false);
        out_.insert(out_.end(), m.data.begin(), m.data.end());
        entries_.push_back(std::move(e));
    }
    Bytes Finish() {
        const auto cd_start = static_cast<uint32_t>(out_.size());
        for (const Entry &e : entries_) Header(kCentralSig, e, true);
        const auto cd_size = static_cast<uint32_t>(out_.size()) - cd_start;
        Le32(0x06054b50);
        Le16(0);
        Le16(0);
        Le16(static_cast<uint16_t>(entries_.size()));
        Le16(static_cast<uint16_t>(entries_.size()));
        Le32(cd_size);
        Le32(cd_start);
        Le16(0);
        return std::move(out_);
    }

private:
    static constexpr uint32_t kLocalSig = 0x04034b50;
    static constexpr uint32_t kCentralSig = 0x02014b50;
    static constexpr uint32_t kDosTime = 0x5A2F6000; // 2025-01-15 12:00
    struct Entry {
        std::string name;
        uint16_t method;
        uint32_t crc, csize, usize, offset;
    };
    void Le16(uint16_t v) {
        out_.push_back(static_cast<unsigned char>(v));
        out_.push_back(static_cast<unsigned char>(v >> 8));
    }
    void Le32(uint32_t v) {
        Le16(static_cast<uint16_t>(v));
        Le16(static_cast<uint16_t>(v >> 16));
    }
    void Header(uint32_t sig, const Entry &e, bool central) {
        Le32(sig);
        if (central) Le16(0x031E); // made by: Unix, 3.0
        Le16(20);                  // version needed
        Le16(0);                   // flags
        Le16(e.method);
        Le32(kDosTime);
        Le32(e.crc);
        Le32(e.csize);
        Le32(e.usize);
        Le16(static_cast<uint16_t>(e.name.size()));
        Le16(0); // extra length
        if (central) {
            Le16(0);              // comment length
            Le16(0);              // disk
            Le16(0);              // internal attributes
            Le32(0100644u << 16); // external: regular file, rw-r--r--
            Le32(e.offset);
        }
        out_.insert(out_.end(), e.name.begin(), e.name.end());
    }

    Bytes out_;
    std::vector<Entry> entries_;
};

// Builds count members on two threads; member i is made by make(i).
template <typename Make> std::vector<Member> MakeMembers(uint32_t count, Make make) {
    std::vector<Member> members(count);
    auto half = [&](uint32_t first) {
        for (uint32_t i = first; i < count; i += 2) members[i] = make(i);
    };
    auto other = std::async(std::launch::async, half, 1u);
    half(0);
    other.get();
    return members;
}

bool WriteFile(const std::string &path, const Bytes &bytes) {
    const std::string tmp = path + ".part";
    std::FILE *f = std::fopen(tmp.c_str(), "wb");
    if (f == nullptr) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = std::fclose(f) == 0 && ok;
    if (ok && std::rename(tmp.c_str(), path.c_str()) != 0) ok = false;
    if (!ok) {
        std::fprintf(stderr, "vtq_bench_gen: cannot write %s: %s\n", path.c_str(),
                     std::strerror(errno));
        std::remove(tmp.c_str());
    }
    return ok;
}

// Sizes of the four archives; --small scales them down.
struct Shape {
    uint32_t big_members, big_size;
    uint32_t many_members;
    uint32_t stored_members, stored_size;
    uint32_t nested_inner, nested_members;
    uint32_t tiny_members, tiny_count_members; // tiny.zip, tiny200k.zip
};
constexpr Shape kFull{8, 32u << 20, 20000, 4, 64u << 20, 50, 20, 60000, 200000};
constexpr Shape kSmall{2, 64u << 10, 40, 2, 64u << 10, 3, 4, 60, 200};

// The tiny shape: count members of 16 to 24 bytes, 1,000 to a folder (at
// least two folders).
Bytes TinyArchive(const Vocabulary &v, uint32_t count, uint64_t seed) {
    const uint32_t per_folder = count >= 2000 ? 1000 : (count + 1) / 2;
    auto members = MakeMembers(count, [&](uint32_t i) {
        Rng rng(seed + i);
        std::string text;
        MakeText(v, seed + i, 16 + rng.Below(9), text);
        char n[64];
        std::snprintf(n, sizeof n, "tiny/f%03u/t%06u.txt", i / per_folder, i);
        return MakeSmallest(n, text);
    });
    ZipWriter zip;
    for (const Member &m : members) zip.Add(m);
    return zip.Finish();
}

// A small member of 512 to 4096 bytes, its content from seed.
Member SmallMember(const Vocabulary &v, std::string name, uint64_t seed) {
    Rng rng(seed);
    std::string text;
    MakeText(v, seed, 512 + rng.Below(4096 - 512 + 1), text);
    return MakeMember(std::move(name), text, true);
}

Bytes SmallArchive(const Vocabulary &v, const char *prefix, uint32_t count, uint64_t seed) {
    ZipWriter zip;
    char name[64];
    for (uint32_t i = 0; i < count; ++i) {
        std::snprintf(name, sizeof name, "%s%05u.txt", prefix, i);
        zip.Add(SmallMember(v, name, seed + i));
    }
    return zip.Finish();
}

} // namespace

int main(int argc, char **argv) {
    const Shape *shape = &kFull;
    const char *dir = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--small") == 0)
            shape = &kSmall;
        else if (dir == nullptr && argv[i][0] != '-')
            dir = argv[i];
        else
            dir = nullptr, i = argc;
    }
    if (dir == nullptr) {
        std::fprintf(stderr, "usage: vtq_bench_gen [--small] DIR\n");
        return 2;
    }
    const std::string d = dir;
    const Vocabulary vocab;
    char name[64];

    {
        auto members = MakeMembers(shape->big_members, [&](uint32_t i) {
            std::string text;
            MakeText(vocab, 1000 + i, shape->big_size, text);
            return MakeMember("big/part" + std::to_string(i + 1) + ".txt", text, true);
        });
        ZipWriter zip;
        for (const Member &m : members) zip.Add(m);
        if (!WriteFile(d + "/big.zip", zip.Finish())) return 1;
    }
    {
        auto members = MakeMembers(shape->stored_members, [&](uint32_t i) {
            std::string text;
            MakeText(vocab, 2000 + i, shape->stored_size, text);
            return MakeMember("stored/part" + std::to_string(i + 1) + ".txt", text, false);
        });
        ZipWriter zip;
        for (const Member &m : members) zip.Add(m);
        if (!WriteFile(d + "/stored.zip", zip.Finish())) return 1;
    }
    {
        auto members = MakeMembers(shape->many_members, [&](uint32_t i) {
            char n[64];
            std::snprintf(n, sizeof n, "many/d%02u/m%05u.txt", i / 1000, i);
            return SmallMember(vocab, n, 3000000 + i);
        });
        ZipWriter zip;
        for (const Member &m : members) zip.Add(m);
        if (!WriteFile(d + "/many.zip", zip.Finish())) return 1;
    }
    {
        ZipWriter zip;
        for (uint32_t i = 0; i < shape->nested_inner; ++i) {
            Bytes inner = SmallArchive(vocab, "doc", shape->nested_members, 4000000 + 1000ull * i);
            std::snprintf(name, sizeof name, "inner%02u.zip", i);
            Member m;
            m.name = name;
            m.crc = static_cast<uint32_t>(crc32(0, inner.data(), static_cast<uInt>(inner.size())));
            m.size = static_cast<uint32_t>(inner.size());
            m.data = Deflate(std::string(inner.begin(), inner.end()));
            zip.Add(m);
        }
        if (!WriteFile(d + "/nested.zip", zip.Finish())) return 1;
    }
    if (!WriteFile(d + "/tiny.zip", TinyArchive(vocab, shape->tiny_members, 5000000))) return 1;
    {
        ZipWriter zip;
        for (uint32_t i = 0; i < 4; ++i) {
            const Bytes inner =
                TinyArchive(vocab, shape->tiny_count_members / 4, 6000000 + 100000ull * i);
            std::snprintf(name, sizeof name, "part%u.zip", i);
            zip.Add(MakeMember(name, std::string(inner.begin(), inner.end()), true));
        }
        if (!WriteFile(d + "/tiny200k.zip", zip.Finish())) return 1;
    }
    return 0;
}

// test_member_decode.cc - the whole-stream decoder never changes a result
//
// The extraction loop offers an inflated member to the whole-stream decoder
// first and lets zlib decide whenever that does not give the complete member
// with its CRC.  These tests run DecodeMember both ways, with the
// whole-stream decoder and with zlib alone, over every member of the public
// corpus, the fuzz regressions, builder-made streams (each intact and in
// damaged variants: bit flips, truncation, declared size one off, wrong CRC,
// garbage) and hand-made streams holding the constructs on which a lenient
// decoder and zlib part ways, and require the same code and, on success, the
// same bytes.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/member_decode.h"
#include "tests/support/deflate_writer.h"
#include "tests/support/zip_builder.h"
#include "vtq/types.h"

namespace {

namespace fs = std::filesystem;

struct Input {
    std::string where;
    uint16_t method;
    std::string data; // as stored
    uint32_t size;     // declared uncompressed size
    uint32_t crc;
};

uint32_t Le(const std::string &s, size_t at, int bytes) {
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(s[at + i]);
    return v;
}

// Every member of a ZIP file whose data lies inside it, found through the
// central directory; what cannot be parsed is skipped.
void MembersOf(const std::string &where, const std::string &zip, std::vector<Input> &out) {
    if (zip.size() < 22) return;
    size_t eocd = zip.size() - 22;
    while (Le(zip, eocd, 4) != 0x06054b50) {
        if (eocd == 0 || zip.size() - eocd > 22 + 65535) return;
        --eocd;
    }
    size_t pos = Le(zip, eocd + 16, 4);
    for (uint32_t i = 0, n = Le(zip, eocd + 10, 2); i < n; ++i) {
        if (pos > zip.size() - 46 || Le(zip, pos, 4) != 0x02014b50) return;
        const auto method = static_cast<uint16_t>(Le(zip, pos + 10, 2));
        const uint32_t crc = Le(zip, pos + 16, 4), csize = Le(zip, pos + 20, 4),
                       usize = Le(zip, pos + 24, 4), local = Le(zip, pos + 42, 4);
        const size_t name_len = Le(zip, pos + 28, 2);
        pos += 46 + name_len + Le(zip, pos + 30, 2) + Le(zip, pos + 32, 2);
        if (local > zip.size() - 30 || Le(zip, local, 4) != 0x04034b50) continue;
        const size_t data = local + 30 + Le(zip, local + 26, 2) + Le(zip, local + 28, 2);
        if (data > zip.size() || csize > zip.size() - data || usize > (64u << 20)) continue;
        out.push_back({where + "#" + std::to_string(i), method, zip.substr(data, csize), usize, crc});
    }
}

std::string Deflate(const std::string &text, int level, int strategy, bool sync_blocks) {
    z_stream z{};
    deflateInit2(&z, level, Z_DEFLATED, -15, 8, strategy);
    std::string out(deflateBound(&z, static_cast<uLong>(text.size())) + 64 * 16 + 64, '\0');
    z.next_out = reinterpret_cast<Bytef *>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    // With sync_blocks the text goes in 16 pieces, each ended by an empty
    // stored block: a stream of many blocks, as streaming writers make.
    const size_t pieces = sync_blocks ? 16 : 1;
    for (size_t k = 0; k < pieces; ++k) {
        const size_t from = text.size() * k / pieces, to = text.size() * (k + 1) / pieces;
        z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(text.data() + from));
        z.avail_in = static_cast<uInt>(to - from);
        deflate(&z, k + 1 == pieces ? Z_FINISH : Z_SYNC_FLUSH);
    }
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

void BuilderMade(std::vector<Input> &out) {
    std::string prose, binary, runs;
    uint32_t s = 1;
    for (int i = 0; i < 40000; ++i) {
        s = s * 1103515245 + 12345;
        prose += "the member text of line " + std::to_string(s >> 20) + (i % 9 ? " " : "\n");
        binary += static_cast<char>(s >> 24);
        runs += static_cast<char>('a' + (i / 1000) % 3);
    }
    const std::string texts[] = {"", "x", prose, binary.substr(0, 70000), runs};
    for (const std::string &t : texts) {
        const uint32_t crc = vtq::test::Crc32(t);
        const auto size = static_cast<uint32_t>(t.size());
        for (int level : {0, 1, 6, 9})
            out.push_back({"level" + std::to_string(level), 8, Deflate(t, level, Z_DEFAULT_STRATEGY, false),
                           size, crc});
        out.push_back({"fixed", 8, Deflate(t, 6, Z_FIXED, false), size, crc});
        out.push_back({"huffman-only", 8, Deflate(t, 6, Z_HUFFMAN_ONLY, false), size, crc});
        out.push_back({"sync-blocks", 8, Deflate(t, 6, Z_DEFAULT_STRATEGY, true), size, crc});
        out.push_back({"trailing-junk", 8, Deflate(t, 6, Z_DEFAULT_STRATEGY, false) + "junk!", size, crc});
        out.push_back({"stored", 0, t, size, crc});
    }
}

struct Outcome {
    uint32_t code;
    std::vector<unsigned char> bytes;
};

Outcome Decode(const Input &in, vtq::WholeInflater *whole) {
    Outcome o{0, std::vector<unsigned char>(in.size, 0xA5)};
    z_stream z{};
    const bool inflated = in.method != 0;
    if (inflated && inflateInit2(&z, -15) != Z_OK) return {~0u, {}};
    o.code = vtq::DecodeMember(inflated ? &z : nullptr, whole,
                               reinterpret_cast<const unsigned char *>(in.data.data()),
                               static_cast<uint32_t>(in.data.size()), o.bytes.data(), in.size, in.crc);
    if (inflated) inflateEnd(&z);
    return o;
}

// The damaged variants of one input, the input itself first.
std::vector<Input> Variants(const Input &in) {
    std::vector<Input> v{in};
    auto add = [&](const char *what, auto change) {
        Input x = in;
        x.where += what;
        change(x);
        v.push_back(std::move(x));
    };
    add("/crc", [](Input &x) { x.crc ^= 1; });
    if (in.size > 0) add("/size-1", [](Input &x) { --x.size; });
    add("/size+1", [](Input &x) { ++x.size; });
    if (!in.data.empty()) {
        add("/cut1", [](Input &x) { x.data.pop_back(); });
        add("/half", [](Input &x) { x.data.resize(x.data.size() / 2); });
        for (size_t k = 1; k <= 8; ++k)
            add("/flip", [k](Input &x) { x.data[x.data.size() * k / 9] ^= static_cast<char>(1 << (k % 8)); });
        add("/garbage", [](Input &x) {
            for (size_t i = 0; i < x.data.size(); ++i) x.data[i] = static_cast<char>(i * 167 + 13);
        });
    }
    return v;
}

TEST(MemberDecode, WholeStreamDecoderGivesZlibsResultForEveryInput) {
    std::vector<Input> inputs;
    const fs::path dirs[] = {VTQ_CORPUS_DIR, fs::path(__FILE__).parent_path() / "../../fuzz/regressions"};
    for (const fs::path &dir : dirs) {
        if (!fs::is_directory(dir)) continue;
        for (const auto &e : fs::recursive_directory_iterator(dir))
            if (e.is_regular_file() && e.file_size() < (64u << 20))
                MembersOf(e.path().filename().string(), vtq::test::ReadFile(e.path().string()), inputs);
    }
    const size_t from_files = inputs.size();
    // Without the public corpus (a checkout on its own) the builder-made
    // streams still make the comparison.
    if (fs::is_directory(VTQ_CORPUS_DIR)) {
        ASSERT_GT(from_files, 100u) << "no members read from the corpus";
    }
    BuilderMade(inputs);

    vtq::WholeInflater whole;
    size_t compared = 0, intact = 0, taken_whole = 0;
    for (const Input &original : inputs) {
        const std::vector<Input> variants = Variants(original);
        for (const Input &in : variants) {
            const Outcome zlib_only = Decode(in, nullptr);
            const Outcome with_whole = Decode(in, &whole);
            ASSERT_EQ(with_whole.code, zlib_only.code) << in.where;
            if (zlib_only.code == VTQ_OK) {
                EXPECT_TRUE(with_whole.bytes == zlib_only.bytes) << in.where;
            }
            ++compared;
            if (in.method != 8 || zlib_only.code != VTQ_OK || &in != &variants[0]) continue;
            ++intact;
            vtq::WholeInflater probe;
            std::vector<unsigned char> scratch(in.size);
            if (probe.Decode(reinterpret_cast<const unsigned char *>(in.data.data()), in.data.size(),
                             scratch.data(), in.size))
                ++taken_whole;
        }
    }
    // The comparison means something only if the fast path really ran: it
    // takes every intact member that zlib decodes (all of them are written
    // with complete codes).
    EXPECT_GT(intact, 30u);
    EXPECT_EQ(taken_whole, intact);
    RecordProperty("compared", static_cast<int>(compared));
    RecordProperty("decoded_whole", static_cast<int>(taken_whole));
}

using vtq::test::BitWriter;
using vtq::test::DynamicHeader;
using vtq::test::FixedA;
using vtq::test::FixedEnd;
using vtq::test::FixedMatch3;

TEST(MemberDecode, ConstructsZlibRefusesOrDecidesAreLeftToIt) {
    struct Case {
        const char *what;
        std::string stream;
        const char *text; // what a lenient decoder would make of it
        bool whole_may_take;
        bool deflate64_takes; // read as Deflate64, which decides every stream itself
    };
    auto stream = [](auto build) {
        BitWriter w;
        build(w);
        return w.out;
    };
    const Case cases[] = {
        {"fixed, intact", stream([](BitWriter &w) {
             w.Bits(1, 1).Bits(1, 2);
             FixedMatch3(FixedA(w), 0);
             FixedEnd(w);
         }),
         "aaaa", true, true},
        {"fixed, length symbol 286", stream([](BitWriter &w) {
             FixedA(w.Bits(1, 1).Bits(1, 2)).Code(0xC6, 8);
             FixedEnd(w);
         }),
         "a", false, false},
        {"fixed, distance symbol 30", stream([](BitWriter &w) {
             FixedMatch3(FixedA(w.Bits(1, 1).Bits(1, 2)), 30);
             FixedEnd(w);
         }),
         "aaaa", false, false},
        {"fixed, distance before the start", stream([](BitWriter &w) {
             FixedMatch3(FixedA(w.Bits(1, 1).Bits(1, 2)), 1);
             FixedEnd(w);
         }),
         "aaaa", false, false},
        {"dynamic, intact", stream([](BitWriter &w) {
             DynamicHeader(w.Bits(1, 1).Bits(2, 2), {1, 1}).Code(0, 1).Code(3, 2).Code(0, 1).Code(2, 2);
         }),
         "aaaa", true, true},
        {"dynamic, 287 length codes", stream([](BitWriter &w) {
             DynamicHeader(w.Bits(1, 1).Bits(2, 2), {1, 1}, 287).Code(0, 1).Code(2, 2);
         }),
         "a", false, false},
        {"dynamic, one distance code, its code used", stream([](BitWriter &w) {
             DynamicHeader(w.Bits(1, 1).Bits(2, 2), {1}).Code(0, 1).Code(3, 2).Code(0, 1).Code(2, 2);
         }),
         "aaaa", false, true},
        {"dynamic, one distance code, the undefined code used", stream([](BitWriter &w) {
             DynamicHeader(w.Bits(1, 1).Bits(2, 2), {1}).Code(0, 1).Code(3, 2).Code(1, 1).Code(2, 2);
         }),
         "aaaa", false, false},
        {"dynamic, empty distance code", stream([](BitWriter &w) {
             DynamicHeader(w.Bits(1, 1).Bits(2, 2), {0}).Code(0, 1).Code(2, 2);
         }),
         "a", false, true},
        {"stored, length check wrong", std::string("\x01\x01\x00\xff\xfe" "a", 6), "a", false,
         false},
        {"stored, intact", std::string("\x01\x01\x00\xfe\xff" "a", 6), "a", true, true},
        {"reserved block type", stream([](BitWriter &w) { w.Bits(1, 1).Bits(3, 2).Bits(0, 16); }), "",
         false, false},
    };
    vtq::WholeInflater whole;
    for (const Case &c : cases) {
        const std::string text = c.text;
        const Input in{c.what, 8, c.stream, static_cast<uint32_t>(text.size()), vtq::test::Crc32(text)};
        std::vector<unsigned char> out(in.size + 1);
        const bool taken = whole.Decode(reinterpret_cast<const unsigned char *>(in.data.data()),
                                        in.data.size(), out.data(), in.size);
        EXPECT_EQ(taken, c.whole_may_take) << c.what;
        if (taken) {
            EXPECT_EQ(std::string(out.begin(), out.begin() + in.size), text) << c.what;
        }
        using vtq::Deflate64Result;
        const Deflate64Result as64 =
            whole.DecodeDeflate64(reinterpret_cast<const unsigned char *>(in.data.data()),
                                  in.data.size(), out.data(), in.size);
        EXPECT_EQ(as64, c.deflate64_takes ? Deflate64Result::kOk : Deflate64Result::kDamaged)
            << c.what;
        if (c.deflate64_takes) {
            EXPECT_EQ(std::string(out.begin(), out.begin() + in.size), text) << c.what;
        }
        const Outcome zlib_only = Decode(in, nullptr);
        const Outcome with_whole = Decode(in, &whole);
        EXPECT_EQ(with_whole.code, zlib_only.code) << c.what;
        if (zlib_only.code == VTQ_OK) {
            EXPECT_TRUE(with_whole.bytes == zlib_only.bytes) << c.what;
        }
    }
}

} // namespace

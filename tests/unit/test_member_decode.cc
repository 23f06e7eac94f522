// test_member_decode.cc - the whole-stream decoder never changes a result
//
// DecodeMember runs with the whole-stream decoder and with zlib alone over
// every member of the corpus and the fuzz regressions, builder-made streams
// (intact and damaged: bit flips, truncation, declared size one off, wrong
// CRC, garbage) and hand-made streams on which a lenient decoder and zlib
// part ways; both must give the same code and, on success, the same bytes.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <tuple>
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
    std::string data;   // as stored
    uint32_t size, crc; // declared
};

uint32_t Le(const std::string &s, size_t at, int bytes) {
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(s[at + i]);
    return v;
}

// Every member of a ZIP file whose data lies inside it, by its central directory.
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
        out.push_back(
            {where + "#" + std::to_string(i), method, zip.substr(data, csize), usize, crc});
    }
}

std::string Deflate(const std::string &text, int level, int strategy, bool sync_blocks) {
    z_stream z{};
    deflateInit2(&z, level, Z_DEFLATED, -15, 8, strategy);
    std::string out(deflateBound(&z, static_cast<uLong>(text.size())) + 64 * 16 + 64, '\0');
    z.next_out = reinterpret_cast<Bytef *>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    // sync_blocks: 16 pieces, each ended by an empty stored block.
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
        for (const auto &[what, level, strategy, sync, junk] :
             {std::tuple{"level0", 0, Z_DEFAULT_STRATEGY, false, ""},
              {"level1", 1, Z_DEFAULT_STRATEGY, false, ""},
              {"level9", 9, Z_DEFAULT_STRATEGY, false, ""},
              {"fixed", 6, Z_FIXED, false, ""},
              {"huffman-only", 6, Z_HUFFMAN_ONLY, false, ""},
              {"sync-blocks", 6, Z_DEFAULT_STRATEGY, true, ""},
              {"trailing-junk", 6, Z_DEFAULT_STRATEGY, false, "junk!"}})
            out.push_back({what, 8, Deflate(t, level, strategy, sync) + junk, size, crc});
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
    o.code = vtq::DecodeMember(
        inflated ? &z : nullptr, whole, reinterpret_cast<const unsigned char *>(in.data.data()),
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
    add("/size+1", [](Input &x) { ++x.size; });
    if (in.size > 0) add("/size-1", [](Input &x) { --x.size; });
    if (!in.data.empty()) {
        add("/cut1", [](Input &x) { x.data.pop_back(); });
        add("/half", [](Input &x) { x.data.resize(x.data.size() / 2); });
        for (size_t k = 1; k <= 8; ++k)
            add("/flip", [k](Input &x) {
                x.data[x.data.size() * k / 9] ^= static_cast<char>(1 << (k % 8));
            });
        add("/garbage", [](Input &x) {
            for (size_t i = 0; i < x.data.size(); ++i) x.data[i] = static_cast<char>(i * 167 + 13);
        });
    }
    return v;
}

TEST(MemberDecode, WholeStreamDecoderGivesZlibsResultForEveryInput) {
    std::vector<Input> inputs;
    const fs::path dirs[] = {VTQ_CORPUS_DIR,
                             fs::path(__FILE__).parent_path() / "../../fuzz/regressions"};
    for (const fs::path &dir : dirs) {
        if (!fs::is_directory(dir)) continue;
        for (const auto &e : fs::recursive_directory_iterator(dir))
            if (e.is_regular_file() && e.file_size() < (64u << 20))
                MembersOf(e.path().filename().string(), vtq::test::ReadFile(e.path().string()),
                          inputs);
    }
    // Without the corpus beside the checkout the builder-made streams remain.
    ASSERT_TRUE(!fs::is_directory(VTQ_CORPUS_DIR) || inputs.size() > 100u) << "no corpus members";
    BuilderMade(inputs);

    vtq::WholeInflater whole;
    size_t intact = 0, taken_whole = 0;
    for (const Input &original : inputs) {
        const std::vector<Input> variants = Variants(original);
        for (const Input &in : variants) {
            const Outcome zlib_only = Decode(in, nullptr);
            const Outcome with_whole = Decode(in, &whole);
            ASSERT_EQ(with_whole.code, zlib_only.code) << in.where;
            EXPECT_TRUE(zlib_only.code != VTQ_OK || with_whole.bytes == zlib_only.bytes)
                << in.where;
            if (in.method != 8 || zlib_only.code != VTQ_OK || &in != &variants[0]) continue;
            ++intact;
            vtq::WholeInflater probe;
            std::vector<unsigned char> scratch(in.size);
            if (probe.Decode(reinterpret_cast<const unsigned char *>(in.data.data()),
                             in.data.size(), scratch.data(), in.size))
                ++taken_whole;
        }
    }
    // The fast path really ran: it takes every intact member zlib decodes.
    EXPECT_GT(intact, 30u);
    EXPECT_EQ(taken_whole, intact);
}

using vtq::test::BitWriter;
using vtq::test::DynamicHeader;
using vtq::test::FixedA;
using vtq::test::FixedEnd;
using vtq::test::FixedMatch3;

TEST(MemberDecode, ConstructsZlibRefusesOrDecidesAreLeftToIt) {
    // Streams after a final-block header: fixed (F) or dynamic (D).
    const auto F = [](auto build) {
        BitWriter w;
        build(w.Bits(1, 1).Bits(1, 2));
        FixedEnd(w);
        return w.out;
    };
    const auto D = [](auto build) {
        BitWriter w;
        build(w.Bits(1, 1).Bits(2, 2));
        return w.out;
    };
    const struct {
        const char *what;
        std::string stream;
        const char *text;                     // what a lenient decoder would make of it
        bool whole_may_take, deflate64_takes; // Deflate64 decides every stream itself
    } cases[] = {
        {"fixed, intact", F([](BitWriter &w) { FixedMatch3(FixedA(w), 0); }), "aaaa", true, true},
        {"fixed, length symbol 286", F([](BitWriter &w) { FixedA(w).Code(0xC6, 8); }), "a", false,
         false},
        {"fixed, distance symbol 30", F([](BitWriter &w) { FixedMatch3(FixedA(w), 30); }), "aaaa",
         false, false},
        {"fixed, distance before the start", F([](BitWriter &w) { FixedMatch3(FixedA(w), 1); }),
         "aaaa", false, false},
        {"dynamic, intact", D([](BitWriter &w) {
             DynamicHeader(w, {1, 1}).Code(0, 1).Code(3, 2).Code(0, 1).Code(2, 2);
         }),
         "aaaa", true, true},
        {"dynamic, 287 length codes", D([](BitWriter &w) {
             DynamicHeader(w, {1, 1}, 287).Code(0, 1).Code(2, 2);
         }),
         "a", false, false},
        {"dynamic, one distance code, its code used",
         D([](BitWriter &w) { DynamicHeader(w, {1}).Code(0, 1).Code(3, 2).Code(0, 1).Code(2, 2); }),
         "aaaa", false, true},
        {"dynamic, one distance code, the undefined code used",
         D([](BitWriter &w) { DynamicHeader(w, {1}).Code(0, 1).Code(3, 2).Code(1, 1).Code(2, 2); }),
         "aaaa", false, false},
        {"dynamic, empty distance code",
         D([](BitWriter &w) { DynamicHeader(w, {0}).Code(0, 1).Code(2, 2); }), "a", false, true},
        {"stored, length check wrong",
         std::string("\x01\x01\x00\xff\xfe"
                     "a",
                     6),
         "a", false, false},
        {"stored, intact",
         std::string("\x01\x01\x00\xfe\xff"
                     "a",
                     6),
         "a", true, true},
        {"reserved block type",
         [] {
             BitWriter w;
             return w.Bits(1, 1).Bits(3, 2).Bits(0, 16).out;
         }(),
         "", false, false},
    };
    vtq::WholeInflater whole;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const std::string text = c.text;
        const Input in{c.what, 8, c.stream, static_cast<uint32_t>(text.size()),
                       vtq::test::Crc32(text)};
        const auto *data = reinterpret_cast<const unsigned char *>(in.data.data());
        std::vector<unsigned char> out(in.size + 1);
        const bool taken = whole.Decode(data, in.data.size(), out.data(), in.size);
        EXPECT_EQ(taken, c.whole_may_take);
        if (taken) {
            EXPECT_EQ(std::string(out.begin(), out.begin() + in.size), text);
        }
        const auto as64 = whole.DecodeDeflate64(data, in.data.size(), out.data(), in.size);
        EXPECT_EQ(as64,
                  c.deflate64_takes ? vtq::Deflate64Result::kOk : vtq::Deflate64Result::kDamaged);
        if (c.deflate64_takes) {
            EXPECT_EQ(std::string(out.begin(), out.begin() + in.size), text);
        }
        const Outcome zlib_only = Decode(in, nullptr), with_whole = Decode(in, &whole);
        EXPECT_EQ(with_whole.code, zlib_only.code);
        EXPECT_TRUE(zlib_only.code != VTQ_OK || with_whole.bytes == zlib_only.bytes);
    }
}

} // namespace

// test_methods.cc - the member decoder with the whole-stream inflater against zlib alone, over
// corpus, fuzz-regression, builder-made and hand-made streams.
#include <zlib.h>

#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "archive/member_decode.h"
#include "tests/support/deflate_writer.h"
#include "tests/support/fixture.h"
#include "tests/support/zip_builder.h"
#include "vtq/zozaz.h"

namespace vtq::test {
namespace {

namespace fs = std::filesystem;
using Bytes = const unsigned char *;

uint32_t Le(const std::string &s, size_t at, int bytes) {
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(s[at + i]);
    return v;
}

struct Decoded {
    uint32_t code;
    std::string reason, bytes;
};
// The whole-stream decoder never changes a result: DecodeMember with it and with zlib alone over
// corpus and fuzz-regression members, builder-made streams (intact and damaged) and hand-made
// streams on which a lenient decoder and zlib part ways.

struct Input {
    std::string where;
    uint16_t method;
    std::string data;   // as stored
    uint32_t size, crc; // declared
};

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

// Raw deflate of text; sync_blocks: in 16 pieces, each ended by an empty stored block.
std::string Deflate(const std::string &text, int level, int strategy, bool sync_blocks) {
    z_stream z{};
    deflateInit2(&z, level, Z_DEFLATED, -15, 8, strategy);
    std::string out(deflateBound(&z, static_cast<uLong>(text.size())) + 64 * 16 + 64, '\0');
    z.next_out = reinterpret_cast<Bytef *>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    const size_t pieces = sync_blocks ? 16 : 1;
    for (size_t k = 0; k < pieces; ++k) {
        z.next_in =
            reinterpret_cast<Bytef *>(const_cast<char *>(text.data())) + text.size() * k / pieces;
        z.avail_in = static_cast<uInt>(text.size() * (k + 1) / pieces - text.size() * k / pieces);
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
        const uint32_t crc = Crc32(t);
        const auto size = static_cast<uint32_t>(t.size());
        for (const auto &[what, level, strategy, sync, junk] :
             {std::tuple{"level0", 0, Z_DEFAULT_STRATEGY, false, ""},
              {"level1", 1, 0, false, ""},
              {"level9", 9, 0, false, ""},
              {"fixed", 6, Z_FIXED, false, ""},
              {"huffman-only", 6, Z_HUFFMAN_ONLY, false, ""},
              {"sync-blocks", 6, 0, true, ""},
              {"trailing-junk", 6, 0, false, "junk!"}})
            out.push_back({what, 8, Deflate(t, level, strategy, sync) + junk, size, crc});
        out.push_back({"stored", 0, t, size, crc});
    }
}

Decoded Decode(const Input &in, WholeInflater *whole) {
    Decoded d{0, "", std::string(in.size, '\xA5')};
    z_stream z{};
    const bool inflated = in.method != 0;
    if (inflated && inflateInit2(&z, -15) != Z_OK) return {~0u, "", ""};
    d.code = DecodeMember(inflated ? &z : nullptr, whole, Bytes(in.data.data()),
                          static_cast<uint32_t>(in.data.size()),
                          reinterpret_cast<unsigned char *>(d.bytes.data()), in.size, in.crc);
    if (inflated) inflateEnd(&z);
    return d;
}

// The damaged variants of one input, the input itself first.
std::vector<Input> Variants(const Input &in) {
    std::vector<Input> v{in};
    const auto add = [&](const char *what, auto change) {
        v.push_back(in);
        v.back().where += what;
        change(v.back().data, v.back());
    };
    add("/crc", [](std::string &, Input &x) { x.crc ^= 1; });
    add("/size+1", [](std::string &, Input &x) { ++x.size; });
    if (in.size > 0) add("/size-1", [](std::string &, Input &x) { --x.size; });
    if (in.data.empty()) return v;
    add("/cut1", [](std::string &d, Input &) { d.pop_back(); });
    add("/half", [](std::string &d, Input &) { d.resize(d.size() / 2); });
    for (size_t k = 1; k <= 8; ++k)
        add("/flip", [k](std::string &d, Input &) { d[d.size() * k / 9] ^= char(1 << (k % 8)); });
    add("/garbage", [](std::string &d, Input &) {
        for (size_t i = 0; i < d.size(); ++i) d[i] = static_cast<char>(i * 167 + 13);
    });
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
                MembersOf(e.path().filename().string(), ReadFile(e.path().string()), inputs);
    }
    // Without the corpus beside the checkout the builder-made streams remain.
    ASSERT_TRUE(!fs::is_directory(VTQ_CORPUS_DIR) || inputs.size() > 100u) << "no corpus members";
    BuilderMade(inputs);

    WholeInflater whole;
    size_t intact = 0, taken_whole = 0;
    for (const Input &original : inputs) {
        const std::vector<Input> variants = Variants(original);
        for (const Input &in : variants) {
            const Decoded zlib_only = Decode(in, nullptr), with_whole = Decode(in, &whole);
            ASSERT_EQ(with_whole.code, zlib_only.code) << in.where;
            EXPECT_TRUE(zlib_only.code != VTQ_OK || with_whole.bytes == zlib_only.bytes)
                << in.where;
            if (in.method != 8 || zlib_only.code != VTQ_OK || &in != &variants[0]) continue;
            ++intact;
            WholeInflater probe;
            std::vector<unsigned char> scratch(in.size);
            if (probe.Decode(Bytes(in.data.data()), in.data.size(), scratch.data(), in.size))
                ++taken_whole;
        }
    }
    // The fast path really ran: it takes every intact member zlib decodes.
    EXPECT_GT(intact, 30u);
    EXPECT_EQ(taken_whole, intact);
}

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
        {"stored, length check wrong", std::string("\x01\x01\x00\xff\xfe", 5) + "a", "a", false,
         false},
        {"stored, intact", std::string("\x01\x01\x00\xfe\xff", 5) + "a", "a", true, true},
        {"reserved block type", BitWriter().Bits(1, 1).Bits(3, 2).Bits(0, 16).out, "", false,
         false},
    };
    WholeInflater whole;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const std::string text = c.text;
        const Input in{c.what, 8, c.stream, static_cast<uint32_t>(text.size()), Crc32(text)};
        const Bytes data = Bytes(in.data.data());
        std::vector<unsigned char> out(in.size + 1);
        const auto made = [&] { return std::string(out.begin(), out.begin() + in.size); };
        const bool taken = whole.Decode(data, in.data.size(), out.data(), in.size);
        EXPECT_EQ(taken, c.whole_may_take);
        EXPECT_TRUE(!taken || made() == text);
        EXPECT_EQ(whole.DecodeDeflate64(data, in.data.size(), out.data(), in.size),
                  c.deflate64_takes ? Deflate64Result::kOk : Deflate64Result::kDamaged);
        EXPECT_TRUE(!c.deflate64_takes || made() == text);
        const Decoded zlib_only = Decode(in, nullptr), with_whole = Decode(in, &whole);
        EXPECT_EQ(with_whole.code, zlib_only.code);
        EXPECT_TRUE(zlib_only.code != VTQ_OK || with_whole.bytes == zlib_only.bytes);
    }
}

} // namespace
} // namespace vtq::test

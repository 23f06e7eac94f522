// test_member_decode.cc - the whole-stream decoder never changes a result
//
// The extraction loop offers an inflated member to libdeflate first and
// lets zlib decide whenever that does not give the complete member with
// its CRC.  These tests run DecodeMember both ways, with the whole-stream
// decoder and with zlib alone, over every member of the public corpus, the
// fuzz regressions and builder-made streams, each intact and in damaged
// variants (bit flips, truncation, declared size one off, wrong CRC,
// garbage), and require the same code and, on success, the same bytes.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/member_decode.h"
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
    ASSERT_GT(from_files, 100u) << "the corpus was not found at " << VTQ_CORPUS_DIR;
    BuilderMade(inputs);

    vtq::WholeInflater whole;
    size_t compared = 0, taken_whole = 0;
    for (const Input &original : inputs) {
        for (const Input &in : Variants(original)) {
            const Outcome zlib_only = Decode(in, nullptr);
            const Outcome with_whole = Decode(in, &whole);
            ASSERT_EQ(with_whole.code, zlib_only.code) << in.where;
            if (zlib_only.code == VTQ_OK) {
                EXPECT_TRUE(with_whole.bytes == zlib_only.bytes) << in.where;
            }
            ++compared;
            vtq::WholeInflater probe;
            std::vector<unsigned char> scratch(in.size);
            if (in.method != 0 &&
                probe.Decode(reinterpret_cast<const unsigned char *>(in.data.data()), in.data.size(),
                             scratch.data(), in.size))
                ++taken_whole;
        }
    }
    // The comparison means something only if the fast path really ran.
    if (vtq::WholeInflater::Enabled()) {
        EXPECT_GT(taken_whole, 100u);
    }
    RecordProperty("compared", static_cast<int>(compared));
    RecordProperty("decoded_whole", static_cast<int>(taken_whole));
}

} // namespace

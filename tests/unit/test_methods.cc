// test_methods.cc - the member decoders of every method, WinZip AES and traditional decryption:
// each gives the text back and tells a stream that ends early, one that holds more than declared
// and damaged data apart, also when an allocation fails.  Streams from the libraries' encoders,
// 7-Zip (tests/data) and a bit writer for Deflate64 symbols 7-Zip does not write.
#include <zlib.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "archive/member_decode.h"
#include "archive/method_decode.h"
#include "archive/winzip_aes.h"
#include "tests/support/deflate_writer.h"
#include "tests/support/encoders.h"
#include "tests/support/fixture.h"
#include "tests/support/zip_builder.h"
#include "vtq/zozaz.h"

namespace vtq::test {
namespace {

namespace fs = std::filesystem;
using Bytes = const unsigned char *;

constexpr char kEndsEarly[] = "data ends before the declared size";
constexpr char kTooLong[] = "data holds more than the declared size";
const fs::path kData = fs::path(__FILE__).parent_path() / "../data";

uint32_t Le(const std::string &s, size_t at, int bytes) {
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(s[at + i]);
    return v;
}

struct Decoded {
    uint32_t code;
    std::string reason, bytes;
};
Decoded Decode(uint32_t method, uint32_t flags, const std::string &in, size_t size,
               WholeInflater *whole = nullptr) {
    Decoded d{0, "", std::string(size, '\xA5')};
    const char *reason = nullptr;
    d.code = DecodeMethod(method, flags, Bytes(in.data()), in.size(),
                          reinterpret_cast<unsigned char *>(d.bytes.data()), size, whole, &reason);
    d.reason = reason != nullptr ? reason : "";
    return d;
}
std::string Damaged(uint32_t method) {
    return std::string(MethodName(method)) + " data is damaged";
}

// Lines of text with repeats near and far, and some binary bytes.
std::string Text(size_t size) {
    std::string t;
    for (uint32_t s = 7; t.size() < size;) {
        s = s * 1103515245 + 12345;
        t += "line " + std::to_string(s >> 22) +
             (s & 0x100 ? " of the member\n" : std::string(1, char(s >> 24)));
    }
    return t.substr(0, size);
}

struct Codec {
    const char *name;
    uint32_t method, flags;
    std::string (*encode)(const std::string &);
    size_t damage_at;   // a byte that, changed, makes the stream damaged
    bool says_too_long; // false: more data than declared shows as damage
};
std::ostream &operator<<(std::ostream &os, const Codec &c) { return os << c.name; }
const Codec kCodecs[] = {
    {"stored", 0, 0, [](const std::string &t) { return t; }, std::string::npos, true},
    {"deflate", 8, 0, [](const std::string &t) { return Deflate(t); }, 0, true},
    {"bzip2", 12, 0, Bzip2, 0, true},
    {"lzma, end marker", 14, kFlagLzmaEndMarker, [](const std::string &t) { return Lzma(t, true); },
     2, true},
    {"lzma, no end marker", 14, 0, [](const std::string &t) { return Lzma(t, false); }, 4, false},
    {"xz", 95, 0, Xz, 0, true},
    {"zstd", 93, 0, Zstd, 0, true},
};

class Methods : public HostTest, public ::testing::WithParamInterface<Codec> {};

TEST_P(Methods, DecodeExactlyTheDeclaredSize) {
    const Codec &c = GetParam();
    WholeInflater whole;
    for (const std::string &text : {std::string(), std::string("x"), Text(200000)}) {
        const std::string stream = c.encode(text);
        const size_t size = text.size();
        SCOPED_TRACE(std::to_string(size) + " bytes");
        for (WholeInflater *w : {&whole, static_cast<WholeInflater *>(nullptr)}) {
            const Decoded d = Decode(c.method, c.flags, stream, size, w);
            EXPECT_TRUE(d.code == VTQ_OK && d.bytes == text) << d.reason;
        }
        const auto fails = [&](const std::string &in, size_t n, const std::string &reason) {
            const Decoded d = Decode(c.method, c.flags, in, n);
            EXPECT_EQ(d.code, VTQ_E_INFLATE);
            EXPECT_EQ(d.reason, reason);
        };
        fails(stream, size + 1, kEndsEarly);
        if (size == 0) continue;
        fails(stream, size - 1, c.says_too_long ? kTooLong : Damaged(c.method));
        // A cut or changed stream of one byte may still make its byte.
        if (size == 1) continue;
        fails(stream.substr(0, stream.size() * 2 / 3), size, kEndsEarly);
        if (c.damage_at == std::string::npos) continue;
        std::string damaged = stream;
        damaged[c.damage_at] = static_cast<char>(damaged[c.damage_at] ^ 0x7F);
        fails(damaged, size, Damaged(c.method));
    }
}

// Every allocation a decoder makes can fail: the member fails with 12, nothing stays allocated.
TEST_P(Methods, AllocationFailuresGiveNoMemory) {
    const Codec &c = GetParam();
    const std::string text = Text(100000), stream = c.encode(text);
    for (uint64_t n = 1;; ++n) {
        host().Arm(kAlloc, n);
        const Decoded d = Decode(c.method, c.flags, stream, text.size());
        const bool fired = host().fired > 0;
        host().Disarm();
        ASSERT_EQ(d.code, fired ? VTQ_E_NO_MEMORY : VTQ_OK)
            << "allocation " << n << " " << d.reason;
        ASSERT_EQ(host().live_allocs, 0) << "allocation " << n;
        if (!fired) break;
    }
}

INSTANTIATE_TEST_SUITE_P(Each, Methods, ::testing::ValuesIn(kCodecs));

// A header may claim a 4 GiB dictionary for a one-byte member: no more is asked of the host.
TEST(MethodsLzma, DictionaryIsNoLargerThanTheMember) {
    std::string stream = Lzma("x", true);
    stream.replace(5, 4, "\xff\xff\xff\xff");
    EXPECT_EQ(Decode(14, kFlagLzmaEndMarker, stream, 1).code, VTQ_OK);
}

// Length symbol 285 with its 16 extra bits, distance symbols 30 and 31, after a stored block.
TEST(Deflate64, LongLengthsAndFarDistances) {
    std::string text = Text(50000);
    BitWriter w;
    w.Bits(0, 1).Bits(0, 2).Bits(0, 5).Bits(50000, 16).Bits(~50000u & 0xFFFF, 16); // stored
    w.out += text;
    w.used = 8;
    w.Bits(1, 1).Bits(1, 2);                                     // final fixed block
    w.Code(0xC5, 8).Bits(20000, 16).Code(0, 5);                  // length 20003, distance 1
    w.Code(1, 7).Code(30, 5).Bits(100, 14);                      // length 3, distance 32869
    w.Code(0xC5, 8).Bits(65535, 16).Code(31, 5).Bits(16383, 14); // length 65538, distance 65536
    FixedEnd(w);
    for (const auto &[len, dist] : {std::pair{20003, 1}, {3, 32869}, {65538, 65536}})
        for (int i = 0; i < len; ++i) text += text[text.size() - dist];
    WholeInflater whole;
    const Decoded d = Decode(9, 0, w.out, text.size(), &whole);
    EXPECT_TRUE(d.code == VTQ_OK && d.bytes == text) << d.reason;
    EXPECT_EQ(Decode(9, 0, w.out, text.size() - 1, &whole).reason, kTooLong);
    EXPECT_EQ(Decode(9, 0, w.out, text.size() + 1, &whole).reason, kEndsEarly);
    const std::string cut = w.out.substr(0, w.out.size() - 8);
    EXPECT_EQ(Decode(9, 0, cut, text.size(), &whole).reason, kEndsEarly);
    // Every byte made, but the block's end cut off.
    EXPECT_EQ(Decode(9, 0, w.out.substr(0, w.out.size() - 1), text.size(), &whole).reason,
              Damaged(9));
}

// WinZip AES on 7-Zip's aes256.zip, damaged in each way that must be caught before a byte is
// decrypted.
TEST(WinZipAes, DamageIsCaughtBeforeDecrypting) {
    const std::string zip = ReadFile((kData / "aes256.zip").string());
    const std::string data = zip.substr(30 + Le(zip, 26, 2) + Le(zip, 28, 2), Le(zip, 18, 4));
    const AesInfo info{2, 3, 8};
    const size_t n = data.size(), none = std::string::npos;
    const std::string auth = "authentication failed (damaged or wrong password)";
    // The password, a byte to change (npos: none: the salt, the code, the data), the bytes kept.
    const std::tuple<const char *, size_t, size_t, uint32_t, std::string> cases[] = {
        {"vtq-secret", none, n, VTQ_OK, ""},
        {"vtq-secreT", none, n, VTQ_E_CRC, "wrong password"},
        {"vtq-secret", 0, n, VTQ_E_CRC, "wrong password"},
        {"vtq-secret", n - 1, n, VTQ_E_CRC, auth},
        {"vtq-secret", 16 + 2, n, VTQ_E_CRC, auth},
        {"vtq-secret", none, n - 1, VTQ_E_CRC, auth},
        {"vtq-secret", none, 16 + 2 + 9, VTQ_E_INFLATE,
         "AES data is too short to hold its salt and authentication code"},
    };
    for (const auto &[password, flip_at, keep, code, reason] : cases) {
        std::string bad = data.substr(0, keep);
        if (flip_at != none) bad[flip_at] ^= 0x20;
        const std::string before = bad;
        size_t at = 0, len = 0;
        const char *why = nullptr;
        EXPECT_EQ(AesDecrypt(Bytes(password), std::strlen(password), info,
                             reinterpret_cast<unsigned char *>(bad.data()), bad.size(), &at, &len,
                             &why),
                  code)
            << flip_at << " " << keep;
        EXPECT_EQ(why != nullptr ? why : "", reason) << flip_at << " " << keep;
        EXPECT_EQ(bad == before, code != VTQ_OK); // nothing is decrypted unless all checks out
    }
}

TEST(WinZipAes, ExtraFieldIsReadOnlyWhenWellFormed) {
    const std::string aes = std::string("\x01\x99\x07\x00\x02\x00", 6) + "AE\x03\x08" + '\0';
    const std::pair<std::string, bool> cases[] = {
        {aes, true},
        {std::string("\x0a\x00\x02\x00xy", 6) + aes, true}, // after another record
        {aes.substr(0, 10), false},                         // cut short
        {std::string(aes).replace(7, 1, "F"), false},       // another vendor
        {std::string(aes).replace(8, 1, "\x04"), false},    // no such strength
        {std::string(aes).replace(4, 1, "\x03"), false},    // no such version
    };
    for (const auto &[extra, ok] : cases) {
        AesInfo info{};
        EXPECT_EQ(ParseAesExtra(Bytes(extra.data()), extra.size(), &info), ok) << extra.size();
        EXPECT_TRUE(!ok || (info.strength == 3 && info.method == 8 && info.vendor_version == 2));
    }
}

// Traditional encryption's early check compares the header's last byte with the DOS time's high
// byte when flag bit 3 is set (7-Zip's archives check the CRC's).
TEST(CryptCheck, FlagBit3ChecksTheTime) {
    const unsigned char header[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x7C};
    EXPECT_TRUE(CryptHeaderMatches(header, 0x9, 0xA1B2C3D4, 0x5A6B7C8D));
    EXPECT_FALSE(CryptHeaderMatches(header, 0x1, 0xA1B2C3D4, 0x5A6B7C8D));
}

// The test writer's encryption is independent of the filter's, so a round trip checks the initial
// keys (every PasswordLen byte, a NUL or a high byte among them), the key update and the
// keystream.  Pieces give the bytes of the whole, a plain entry (flag bit 0 clear) in between is
// left alone and moves no key, and CryptDecode byte by byte leaves the keys the buffer routine
// leaves.
TEST(Crypt, DecryptsWhatTheWriterEncryptedInAnyPieces) {
    const std::string plain = std::string(600, 'z') + "The quick brown fox\n";
    for (const std::string &password :
         {std::string("secret"), std::string(), std::string("a\0b\xE9", 4)}) {
        const std::string enc = PkEncrypt(plain, password, 0x5C);
        for (size_t first : {size_t{0}, size_t{5}, size_t{12}, enc.size()}) {
            ZipBus bus[2] = {};
            for (ZipBus &b : bus) {
                b.Password = Bytes(password.data());
                b.PasswordLen = static_cast<uint32_t>(password.size());
                CryptInitKeys(&b);
            }
            const auto decrypt = [&bus](std::string data, uint32_t flags) {
                ZipEntryInfo info{};
                info.Flags = flags;
                CryptDecodeBuffer(static_cast<uint32_t>(data.size()),
                                  reinterpret_cast<unsigned char *>(data.data()), &info, &bus[0]);
                return data;
            };
            std::string dec = decrypt(enc.substr(0, first), 1);
            EXPECT_EQ(decrypt("plain bytes", 0x8), "plain bytes");
            dec += decrypt(enc.substr(first), 1);
            EXPECT_EQ(static_cast<uint8_t>(dec[11]), 0x5C); // the header's check byte
            EXPECT_EQ(dec.substr(12), plain) << first;
            for (char c : enc) CryptDecode(Bytes(&c), &bus[1]);
            EXPECT_EQ(std::memcmp(bus[0].Keys, bus[1].Keys, sizeof bus[0].Keys), 0);
        }
    }
}

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

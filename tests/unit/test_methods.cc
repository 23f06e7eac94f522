// test_methods.cc - the member decoders of every method, WinZip AES and traditional decryption:
// each gives the text back and tells a stream that ends early, one that holds more than declared
// and damaged data apart, also when an allocation fails.  Streams from the libraries' encoders,
// 7-Zip (tests/data) and a bit writer for Deflate64 symbols 7-Zip does not write.
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/member_decode.h"
#include "archive/method_decode.h"
#include "archive/winzip_aes.h"
#include "tests/support/deflate_writer.h"
#include "tests/support/encoders.h"
#include "tests/support/fixture.h"
#include "tests/support/zip_builder.h"
#include "vtq/zozaz.h"

namespace {

namespace fs = std::filesystem;
using vtq::test::host;
using Bytes = const unsigned char *;

constexpr char kEndsEarly[] = "data ends before the declared size";
constexpr char kTooLong[] = "data holds more than the declared size";
const fs::path kData = fs::path(__FILE__).parent_path() / "../data";

struct Decoded {
    uint32_t code;
    std::string reason, bytes;
};
Decoded Decode(uint32_t method, uint32_t flags, const std::string &in, size_t size,
               vtq::WholeInflater *whole = nullptr) {
    Decoded d{0, "", std::string(size, '\xA5')};
    const char *reason = nullptr;
    d.code =
        vtq::DecodeMethod(method, flags, Bytes(in.data()), in.size(),
                          reinterpret_cast<unsigned char *>(d.bytes.data()), size, whole, &reason);
    d.reason = reason != nullptr ? reason : "";
    return d;
}
std::string Damaged(uint32_t method) {
    return std::string(vtq::MethodName(method)) + " data is damaged";
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
    {"deflate", 8, 0, [](const std::string &t) { return vtq::test::Deflate(t); }, 0, true},
    {"bzip2", 12, 0, vtq::test::Bzip2, 0, true},
    {"lzma, end marker", 14, vtq::kFlagLzmaEndMarker,
     [](const std::string &t) { return vtq::test::Lzma(t, true); }, 2, true},
    {"lzma, no end marker", 14, 0, [](const std::string &t) { return vtq::test::Lzma(t, false); },
     4, false},
    {"xz", 95, 0, vtq::test::Xz, 0, true},
    {"zstd", 93, 0, vtq::test::Zstd, 0, true},
};

class Methods : public vtq::test::HostTest, public ::testing::WithParamInterface<Codec> {};

TEST_P(Methods, DecodeExactlyTheDeclaredSize) {
    const Codec &c = GetParam();
    vtq::WholeInflater whole;
    for (const std::string &text : {std::string(), std::string("x"), Text(200000)}) {
        const std::string stream = c.encode(text);
        const size_t size = text.size();
        SCOPED_TRACE(std::to_string(size) + " bytes");
        for (vtq::WholeInflater *w : {&whole, static_cast<vtq::WholeInflater *>(nullptr)}) {
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

// Every allocation a decoder makes can fail: the member then fails with 12
// and nothing stays allocated.
TEST_P(Methods, AllocationFailuresGiveNoMemory) {
    const Codec &c = GetParam();
    const std::string text = Text(100000), stream = c.encode(text);
    for (uint64_t n = 1;; ++n) {
        host().Arm(vtq::test::kAlloc, n);
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

// A header may claim a 4 GiB dictionary for a member of one byte: the
// decoder must not ask the host for more than the member can use.
TEST(MethodsLzma, DictionaryIsNoLargerThanTheMember) {
    std::string stream = vtq::test::Lzma("x", true);
    stream.replace(5, 4, "\xff\xff\xff\xff");
    EXPECT_EQ(Decode(14, vtq::kFlagLzmaEndMarker, stream, 1).code, VTQ_OK);
}

// Length symbol 285 with its 16 extra bits, and distance symbols 30 and 31,
// after a 50,000-byte stored block and a match of 20,003 bytes.
TEST(Deflate64, LongLengthsAndFarDistances) {
    std::string text = Text(50000);
    vtq::test::BitWriter w;
    w.Bits(0, 1).Bits(0, 2).Bits(0, 5).Bits(50000, 16).Bits(~50000u & 0xFFFF, 16); // stored
    w.out += text;
    w.used = 8;
    w.Bits(1, 1).Bits(1, 2);                                     // final fixed block
    w.Code(0xC5, 8).Bits(20000, 16).Code(0, 5);                  // length 20003, distance 1
    w.Code(1, 7).Code(30, 5).Bits(100, 14);                      // length 3, distance 32869
    w.Code(0xC5, 8).Bits(65535, 16).Code(31, 5).Bits(16383, 14); // length 65538, distance 65536
    vtq::test::FixedEnd(w);
    for (const auto &[len, dist] : {std::pair{20003, 1}, {3, 32869}, {65538, 65536}})
        for (int i = 0; i < len; ++i) text += text[text.size() - dist];
    vtq::WholeInflater whole;
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

// WinZip AES on 7-Zip's aes256.zip (password "vtq-secret"), damaged in each
// way that must be caught before a byte is decrypted.
TEST(WinZipAes, DamageIsCaughtBeforeDecrypting) {
    const std::string zip = vtq::test::ReadFile((kData / "aes256.zip").string());
    auto le = [&zip](size_t at) {
        return size_t{Bytes(zip.data())[at]} | size_t{Bytes(zip.data())[at + 1]} << 8;
    };
    const std::string data = zip.substr(30 + le(26) + le(28), le(18) | le(20) << 16);
    const vtq::AesInfo info{2, 3, 8};
    const size_t n = data.size(), none = std::string::npos;
    const std::string auth = "authentication failed (damaged or wrong password)";
    struct Case {
        const char *what, *password;
        size_t flip_at, keep; // a byte to change (npos: none); the bytes kept
        uint32_t code;
        std::string reason;
    } const cases[] = {
        {"right password", "vtq-secret", none, n, VTQ_OK, ""},
        {"wrong password", "vtq-secreT", none, n, VTQ_E_CRC, "wrong password"},
        {"salt changed", "vtq-secret", 0, n, VTQ_E_CRC, "wrong password"},
        {"code changed", "vtq-secret", n - 1, n, VTQ_E_CRC, auth},
        {"data changed", "vtq-secret", 16 + 2, n, VTQ_E_CRC, auth},
        {"last byte cut", "vtq-secret", none, n - 1, VTQ_E_CRC, auth},
        {"no room for the code", "vtq-secret", none, 16 + 2 + 9, VTQ_E_INFLATE,
         "AES data is too short to hold its salt and authentication code"},
    };
    for (const Case &c : cases) {
        std::string bad = data.substr(0, c.keep);
        if (c.flip_at != none) bad[c.flip_at] ^= 0x20;
        const std::string before = bad;
        size_t at = 0, len = 0;
        const char *reason = nullptr;
        const uint32_t code = vtq::AesDecrypt(Bytes(c.password), std::strlen(c.password), info,
                                              reinterpret_cast<unsigned char *>(bad.data()),
                                              bad.size(), &at, &len, &reason);
        EXPECT_EQ(code, c.code) << c.what;
        EXPECT_EQ(reason != nullptr ? reason : "", c.reason) << c.what;
        // Nothing is decrypted unless everything checks out.
        EXPECT_EQ(bad == before, code != VTQ_OK) << c.what;
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
        vtq::AesInfo info{};
        EXPECT_EQ(vtq::ParseAesExtra(Bytes(extra.data()), extra.size(), &info), ok) << extra.size();
        EXPECT_TRUE(!ok || (info.strength == 3 && info.method == 8 && info.vendor_version == 2));
    }
}

// The early check of traditional encryption compares the header's last
// byte with the DOS time's high byte when flag bit 3 is set (7-Zip's
// archives above check the CRC's).
TEST(CryptCheck, FlagBit3ChecksTheTime) {
    const unsigned char header[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x7C};
    EXPECT_TRUE(vtq::CryptHeaderMatches(header, 0x9, 0xA1B2C3D4, 0x5A6B7C8D));
    EXPECT_FALSE(vtq::CryptHeaderMatches(header, 0x1, 0xA1B2C3D4, 0x5A6B7C8D));
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
        const std::string enc = vtq::test::PkEncrypt(plain, password, 0x5C);
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

} // namespace

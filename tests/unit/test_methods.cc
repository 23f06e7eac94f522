// test_methods.cc - the member decoders of every method, and WinZip AES
//
// Streams come from the libraries' own encoders at test time, from 7-Zip
// (archives kept in tests/data, see its README, and made afresh when 7z is
// installed) and from a bit writer for Deflate64 symbols 7-Zip does not
// write.  Each decoder must give the text back byte for byte and tell a
// stream that ends early, one that holds more than declared and damaged
// data apart, also when an allocation fails.
#include <bzlib.h>
#include <lzma.h>
#include <zstd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/member_decode.h"
#include "archive/method_decode.h"
#include "archive/winzip_aes.h"
#include "tests/support/deflate_writer.h"
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
    if (reason != nullptr) d.reason = reason;
    return d;
}
std::string Damaged(uint32_t method) {
    return std::string(vtq::MethodName(method)) + " data is damaged";
}

// The libraries' own encoders.
std::string Bzip2(const std::string &text) {
    std::string out(text.size() * 2 + 700, '\0');
    auto len = static_cast<unsigned>(out.size());
    BZ2_bzBuffToBuffCompress(out.data(), &len, const_cast<char *>(text.data()),
                             static_cast<unsigned>(text.size()), 9, 0, 0);
    return out.substr(0, len);
}
// The ZIP form: version 9.20, properties size 5, properties, raw LZMA1.
std::string Lzma(const std::string &text, bool end_marker) {
    lzma_options_lzma opt;
    lzma_lzma_preset(&opt, 6);
    opt.ext_flags = end_marker ? LZMA_LZMA1EXT_ALLOW_EOPM : 0;
    const lzma_filter filters[] = {{LZMA_FILTER_LZMA1EXT, &opt}, {LZMA_VLI_UNKNOWN, nullptr}};
    std::string out(text.size() * 2 + 1000, '\0');
    out.replace(0, 4, "\x09\x14\x05\x00", 4);
    lzma_properties_encode(filters, reinterpret_cast<uint8_t *>(&out[4]));
    size_t pos = 9;
    lzma_raw_buffer_encode(filters, nullptr, Bytes(text.data()), text.size(),
                           reinterpret_cast<uint8_t *>(out.data()), &pos, out.size());
    return out.substr(0, pos);
}
std::string Xz(const std::string &text) {
    std::string out(lzma_stream_buffer_bound(text.size()), '\0');
    size_t pos = 0;
    lzma_easy_buffer_encode(6, LZMA_CHECK_CRC64, nullptr, Bytes(text.data()), text.size(),
                            reinterpret_cast<uint8_t *>(out.data()), &pos, out.size());
    return out.substr(0, pos);
}
std::string Zstd(const std::string &text) {
    std::string out(ZSTD_compressBound(text.size()), '\0');
    return out.substr(0, ZSTD_compress(out.data(), out.size(), text.data(), text.size(), 3));
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
    {"bzip2", 12, 0, Bzip2, 0, true},
    {"lzma, end marker", 14, vtq::kFlagLzmaEndMarker,
     [](const std::string &t) { return Lzma(t, true); }, 2, true},
    {"lzma, no end marker", 14, 0, [](const std::string &t) { return Lzma(t, false); }, 4, false},
    {"xz", 95, 0, Xz, 0, true},
    {"zstd", 93, 0, Zstd, 0, true},
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
            EXPECT_EQ(d.code, VTQ_OK) << d.reason;
            EXPECT_TRUE(d.bytes == text);
        }
        const Decoded longer = Decode(c.method, c.flags, stream, size + 1);
        EXPECT_EQ(longer.code, VTQ_E_INFLATE);
        EXPECT_EQ(longer.reason, kEndsEarly);
        if (size == 0) continue;
        const Decoded shorter = Decode(c.method, c.flags, stream, size - 1);
        EXPECT_EQ(shorter.code, VTQ_E_INFLATE);
        EXPECT_EQ(shorter.reason, c.says_too_long ? kTooLong : Damaged(c.method));
        // A cut or changed stream of one byte may still make its byte.
        if (size == 1) continue;
        EXPECT_EQ(Decode(c.method, c.flags, stream.substr(0, stream.size() * 2 / 3), size).reason,
                  kEndsEarly);
        if (c.damage_at == std::string::npos) continue;
        std::string damaged = stream;
        damaged[c.damage_at] = static_cast<char>(damaged[c.damage_at] ^ 0x7F);
        const Decoded bad = Decode(c.method, c.flags, damaged, size);
        EXPECT_EQ(bad.code, VTQ_E_INFLATE);
        EXPECT_EQ(bad.reason, Damaged(c.method));
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
    std::string stream = Lzma("x", true);
    stream.replace(5, 4, "\xff\xff\xff\xff");
    EXPECT_EQ(Decode(14, vtq::kFlagLzmaEndMarker, stream, 1).code, VTQ_OK);
}

TEST(MethodsUnsupported, EachIsRefusedByName) {
    for (uint32_t method : {1u, 2u, 5u, 6u, 10u, 18u, 19u, 96u, 97u, 98u}) {
        const Decoded d = Decode(method, 0, "data", 4);
        EXPECT_EQ(d.code, VTQ_E_INFLATE);
        EXPECT_EQ(d.reason, "compression method " + std::to_string(method) + " (" +
                                vtq::MethodName(method) + ") is not supported");
    }
    EXPECT_EQ(Decode(7, 0, "data", 4).reason, "unknown compression method");
}

// The members of a ZIP file whose local headers carry the sizes, as 7-Zip
// writes to a file.
struct Member {
    uint32_t flags, method, crc, size, dos_date_time;
    std::string extra, data;
};
std::vector<Member> Members(const std::string &path) {
    const std::string zip = vtq::test::ReadFile(path);
    auto le = [&zip](size_t at, int n) {
        uint32_t v = 0;
        while (n-- > 0) v = v << 8 | static_cast<unsigned char>(zip[at + n]);
        return v;
    };
    std::vector<Member> out;
    for (size_t at = 0; at + 30 <= zip.size() && le(at, 4) == 0x04034b50;) {
        const size_t extra_at = at + 30 + le(at + 26, 2), data_at = extra_at + le(at + 28, 2);
        out.push_back({le(at + 6, 2), le(at + 8, 2), le(at + 14, 4), le(at + 22, 4), le(at + 10, 4),
                       zip.substr(extra_at, data_at - extra_at),
                       zip.substr(data_at, le(at + 18, 4))});
        at = data_at + out.back().data.size();
    }
    return out;
}

// Decrypts (AES, or traditional with the early check) and decodes a member
// as the extended walk will.
Decoded Extract(const Member &m, const std::string &password) {
    std::string data = m.data;
    uint32_t method = m.method;
    bool check_crc = true;
    if (method == 99) {
        vtq::AesInfo info{};
        if (!vtq::ParseAesExtra(Bytes(m.extra.data()), m.extra.size(), &info)) return {~0u, "", ""};
        size_t at = 0, len = 0;
        const char *reason = nullptr;
        const uint32_t code = vtq::AesDecrypt(Bytes(password.data()), password.size(), info,
                                              reinterpret_cast<unsigned char *>(data.data()),
                                              data.size(), &at, &len, &reason);
        if (code != VTQ_OK) return {code, reason != nullptr ? reason : "", ""};
        data = data.substr(at, len);
        method = info.method;
        check_crc = vtq::AesChecksCrc(info);
    } else if (m.flags & 1) {
        ZipBus bus{};
        bus.Password = Bytes(password.data());
        bus.PasswordLen = static_cast<uint32_t>(password.size());
        ZipEntryInfo entry{};
        entry.Flags = m.flags;
        CryptInitKeys(&bus);
        CryptDecodeBuffer(static_cast<uint32_t>(data.size()),
                          reinterpret_cast<unsigned char *>(data.data()), &entry, &bus);
        if (!vtq::CryptHeaderMatches(Bytes(data.data()), m.flags, m.crc, m.dos_date_time))
            return {VTQ_E_CRC, "wrong password", ""};
        data.erase(0, 12);
    }
    Decoded d = Decode(method, m.flags, data, m.size);
    if (d.code == VTQ_OK && check_crc && vtq::test::Crc32(d.bytes) != m.crc) d.code = VTQ_E_CRC;
    return d;
}

// 7-Zip's Deflate64 (tests/data/deflate64.zip: matches 36,000 and 52,000
// bytes back, and plain text): each member decodes to its size and CRC-32.
TEST(Deflate64, SevenZipStreamsDecode) {
    const std::vector<Member> members = Members((kData / "deflate64.zip").string());
    ASSERT_EQ(members.size(), 2u);
    for (const Member &m : members) {
        ASSERT_EQ(m.method, 9u);
        EXPECT_EQ(Extract(m, "").code, VTQ_OK) << Extract(m, "").reason;
    }
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
    EXPECT_EQ(d.code, VTQ_OK) << d.reason;
    EXPECT_TRUE(d.bytes == text);
    EXPECT_EQ(Decode(9, 0, w.out, text.size() - 1, &whole).reason, kTooLong);
    EXPECT_EQ(Decode(9, 0, w.out, text.size() + 1, &whole).reason, kEndsEarly);
    const std::string cut = w.out.substr(0, w.out.size() - 8);
    EXPECT_EQ(Decode(9, 0, cut, text.size(), &whole).reason, kEndsEarly);
    // Every byte made, but the block's end cut off.
    EXPECT_EQ(Decode(9, 0, w.out.substr(0, w.out.size() - 1), text.size(), &whole).reason,
              Damaged(9));
}

// 7-Zip at test time: each method it writes, plain, with AES-256 and with
// traditional encryption, gives the text back; PPMd is refused by name.
TEST(SevenZip, ArchivesOfEveryMethodGiveTheirText) {
    if (std::system("7z i > /dev/null 2>&1") != 0) GTEST_SKIP() << "7z is not installed";
    const fs::path dir = fs::temp_directory_path() / ("vtq_methods_" + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::string text = Text(200000);
    vtq::test::WriteFile((dir / "in.txt").string(), text);
    for (const char *method : {"Copy", "Deflate", "Deflate64", "BZip2", "LZMA", "PPMd"}) {
        for (const char *crypt : {"", "-mem=AES256 -pPw0rd", "-mem=ZipCrypto -pPw0rd"}) {
            SCOPED_TRACE(std::string(method) + " " + crypt);
            fs::remove(dir / "a.zip");
            const std::string cmd = "cd " + dir.string() + " && 7z a -tzip -mm=" + method + " " +
                                    crypt + " a.zip in.txt > /dev/null";
            ASSERT_EQ(std::system(cmd.c_str()), 0);
            const std::vector<Member> members = Members((dir / "a.zip").string());
            ASSERT_EQ(members.size(), 1u);
            // A wrong password passes the traditional check byte once in
            // 256 times (7-Zip's header is random), and then fails later.
            if (*crypt != '\0') {
                EXPECT_NE(Extract(members[0], "wrong").code, VTQ_OK);
            }
            const Decoded d = Extract(members[0], "Pw0rd");
            if (std::string(method) == "PPMd") {
                EXPECT_EQ(d.reason, "compression method 98 (ppmd) is not supported");
                continue;
            }
            EXPECT_EQ(d.code, VTQ_OK) << d.reason;
            EXPECT_TRUE(d.bytes == text);
        }
    }
    fs::remove_all(dir);
}

// The AES archives kept in tests/data (password "vtq-secret", all of
// note.txt); then one of them damaged in each way that must be caught
// before a byte is decrypted.
TEST(WinZipAes, KeptVectorsAndTheirFailures) {
    const std::string note = vtq::test::ReadFile((kData / "note.txt").string());
    for (const char *file : {"aes128.zip", "aes192.zip", "aes256.zip", "aes256_stored.zip"}) {
        const std::vector<Member> members = Members((kData / file).string());
        ASSERT_EQ(members.size(), 1u) << file;
        EXPECT_EQ(Extract(members[0], "vtq-secret").bytes, note) << file;
    }
    const Member m = Members((kData / "aes256.zip").string())[0];
    const size_t n = m.data.size(), none = std::string::npos;
    const std::string auth = "authentication failed (damaged or wrong password)";
    struct Case {
        const char *what, *password;
        size_t flip_at, keep; // a byte to change (npos: none); the bytes kept
        uint32_t code;
        std::string reason;
    } const cases[] = {
        {"wrong password", "vtq-secreT", none, n, VTQ_E_CRC, "wrong password"},
        {"salt changed", "vtq-secret", 0, n, VTQ_E_CRC, "wrong password"},
        {"code changed", "vtq-secret", n - 1, n, VTQ_E_CRC, auth},
        {"data changed", "vtq-secret", 16 + 2, n, VTQ_E_CRC, auth},
        {"last byte cut", "vtq-secret", none, n - 1, VTQ_E_CRC, auth},
        {"no room for the code", "vtq-secret", none, 16 + 2 + 9, VTQ_E_INFLATE,
         "AES data is too short to hold its salt and authentication code"},
    };
    for (const Case &c : cases) {
        Member bad = m;
        if (c.flip_at != none) bad.data[c.flip_at] ^= 0x20;
        bad.data.resize(c.keep);
        const Decoded d = Extract(bad, c.password);
        EXPECT_EQ(d.code, c.code) << c.what;
        EXPECT_EQ(d.reason, c.reason) << c.what;
    }
}

TEST(WinZipAes, ExtraFieldIsReadOnlyWhenWellFormed) {
    const std::string aes("\x01\x99\x07\x00\x02\x00"
                          "AE"
                          "\x03\x08\x00",
                          11);
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
        if (ok) {
            EXPECT_TRUE(info.strength == 3 && info.method == 8 && info.vendor_version == 2);
        }
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

} // namespace

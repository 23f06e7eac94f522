// test_crypt.cc - traditional PKWARE decryption
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "tests/support/zip_builder.h"
#include "vtq/zozaz.h"

namespace vtq::test {
namespace {

// Bit-at-a-time reference of one reflected CRC-32 step, no inversions.
uint32_t RefStep(uint32_t crc, uint8_t byte) {
    crc ^= byte;
    for (int i = 0; i < 8; ++i) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    return crc;
}

// A context with keys set up from password, kept in a spare buffer of the
// context so that both share one lifetime.
std::unique_ptr<ZipBus> Bus(const std::string &password) {
    auto bus = std::make_unique<ZipBus>();
    std::memcpy(bus->DirBase, password.data(), password.size());
    bus->Password = reinterpret_cast<const unsigned char *>(bus->DirBase);
    bus->PasswordLen = static_cast<uint32_t>(password.size());
    CryptInitKeys(bus.get());
    return bus;
}

std::string Decrypt(ZipBus *bus, std::string data, uint32_t flags = 1) {
    ZipEntryInfo info{};
    info.Flags = flags;
    CryptDecodeBuffer(static_cast<uint32_t>(data.size()), reinterpret_cast<unsigned char *>(data.data()), &info, bus);
    return data;
}

TEST(Crypt, CrcStepMatchesTheReferenceForEveryByte) {
    for (uint32_t crc : {0u, 0xFFFFFFFFu, 0x12345678u, 0x80000001u}) {
        for (int b = 0; b < 256; ++b) {
            ASSERT_EQ(CryptCRC32(crc, b), RefStep(crc, static_cast<uint8_t>(b))) << crc << " " << b;
            ASSERT_EQ(CryptCRC32(crc, static_cast<int8_t>(b)), CryptCRC32(crc, b)); // low 8 bits only
        }
    }
}

TEST(Crypt, EmptyPasswordLeavesTheInitialKeys) {
    auto bus = Bus("");
    EXPECT_EQ(bus->Keys[0], 0x12345678u);
    EXPECT_EQ(bus->Keys[1], 0x23456789u);
    EXPECT_EQ(bus->Keys[2], 0x34567890u);
    EXPECT_EQ(CryptDecryptByte(bus.get()), 0xAB); // t = 0x7892
    EXPECT_EQ(CryptDecryptByte(bus.get()), 0xAB); // the keys do not move
}

TEST(Crypt, DecryptsWhatTheWriterEncrypted) {
    const std::string plain = "The quick brown fox jumps over the lazy dog\n";
    const std::string passwords[] = {"secret", "x", std::string("a\0b", 3)};
    for (const std::string &password : passwords) {
        const std::string dec = Decrypt(Bus(password).get(), PkEncrypt(plain, password, 0x5C));
        EXPECT_EQ(static_cast<uint8_t>(dec[11]), 0x5C); // the header's check byte
        EXPECT_EQ(dec.substr(12), plain);
    }
    // All PasswordLen bytes count, a NUL among them included.
    EXPECT_NE(Bus(std::string("a\0b", 3))->Keys[0], Bus("a")->Keys[0]);
}

TEST(Crypt, PiecesGiveTheSameBytesAsTheWhole) {
    const std::string enc = PkEncrypt(std::string(300, 'z') + "end", "pw", 1);
    auto whole = Bus("pw");
    const std::string one = Decrypt(whole.get(), enc);
    for (size_t first : {size_t{0}, size_t{1}, size_t{5}, size_t{12}, enc.size()}) {
        auto bus = Bus("pw");
        std::string two = Decrypt(bus.get(), enc.substr(0, first));
        two += Decrypt(bus.get(), enc.substr(first));
        EXPECT_EQ(two, one) << first;
        EXPECT_EQ(bus->Keys[2], whole->Keys[2]);
    }
}

TEST(Crypt, NothingMovesForAPlainEntryOrAnEmptyCount) {
    auto bus = Bus("pw");
    const uint32_t k0 = bus->Keys[0], k2 = bus->Keys[2];
    EXPECT_EQ(Decrypt(bus.get(), "plain bytes", 0x8), "plain bytes");
    unsigned char byte = 0x42;
    ZipEntryInfo info{};
    info.Flags = 1;
    CryptDecodeBuffer(0, &byte, &info, bus.get());
    EXPECT_EQ(bus->Keys[0], k0);
    EXPECT_EQ(bus->Keys[2], k2);
    // CryptDecode leaves its input alone and moves the keys with the plain byte.
    const uint32_t t = (k2 & 0xFFFF) | 2;
    const int plain = CryptDecode(&byte, bus.get());
    EXPECT_EQ(byte, 0x42);
    EXPECT_EQ(plain, static_cast<int>(0x42 ^ (((t * (t ^ 1)) >> 8) & 0xFF)));
    EXPECT_EQ(bus->Keys[0], RefStep(k0, static_cast<uint8_t>(plain)));
}

} // namespace
} // namespace vtq::test

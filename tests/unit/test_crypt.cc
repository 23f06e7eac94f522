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

// The test writer's encryption is written independently of the filter's, so
// a round trip checks the initial keys, the key update and the keystream.
TEST(Crypt, DecryptsWhatTheWriterEncrypted) {
    const std::string plain = "The quick brown fox jumps over the lazy dog\n";
    const std::string passwords[] = {"secret", "x", "", std::string("a\0b", 3)};
    for (const std::string &password : passwords) {
        const std::string dec = Decrypt(Bus(password).get(), PkEncrypt(plain, password, 0x5C));
        EXPECT_EQ(static_cast<uint8_t>(dec[11]), 0x5C); // the header's check byte
        EXPECT_EQ(dec.substr(12), plain);
    }
    // All PasswordLen bytes count, a NUL among them included.
    EXPECT_NE(Bus(std::string("a\0b", 3))->Keys[0], Bus("a")->Keys[0]);
}

// Pieces give the same bytes as the whole (an empty piece among them); a
// plain entry (flag bit 0 clear) in between is left alone and moves no key.
TEST(Crypt, PiecesAndPlainEntries) {
    const std::string enc = PkEncrypt(std::string(300, 'z') + "end", "pw", 1);
    const std::string whole = Decrypt(Bus("pw").get(), enc);
    for (size_t first : {size_t{0}, size_t{1}, size_t{5}, size_t{12}, enc.size()}) {
        auto bus = Bus("pw");
        std::string two = Decrypt(bus.get(), enc.substr(0, first));
        EXPECT_EQ(Decrypt(bus.get(), "plain bytes", 0x8), "plain bytes");
        two += Decrypt(bus.get(), enc.substr(first));
        EXPECT_EQ(two, whole) << first;
    }
}

// The buffer routine keeps its keys in locals; it must leave the same bytes
// and the same keys as CryptDecode applied byte by byte.
TEST(Crypt, BufferRoutineMatchesTheByteRoutine) {
    const std::string enc = PkEncrypt(std::string(1000, 'q') + "tail", "key", 7);
    auto by_buffer = Bus("key"), by_byte = Bus("key");
    const std::string whole = Decrypt(by_buffer.get(), enc);
    std::string bytes;
    for (char c : enc) {
        const auto in = static_cast<unsigned char>(c);
        bytes += static_cast<char>(CryptDecode(&in, by_byte.get()));
    }
    EXPECT_EQ(whole, bytes);
    EXPECT_EQ(std::memcmp(by_buffer->Keys, by_byte->Keys, sizeof by_byte->Keys), 0);
}

} // namespace
} // namespace vtq::test

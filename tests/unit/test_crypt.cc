// test_crypt.cc - traditional PKWARE decryption
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <memory>
#include <string>

#include "tests/support/zip_builder.h"
#include "vtq/zozaz.h"

namespace vtq::test {
namespace {

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

// One step is zlib's CRC-32 of one byte without its inversions; only the
// low 8 bits of the byte count.
TEST(Crypt, CrcStepIsZlibsWithoutInversion) {
    for (uint32_t crc : {0u, 0x12345678u, 0x80000001u}) {
        for (int b = 0; b < 256; ++b) {
            const Bytef byte = static_cast<Bytef>(b);
            ASSERT_EQ(CryptCRC32(crc, b), ~static_cast<uint32_t>(crc32(~crc, &byte, 1))) << crc << " " << b;
            ASSERT_EQ(CryptCRC32(crc, static_cast<int8_t>(b)), CryptCRC32(crc, b));
        }
    }
}

// The test writer's encryption is written independently of the filter's, so
// a round trip checks the initial keys (every PasswordLen byte, a NUL or a
// high byte among them), the key update and the keystream.  Pieces give the
// same bytes as the whole, a plain entry (flag bit 0 clear) in between is
// left alone and moves no key, and the buffer routine leaves the keys
// CryptDecode leaves byte by byte.
TEST(Crypt, DecryptsWhatTheWriterEncryptedInAnyPieces) {
    const std::string plain = std::string(600, 'z') + "The quick brown fox\n";
    for (const std::string &password : {std::string("secret"), std::string(), std::string("a\0b\xE9", 4)}) {
        const std::string enc = PkEncrypt(plain, password, 0x5C);
        for (size_t first : {size_t{0}, size_t{5}, size_t{12}, enc.size()}) {
            auto bus = Bus(password);
            std::string dec = Decrypt(bus.get(), enc.substr(0, first));
            EXPECT_EQ(Decrypt(bus.get(), "plain bytes", 0x8), "plain bytes");
            dec += Decrypt(bus.get(), enc.substr(first));
            EXPECT_EQ(static_cast<uint8_t>(dec[11]), 0x5C); // the header's check byte
            EXPECT_EQ(dec.substr(12), plain) << first;
            auto by_byte = Bus(password);
            for (char c : enc) {
                const auto in = static_cast<unsigned char>(c);
                CryptDecode(&in, by_byte.get());
            }
            EXPECT_EQ(std::memcmp(bus->Keys, by_byte->Keys, sizeof bus->Keys), 0);
        }
    }
}

} // namespace
} // namespace vtq::test

// test_crypt.cc - traditional PKWARE decryption
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "tests/support/zip_builder.h"
#include "vtq/zozaz.h"

namespace vtq::test {
namespace {

// The test writer's encryption is independent of the filter's, so a round
// trip checks the initial keys (every PasswordLen byte, a NUL or a high
// byte among them), the key update and the keystream.  Pieces give the
// bytes of the whole, a plain entry (flag bit 0 clear) in between is left
// alone and moves no key, and CryptDecode byte by byte leaves the keys the
// buffer routine leaves.
TEST(Crypt, DecryptsWhatTheWriterEncryptedInAnyPieces) {
    const std::string plain = std::string(600, 'z') + "The quick brown fox\n";
    for (const std::string &password :
         {std::string("secret"), std::string(), std::string("a\0b\xE9", 4)}) {
        const std::string enc = PkEncrypt(plain, password, 0x5C);
        for (size_t first : {size_t{0}, size_t{5}, size_t{12}, enc.size()}) {
            ZipBus bus[2] = {};
            for (ZipBus &b : bus) {
                b.Password = reinterpret_cast<const unsigned char *>(password.data());
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
            for (char c : enc) CryptDecode(reinterpret_cast<const unsigned char *>(&c), &bus[1]);
            EXPECT_EQ(std::memcmp(bus[0].Keys, bus[1].Keys, sizeof bus[0].Keys), 0);
        }
    }
}

} // namespace
} // namespace vtq::test

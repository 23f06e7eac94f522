// encoders.cpp - the tests' compressors and WinZip AES (see encoders.h)
#include "tests/support/encoders.h"

#include <bzlib.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include "vtq/types.h"

namespace vtq::test {
namespace {
using Bytes = const uint8_t *;

// WinZip AES data of stored (already compressed): salt, password verifier,
// the data encrypted, authentication code; strength 1-3 for 128-256 bits.
std::string AesEncrypt(const std::string &stored, const std::string &password, int strength) {
    const size_t key = 8 + 8 * static_cast<size_t>(strength), salt_len = key / 2;
    std::string salt(salt_len, '\0');
    for (size_t i = 0; i < salt_len; ++i) salt[i] = static_cast<char>(0x31 * (i + 1));
    unsigned char keys[2 * 32 + 2];
    PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()), Bytes(salt.data()),
                      static_cast<int>(salt_len), 1000, EVP_sha1(), static_cast<int>(2 * key + 2),
                      keys);
    const EVP_CIPHER *cipher = strength == 1   ? EVP_aes_128_ecb()
                               : strength == 2 ? EVP_aes_192_ecb()
                                               : EVP_aes_256_ecb();
    EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
    EVP_EncryptInit_ex(ctx, cipher, nullptr, keys, nullptr);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    std::string data = stored;
    for (size_t at = 0; at < data.size(); at += 16) {
        unsigned char counter[16] = {}, stream[16];
        for (size_t i = 0, n = at / 16 + 1; i < 8; ++i)
            counter[i] = static_cast<unsigned char>(n >> (8 * i));
        int made = 0;
        EVP_EncryptUpdate(ctx, stream, &made, counter, 16);
        for (size_t i = 0; i < 16 && at + i < data.size(); ++i)
            data[at + i] = static_cast<char>(data[at + i] ^ stream[i]);
    }
    EVP_CIPHER_CTX_free(ctx);
    unsigned char mac[20];
    unsigned int mac_len = 0;
    HMAC(EVP_sha1(), keys + key, static_cast<int>(key), Bytes(data.data()), data.size(), mac,
         &mac_len);
    return salt + std::string(reinterpret_cast<char *>(keys + 2 * key), 2) + data +
           std::string(reinterpret_cast<char *>(mac), 10);
}

std::string Bzip2(const std::string &text) {
    std::string out(text.size() * 2 + 700, '\0');
    auto len = static_cast<unsigned>(out.size());
    BZ2_bzBuffToBuffCompress(out.data(), &len, const_cast<char *>(text.data()),
                             static_cast<unsigned>(text.size()), 9, 0, 0);
    return out.substr(0, len);
}

} // namespace

void Encode(ZipMember &m, uint16_t method, uint32_t encryption, const std::string &password) {
    const std::string &t = m.data;
    std::string stored = method == 0 ? t : method == 8 ? Deflate(t) : Bzip2(t);
    uint16_t flags = 0;
    m.method = method;
    if (encryption == VTQ_ENC_ZIPCRYPTO) {
        stored = PkEncrypt(stored, password, static_cast<uint8_t>(Crc32(t) >> 24));
        flags |= 1;
    } else if (encryption != VTQ_ENC_NONE) {
        const int strength = static_cast<int>(encryption - VTQ_ENC_AES128 + 1);
        stored = AesEncrypt(stored, password, strength);
        flags |= 1;
        m.extra = std::string("\x01\x99\x07\0\x02\0AE", 8) + static_cast<char>(strength) +
                  static_cast<char>(method) + '\0';
        m.method = 99;
        m.crc = 0; // AE-2
    }
    m.raw = stored;
    m.flags = flags;
}

} // namespace vtq::test

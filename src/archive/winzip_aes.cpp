// winzip_aes.cpp - WinZip AES decryption (see winzip_aes.h)
#include "archive/winzip_aes.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <climits>
#include <cstring>

#include "vtq/types.h"

namespace vtq {
namespace {

constexpr uint32_t kAesExtraId = 0x9901;
constexpr size_t kAesExtraSize = 7; // version 2, vendor 2, strength 1, method 2
constexpr size_t kVerifierSize = 2;
constexpr size_t kAuthCodeSize = 10;
constexpr int kIterations = 1000;
constexpr size_t kBlock = 16;
constexpr size_t kBatchBlocks = 256; // keystream made 4 KiB at a time

constexpr char kWrongPassword[] = "wrong password";
constexpr char kAuthFailed[] = "authentication failed (damaged or wrong password)";
constexpr char kTooShort[] = "AES data is too short to hold its salt and authentication code";

uint32_t Le16(const unsigned char *p) { return static_cast<uint32_t>(p[0] | p[1] << 8); }

size_t KeySize(const AesInfo &info) { return 8 + 8 * size_t{info.strength}; }
size_t SaltSize(const AesInfo &info) { return 4 + 4 * size_t{info.strength}; }

const EVP_CIPHER *Cipher(const AesInfo &info) {
    return info.strength == 1   ? EVP_aes_128_ecb()
           : info.strength == 2 ? EVP_aes_192_ecb()
                                : EVP_aes_256_ecb();
}

// XORs data[0..len) with the keystream: AES of the blocks 1, 2, 3, ...,
// each counter a 16-byte little-endian number.  False when libcrypto fails.
bool CounterMode(const AesInfo &info, const unsigned char *key, unsigned char *data, size_t len) {
    EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
    if (ctx == nullptr) return false;
    bool ok = EVP_EncryptInit_ex(ctx, Cipher(info), nullptr, key, nullptr) == 1 &&
              EVP_CIPHER_CTX_set_padding(ctx, 0) == 1;
    unsigned char counters[kBatchBlocks * kBlock] = {};
    unsigned char stream[kBatchBlocks * kBlock];
    uint64_t counter = 0;
    while (ok && len > 0) {
        const size_t blocks = len / kBlock + (len % kBlock != 0);
        const size_t batch = blocks < kBatchBlocks ? blocks : kBatchBlocks;
        // The low 8 bytes count; the high 8 stay zero below 2^64 blocks.
        for (size_t b = 0; b < batch; ++b) {
            ++counter;
            for (size_t i = 0; i < 8; ++i)
                counters[b * kBlock + i] = static_cast<unsigned char>(counter >> (8 * i));
        }
        int made = 0;
        ok = EVP_EncryptUpdate(ctx, stream, &made, counters, static_cast<int>(batch * kBlock)) ==
                 1 &&
             made == static_cast<int>(batch * kBlock);
        const size_t n = len < batch * kBlock ? len : batch * kBlock;
        for (size_t i = 0; ok && i < n; ++i) data[i] ^= stream[i];
        data += n;
        len -= n;
    }
    EVP_CIPHER_CTX_free(ctx);
    OPENSSL_cleanse(stream, sizeof stream);
    return ok;
}

} // namespace

bool ParseAesExtra(const unsigned char *extra, size_t len, AesInfo *out) {
    while (len >= 4) {
        const uint32_t id = Le16(extra);
        const size_t size = Le16(extra + 2);
        extra += 4;
        len -= 4;
        if (size > len) return false;
        if (id == kAesExtraId) {
            if (size != kAesExtraSize) return false;
            out->vendor_version = Le16(extra);
            out->strength = extra[4];
            out->method = Le16(extra + 5);
            return (out->vendor_version == 1 || out->vendor_version == 2) && extra[2] == 'A' &&
                   extra[3] == 'E' && out->strength >= 1 && out->strength <= 3;
        }
        extra += size;
        len -= size;
    }
    return false;
}

size_t AesOverhead(const AesInfo &info) { return SaltSize(info) + kVerifierSize + kAuthCodeSize; }

uint32_t AesDecrypt(const unsigned char *password, size_t password_len, const AesInfo &info,
                    unsigned char *data, size_t data_len, size_t *plain_offset, size_t *plain_len,
                    const char **reason) {
    *reason = nullptr;
    if (data_len < AesOverhead(info)) {
        *reason = kTooShort;
        return VTQ_E_INFLATE;
    }
    const size_t salt_size = SaltSize(info), key_size = KeySize(info);
    // The AES key, the HMAC key and the verifier, in that order.
    unsigned char keys[2 * 32 + kVerifierSize];
    const size_t derived = 2 * key_size + kVerifierSize;
    // libcrypto counts the password in an int; no password that long is real.
    if (password_len > INT_MAX) {
        *reason = kWrongPassword;
        return VTQ_E_CRC;
    }
    if (PKCS5_PBKDF2_HMAC(reinterpret_cast<const char *>(password), static_cast<int>(password_len),
                          data, static_cast<int>(salt_size), kIterations, EVP_sha1(),
                          static_cast<int>(derived), keys) != 1)
        return VTQ_E_NO_MEMORY;

    uint32_t code = VTQ_OK;
    unsigned char *const body = data + salt_size + kVerifierSize;
    const size_t body_len = data_len - AesOverhead(info);
    unsigned char mac[EVP_MAX_MD_SIZE];
    unsigned int mac_len = 0;
    if (std::memcmp(keys + 2 * key_size, data + salt_size, kVerifierSize) != 0) {
        *reason = kWrongPassword;
        code = VTQ_E_CRC;
    } else if (HMAC(EVP_sha1(), keys + key_size, static_cast<int>(key_size), body, body_len, mac,
                    &mac_len) == nullptr) {
        code = VTQ_E_NO_MEMORY;
    } else if (mac_len < kAuthCodeSize || CRYPTO_memcmp(mac, body + body_len, kAuthCodeSize) != 0) {
        *reason = kAuthFailed;
        code = VTQ_E_CRC;
    } else if (!CounterMode(info, keys, body, body_len)) {
        code = VTQ_E_NO_MEMORY;
    } else {
        *plain_offset = salt_size + kVerifierSize;
        *plain_len = body_len;
    }
    OPENSSL_cleanse(keys, sizeof keys);
    return code;
}

} // namespace vtq

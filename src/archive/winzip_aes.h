// winzip_aes.h - member passwords: WinZip AES (method 99, AE-1 and AE-2), and the
// early check of traditional encryption
//
// An AES member's data is a salt (8, 12 or 16 bytes by key size), a 2-byte
// password verifier, the encrypted data and a 10-byte authentication code.
// PBKDF2-HMAC-SHA1 over the password and salt (1000 iterations) gives the
// AES key, the HMAC key and the verifier; the data is AES in counter mode
// with a little-endian counter that starts at 1, and the authentication
// code is the first 10 bytes of HMAC-SHA1 over the encrypted data.  All
// cryptography is libcrypto's (OpenSSL), which allocates with its own
// allocator: it offers no per-call one.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vtq {

// The AES extra field (header ID 0x9901) of a member.
struct AesInfo {
    uint32_t vendor_version; // 1: AE-1 (CRC checked), 2: AE-2 (CRC not stored)
    uint32_t strength;       // 1, 2, 3: AES-128, AES-192, AES-256
    uint32_t method;         // the compression method of the decrypted data
};

// Finds and reads the AES record in the extra field extra[0..len) (a
// sequence of ID, size, data records).  True with *out filled when a 0x9901
// record of 7 bytes names vendor "AE", version 1 or 2 and strength 1-3;
// false otherwise (*out unspecified).
bool ParseAesExtra(const unsigned char *extra, size_t len, AesInfo *out);

// Whether the member's CRC-32 is to be checked: AE-1 stores it, AE-2 stores
// 0 and relies on the authentication code alone.
inline bool AesChecksCrc(const AesInfo &info) { return info.vendor_version == 1; }

// Bytes of an AES member's data that are not its content: salt, verifier
// and authentication code.
size_t AesOverhead(const AesInfo &info);

// Checks and decrypts, in place, the data of an AES member, data[0..data_len)
// as stored, with password[0..password_len).  The password is checked with
// the verifier first, then the authentication code over the encrypted data,
// in constant time, before a byte is decrypted.  Returns 0 with the content
// (still compressed by info.method) in data[*plain_offset, +*plain_len);
// 3102 "wrong password" when the verifier differs; 3102 "authentication
// failed (damaged or wrong password)" when the code differs; 3101 when the
// data is too short to hold salt, verifier and code; 12 (reason null) when
// libcrypto fails, which it does only without memory.  data is as it was
// after any failure but 12.
uint32_t AesDecrypt(const unsigned char *password, size_t password_len, const AesInfo &info,
                    unsigned char *data, size_t data_len, size_t *plain_offset, size_t *plain_len,
                    const char **reason);

// Traditional encryption: whether the last byte of a member's decrypted
// 12-byte encryption header says the password is right.  Writers set it to
// the high byte of the CRC-32 or, when the CRC follows the data (flag bit
// 3), to the high byte of the DOS time (bits 8-15 of dos_date_time).  A
// wrong password passes this check once in 256 times; the CRC catches it.
inline bool CryptHeaderMatches(const unsigned char header[12], uint32_t flags, uint32_t crc,
                               uint32_t dos_date_time) {
    const uint32_t expected = (flags & 0x0008) != 0 ? dos_date_time >> 8 : crc >> 24;
    return header[11] == (expected & 0xFF);
}

} // namespace vtq

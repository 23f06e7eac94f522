// crypt.cpp - traditional PKWARE decryption of member data
//
// The published ZIP stream cipher: three 32-bit keys, set up from the
// password and advanced by every plaintext byte.  The state lives in
// ZipBus.Keys; nothing here allocates or fails.  The CRC step uses zlib's
// table of the reflected CRC-32 polynomial, the same one ZIP's CRC uses.
#include <zlib.h>

#include "archive/zip_format.h"
#include "vtq/zozaz.h"

namespace {

constexpr uint32_t kKey0Init = 0x12345678;
constexpr uint32_t kKey1Init = 0x23456789;
constexpr uint32_t kKey2Init = 0x34567890;
constexpr uint32_t kKey1Multiplier = 134775813;

} // namespace

// One CRC-32 step: (crc >> 8) ^ T[(crc ^ byte) & 0xFF].  Only the low 8 bits
// of byte count, so sign-extended bytes give the same result.
extern "C" VTQ_FILTER_API uint32_t CryptCRC32(uint32_t crc, int byte) {
    const z_crc_t *table = get_crc_table();
    return (crc >> 8) ^ static_cast<uint32_t>(table[(crc ^ static_cast<uint32_t>(byte)) & 0xFFu]);
}

// Advances the keys with one plaintext byte; returns that byte (low 8 bits).
extern "C" VTQ_FILTER_API int CryptUpdateKeys(int byte, ZipBus *bus) {
    uint32_t *k = bus->Keys;
    k[0] = CryptCRC32(k[0], byte);
    k[1] = (k[1] + (k[0] & 0xFFu)) * kKey1Multiplier + 1;
    k[2] = CryptCRC32(k[2], static_cast<int>(k[1] >> 24));
    return byte & 0xFF;
}

// Sets the keys from all PasswordLen bytes of Password (NUL bytes included;
// a length of 0, or no password, leaves the initial keys).
extern "C" VTQ_FILTER_API void CryptInitKeys(ZipBus *bus) {
    bus->Keys[0] = kKey0Init;
    bus->Keys[1] = kKey1Init;
    bus->Keys[2] = kKey2Init;
    if (bus->Password == nullptr) return;
    for (uint32_t i = 0; i < bus->PasswordLen; ++i) CryptUpdateKeys(bus->Password[i], bus);
}

// The next keystream byte (0..255); the keys do not move.
extern "C" VTQ_FILTER_API int CryptDecryptByte(ZipBus *bus) {
    const uint32_t t = (bus->Keys[2] & 0xFFFFu) | 2u;
    return static_cast<int>(((t * (t ^ 1u)) >> 8) & 0xFFu);
}

// Returns the decryption of *byte and advances the keys with it; *byte is
// left as it was.
extern "C" VTQ_FILTER_API int CryptDecode(const unsigned char *byte, ZipBus *bus) {
    const int plain = (*byte ^ CryptDecryptByte(bus)) & 0xFF;
    CryptUpdateKeys(plain, bus);
    return plain;
}

// Decrypts the first count bytes of buf in place, in order, when the entry
// is encrypted (Flags bit 0); otherwise, or for count 0, nothing changes.
// The keys carry over, so a data area decrypted in pieces gives the same
// bytes as one decrypted whole.  The steps are CryptDecode's, with the keys
// and the table held in locals for the whole buffer instead of being
// fetched through the exported routines for every byte.
extern "C" VTQ_FILTER_API void CryptDecodeBuffer(uint32_t count, unsigned char *buf,
                                                 const ZipEntryInfo *info, ZipBus *bus) {
    if ((info->Flags & vtq::zipfmt::kFlagEncrypted) == 0 || count == 0) return;
    const z_crc_t *table = get_crc_table();
    uint32_t k0 = bus->Keys[0], k1 = bus->Keys[1], k2 = bus->Keys[2];
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t t = (k2 & 0xFFFFu) | 2u;
        const uint32_t plain = (buf[i] ^ ((t * (t ^ 1u)) >> 8)) & 0xFFu;
        buf[i] = static_cast<unsigned char>(plain);
        k0 = (k0 >> 8) ^ static_cast<uint32_t>(table[(k0 ^ plain) & 0xFFu]);
        k1 = (k1 + (k0 & 0xFFu)) * kKey1Multiplier + 1;
        k2 = (k2 >> 8) ^ static_cast<uint32_t>(table[(k2 ^ (k1 >> 24)) & 0xFFu]);
    }
    bus->Keys[0] = k0;
    bus->Keys[1] = k1;
    bus->Keys[2] = k2;
}

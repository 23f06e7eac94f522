// zip_builder.h - a test-only ZIP writer whose every field can be overridden
//
// Builds archives in memory: members (stored or deflated, optionally with
// traditional encryption; other methods and WinZip AES as raw data, see
// encoders.h), directory entries, a stub, a comment, bit-3 local headers,
// data descriptors, ZIP64 fields and records.  Every field starts as a
// correct writer sets it; a test overrides what it wants wrong.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vtq::test {

struct ZipMember {
    std::string name;
    std::string data;             // uncompressed content
    uint16_t method = 0;          // 0 stored, 8 deflate (others: data stored as given)
    std::string password;         // non-empty: traditional encryption
    bool bit3 = false;            // local CRC and sizes zero, flag bit 3 set
    bool data_descriptor = false; // write a data descriptor after the data
    std::string extra;            // central and local extra field
    // Sizes and local header offset in a ZIP64 extra field (0x0001), the
    // 32-bit fields all ones, in the central and the local header.
    bool zip64 = false;
    // Overrides; unset means "as a correct writer would".
    std::optional<uint16_t> flags, local_flags, local_method;
    std::optional<uint32_t> crc, compressed_size, uncompressed_size;
    std::optional<uint32_t> local_crc, local_compressed_size, local_uncompressed_size;
    std::optional<uint16_t> local_name_len, central_name_len;
    std::optional<std::string> local_extra;
    std::optional<uint32_t> local_offset; // central's offset of the local header
    std::optional<std::string> raw;       // member data bytes as stored, verbatim
};

struct ZipArchive {
    std::string stub; // bytes before the archive
    std::vector<ZipMember> members;
    std::string comment; // archive comment
    std::optional<uint16_t> cd_disk, entries_total;
    std::optional<uint32_t> cd_size, cd_offset;
    // A ZIP64 end record and locator before the end record, whose counts,
    // size and offset are then all ones.
    bool zip64 = false;

    // Adds a member or a directory entry (name ending in "/").
    ZipMember &Add(std::string name, std::string data = {}, uint16_t method = 0) {
        ZipMember &m = members.emplace_back();
        m.name = std::move(name);
        m.data = std::move(data);
        m.method = method;
        return m;
    }

    std::string Build() const;
};

// Raw deflate (no wrapper) of data.
std::string Deflate(const std::string &data, int level = 6);
// CRC-32 as ZIP uses it.
uint32_t Crc32(const std::string &data);
// Traditional PKWARE encryption of data (the 12-byte header prepended);
// check_byte is the header's last byte.
std::string PkEncrypt(const std::string &data, const std::string &password, uint8_t check_byte);

// Files.
void WriteFile(const std::string &path, const std::string &bytes);
std::string ReadFile(const std::string &path);

} // namespace vtq::test

// zip_format.h - on-disk layout constants of the ZIP records this filter reads
//
// Every multi-byte field is little-endian.  Only the records and fields the
// filter uses are named here; nothing else belongs in this header.
#pragma once

#include <cstdint>

namespace vtq::zipfmt {

// Signatures, as little-endian 32-bit values.
inline constexpr uint32_t kLocalHeaderSig = 0x04034b50;   // "PK\3\4"
inline constexpr uint32_t kCentralHeaderSig = 0x02014b50; // "PK\1\2"
inline constexpr uint32_t kEndRecordSig = 0x06054b50;     // "PK\5\6"

// The end record's signature as it appears in the file, byte by byte.
inline constexpr uint8_t kEndRecordSigBytes[4] = {0x50, 0x4B, 0x05, 0x06};

// Fixed parts of the three records, before their variable-length fields.
inline constexpr uint32_t kLocalHeaderSize = 30;   // then name, extra field, data
inline constexpr uint32_t kCentralHeaderSize = 46; // then name, extra field, comment
inline constexpr uint32_t kEndRecordSize = 22;     // then the archive comment

// General purpose bit flag.
inline constexpr uint32_t kFlagEncrypted = 0x0001;      // traditional encryption
inline constexpr uint32_t kFlagDataDescriptor = 0x0008; // local CRC and sizes unset

// Compression methods; any other method is handed to the inflater.
inline constexpr uint32_t kMethodStored = 0;

// Traditional encryption: the header that starts an encrypted member's data.
inline constexpr uint32_t kCryptHeaderSize = 12;

} // namespace vtq::zipfmt

// ext_member.h - one member read in extended mode: local header, data,
// decryption, method, CRC-32
//
// The central directory decides a member: its method, sizes and CRC-32.
// The local header is read only for what it alone knows, where the data
// starts; its other fields are not compared, as common ZIP tools do not
// compare them (streaming writers leave them zero, or all ones for ZIP64).
// Work stays in proportion to the data: a member is refused before its
// buffers are taken when its method cannot be decoded, when its declared
// size is more than its data can make (stored data is the member itself;
// deflate makes at most 1032 bytes from a byte, Deflate64 29,128), or when
// it is larger than 4 GiB.
#pragma once

#include <cstdint>

#include "archive/ext_directory.h"
#include "archive/extension.h"
#include "archive/member_decode.h"
#include "archive/winzip_aes.h"
#include "vtq/zozaz.h"

namespace vtq::ext {

// How a member is stored, as its entry says: the compression method of the
// data (for WinZip AES the one its extra field names) and the encryption.
struct Kind {
    uint32_t method = 0;
    uint32_t encryption = VTQ_ENC_NONE; // VTQ_ENC_*
    bool aes = false;                   // method 99; aes_info valid when aes_ok
    bool aes_ok = false;
    AesInfo aes_info{};
};
Kind KindOf(const Entry &e);

// What the walk lends the member reader.
struct Source {
    VTQ_FILE *file;
    ZipBus *bus;                // its Keys serve traditional decryption
    const VtqExtension *record; // the password
    WholeInflater *whole;
    // Stored members of at least kStreamFrom bytes are left to be streamed
    // (MemberBytes::streamed).
    bool stream_stored = false;
};

// The smallest stored member worth streaming: below it one read into a
// buffer costs less than the pieces.
inline constexpr uint32_t kStreamFrom = uint32_t{1} << 20;

inline constexpr char kCrcMismatch[] = "CRC mismatch, text skipped";

// The BEGIN event of the member e, named name as stored and display_name
// in UTF-8 (both NUL-terminated), the name read in name_set (null: ASCII
// or escaped): the entry's sizes, flags, CRC-32 and time, KindOf's method
// and encryption.
VtqMemberEvent BeginEvent(const Entry &e, const char *name, const char *display_name,
                          const char *name_set);

// Reads the member e (its refusal already dealt with), decrypts and decodes
// it and checks its CRC-32 (not for WinZip AE-2, whose authentication code
// is checked instead).  Returns 0 with *out holding exactly its
// uncompressed size, or, for a stored member src lets stream, with *out
// saying where it lies (nothing read, its CRC-32 not yet checked: the
// caller checks it, and reports a mismatch as 3102 with kCrcMismatch).
// Otherwise the code, with *reason one line (in line when it holds
// numbers) for a failure of the member itself:
//   3001 encrypted, no password given;  5001 empty password;
//   3100 no local header where the entry says, or its data runs past its
//        room (kOverlaps, kPastTheEnd);
//   3101 a method or an encryption that is not supported, damaged data,
//        data that ends before the declared size or holds more;
//   3102 wrong password, failed authentication, CRC mismatch;
//   12   larger than 4 GiB, or than the memory the host grants for it;
// and with *reason null for a failure of the surroundings: 25 a read of the
// archive fails, 12 a decoder gets no memory.  *out is empty after a
// failure.
uint32_t ReadMember(const Source &src, const Entry &e, MemberBytes *out, const char **reason,
                    Line *line);

// Whether code (with reason) is the member's own failure, which salvage
// skips, rather than one of the surroundings, which ends the walk.
inline bool MemberFault(uint32_t code, const char *reason) {
    return code == VTQ_E_ENCRYPTED || code == VTQ_E_EMPTY_PASSWORD ||
           (code >= VTQ_E_STRUCTURE && code <= VTQ_E_CRC) ||
           (code == VTQ_E_NO_MEMORY && reason != nullptr);
}

} // namespace vtq::ext

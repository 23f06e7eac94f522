// ext_directory.h - the extended mode's central directory: found, read whole,
// parsed from memory, and every member's place in the archive checked
//
// The documented reader (central_dir.cpp) fetches 32-bit fields one byte at
// a time and trusts the end record.  The extended mode reads what common ZIP
// tools read: an end record anywhere in the largest-comment window, taken
// only when the directory it points to is really there; bytes in front of
// the archive; ZIP64 end records and extra fields, with every size and
// offset held in 64 bits.  The directory is read with one host read into one
// buffer and parsed with bounds-checked reads.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/services.h"

namespace vtq::ext {

// One central directory entry, ZIP64 values applied.
struct Entry {
    // File position of the local header: the recorded offset plus the bytes
    // in front of the archive.
    uint64_t local_offset = 0;
    uint64_t compressed_size = 0, uncompressed_size = 0;
    uint32_t flags = 0, method = 0, crc32 = 0, dos_date_time = 0;
    // The name (up to its first NUL byte) and the extra field, inside the
    // directory's buffer; not NUL-terminated.
    const unsigned char *name = nullptr, *extra = nullptr;
    uint32_t name_len = 0, extra_len = 0;
    bool directory = false; // the name ends in "/"
    // Decided before the walk: when refusal is not 0 the member is refused
    // with it (and reason) before anything of it is read.
    uint32_t refusal = 0;
    const char *reason = nullptr;
    // The local header and data must end by this file position: the next
    // local header of the archive, or the central directory.
    uint64_t data_limit = 0;
    bool limit_is_directory = false;
};

// Reasons shared by the directory and the member reader.
inline constexpr char kPastTheEnd[] = "data runs past the end of the archive";
inline constexpr char kOverlaps[] = "overlaps another member's data";

// The central directory of one archive, read whole.
class Directory {
public:
    Directory() = default;
    Directory(const Directory &) = delete;
    Directory &operator=(const Directory &) = delete;

    // Finds the end record in the last 65535 + 22 bytes of the file (of
    // file_size bytes), nearest the end first, and takes the first one that
    // is consistent: its central directory (ZIP64 values when a locator and
    // a ZIP64 end record go with it) ends right before it and starts with a
    // central header, or is empty and the record's comment ends the file.  Bytes in front of the archive are what
    // lies before the directory's recorded offset.  Then reads the directory, parses every entry and checks every
    // member's place (CheckPlaces).  Returns 0; 2001 when the tail holds no
    // end record; 3100 when none is consistent, or the directory does not
    // parse to its end; 25 when a read fails; 12 when a buffer cannot be had.
    uint32_t Load(VTQ_FILE *file, uint64_t file_size);

    uint32_t size() const { return count_; }
    const Entry &operator[](uint32_t i) const { return entries_.as<const Entry>()[i]; }
    uint32_t file_members() const { return file_members_; }

private:
    uint32_t Parse(uint64_t bytes_before);

    HostBuffer bytes_;   // the central directory
    HostBuffer entries_; // count_ entries
    uint32_t count_ = 0, file_members_ = 0;
    uint64_t start_ = 0; // file position of the central directory
};

// Marks, in entries[0..count), every file member whose place in the archive
// is wrong, and sets every entry's data_limit: a local header at or past
// directory_start, or a header and data (30 bytes plus the compressed size,
// the least it can take) that reach past it, "data runs past the end of the
// archive"; a local header at the same position as an earlier file member's
// in directory order, or one whose least extent reaches the next local
// header of the archive, "overlaps another member's data" (3100 both).  So
// no two members are read from the same bytes, and all members' data
// together is no larger than the archive.  Returns false when its scratch
// array cannot be had (nothing marked then).
bool CheckPlaces(Entry *entries, uint32_t count, uint64_t directory_start);

} // namespace vtq::ext

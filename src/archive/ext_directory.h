// ext_directory.h - the extended mode's central directory: found, read in
// pieces, parsed with bounds-checked reads, and every member's place in the
// archive checked
//
// The documented reader (central_dir.cpp) fetches 32-bit fields one byte at
// a time and trusts the end record.  The extended mode reads what common ZIP
// tools read: an end record anywhere in the largest-comment window, taken
// only when the directory it points to is really there; bytes in front of
// the archive; ZIP64 end records and extra fields, with every size and
// offset held in 64 bits.  The directory is read front to back in pieces of
// at most kDirectoryChunk bytes, never whole: the memory an archive takes
// does not grow with its member count beyond one position per member.
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
    // directory's buffer until the next entry is read; not NUL-terminated.
    const unsigned char *name = nullptr, *extra = nullptr;
    uint32_t name_len = 0, extra_len = 0;
    bool directory = false; // the name ends in "/"
    // Decided before the member is read: when refusal is not 0 the member
    // is refused with it (and reason) before anything of it is read.
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

// The most bytes one central entry takes is its 46-byte header and three
// fields of at most 65535 bytes each: a piece always holds a whole entry.
inline constexpr size_t kDirectoryChunk = 256 * 1024;

// Where members lie.  Every entry is placed: a local header at or past the
// directory's start, or a header and data (30 bytes plus the compressed
// size, the least it can take) that reach past it, "data runs past the end
// of the archive"; a local header at the same position as an earlier file
// member's in directory order, or one whose least extent reaches the next
// local header of the archive, "overlaps another member's data" (3100
// both).  Every entry's data_limit is the next local header after its own,
// or the directory.  So no two members are read from the same bytes, and
// all members' data together is no larger than the archive.
class Places {
public:
    // Room for count positions; false when it cannot be had.
    bool Reserve(uint32_t count);
    // Entry index of the directory (refusal and directory as parsed).
    void Add(const Entry &e, uint32_t index);
    // Sorts what was added and keeps, per position, its owner: the first
    // file member there in directory order that is not refused already.
    void Finish(uint64_t directory_start);
    // Applies the places to entry index (as Add saw it); false when its
    // position was never added.
    bool Apply(Entry *e, uint32_t index) const;

private:
    struct Run {
        uint64_t at;     // a local header position
        uint32_t owner;  // the entry that keeps it; UINT32_MAX: none
        uint32_t claims; // before Finish: 1 when owner's entry claims the position
    };
    HostBuffer runs_;
    uint32_t count_ = 0;
    uint64_t directory_start_ = 0;
};

// The central directory of one archive.
class Directory {
public:
    Directory() = default;
    Directory(const Directory &) = delete;
    Directory &operator=(const Directory &) = delete;
    // Finds the end record in the last 65535 + 22 bytes of the file (of
    // file_size bytes), nearest the end first, and takes the first one that
    // is consistent: its central directory (ZIP64 values when a locator and
    // a ZIP64 end record go with it) ends right before it and starts with a
    // central header, or is empty and the record's comment ends the file.
    // Bytes in front of the archive are what lies before the directory's
    // recorded offset.  Then reads the directory twice: once to check that
    // it parses to its end and count its entries, once to place them
    // (Places).  Returns 0; 2001 when the tail holds no end record; 3100
    // when none is consistent, or the directory does not parse to its end;
    // 25 when a read fails; 12 when a buffer cannot be had.
    uint32_t Load(VTQ_FILE *file, uint64_t file_size);
    uint32_t file_members() const { return file_members_; }
    // The next entry in directory order into *e, placed; its name and extra
    // field stay valid until the next call.  0 with *more false after the
    // last entry; 3100 when the directory no longer reads as it did when it
    // was loaded; 25 when a read fails.
    uint32_t Next(Entry *e, bool *more);

private:
    // Counts and places the entries (the first two readings).
    uint32_t Count();
    // Starts the entries over at the directory's first byte.
    void Rewind();
    // Parses the next entry into *e (not placed).  0, 3100 or 25.
    uint32_t Parse(Entry *e);
    // The next n bytes of the directory, valid until the next call; null
    // when fewer are left (*code 3100) or a read fails (*code 25).
    const unsigned char *Take(size_t n, uint32_t *code);

    VTQ_FILE *file_ = nullptr;
    uint64_t start_ = 0, size_ = 0, bytes_before_ = 0;
    HostBuffer buf_; // a piece of the directory
    size_t cap_ = 0, buf_at_ = 0, buf_len_ = 0;
    uint64_t read_ = 0; // bytes of the directory read into buf_ so far
    Places places_;
    uint32_t entries_ = 0, file_members_ = 0, next_ = 0;
};

} // namespace vtq::ext

// internal.h - pieces shared between the stand-in runtime's own files
//
// The memory-file store (store.cpp), the record of created objects
// (created.cpp) and the per-thread failure records (failures.cpp); see
// vtq/standin.h for what they mean to a caller.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "vtq/standin.h"

namespace vtq::oscomm {

// The most bytes one write system call is given.  A member of tens of MiB
// written in one call took about twice as long as in pieces of this size
// (page cache and memory files alike), whose source stays in cache while
// the kernel copies it.
inline constexpr size_t kWritePiece = size_t{1} << 20;

// ------------------------------------------------------------- memory files

// Every memory file's name starts with this; nothing can be made under it
// on disk (procfs refuses new entries).
inline constexpr char kStorePrefix[] = "/proc/self/vtqmem/";

inline bool is_store_path(const char *path) {
    return path != nullptr && __builtin_strncmp(path, kStorePrefix, sizeof kStorePrefix - 1) == 0;
}

// The bytes of one memory file.  Small files live in one block from
// mem_alloc; a file that reaches kSpillAt bytes moves into an anonymous
// memory file descriptor (memfd), whose pages count against the process
// only while they are mapped, as a tmpfs file's did.  Not locked: one
// thread uses a file at a time.
class MemFile {
public:
    MemFile() = default;
    MemFile(const MemFile &) = delete;
    MemFile &operator=(const MemFile &) = delete;
    ~MemFile() { truncate(); }

    uint64_t size() const { return size_; }
    // A write failed since the file was last emptied: its bytes are not
    // what the writers meant.
    bool damaged() const { return damaged_; }
    // Copies up to n bytes from pos on; the count (short at the end of the
    // file), or -1 with errno set.
    // Small reads of a memfd map it first (view()): the filter reads a
    // nested archive's headers a few bytes at a time.
    ptrdiff_t read_at(uint64_t pos, void *dst, size_t n);
    // Writes all n bytes at pos, filling a gap with zeros.  False with
    // errno set (EFBIG past the allocation cap, ENOMEM, or the memfd's
    // error), and the file marked damaged.
    bool write_at(uint64_t pos, const void *src, size_t n);
    // Empties the file and clears the damage mark.
    void truncate();
    // size() bytes, valid until the next write_at or truncate; null with
    // errno set when they cannot be mapped.
    const unsigned char *view();
    // Makes block (n bytes from mem_alloc) the content of an empty file,
    // which then owns it; false, block untouched, when the file holds
    // anything.
    bool adopt(unsigned char *block, size_t n);
    // The bytes live in the heap, not in a memfd: a view costs nothing.
    bool in_heap() const { return fd_ < 0; }

private:
    bool reserve(size_t end);
    bool spill();
    // Writes the pending appends into the memfd; false (file damaged) when
    // that failed.
    bool flush_tail();

    unsigned char *heap_ = nullptr; // from mem_alloc, cap_ bytes
    size_t cap_ = 0;
    int fd_ = -1;         // the memfd, once spilled
    void *map_ = nullptr; // view() of the memfd
    size_t map_len_ = 0;
    unsigned small_reads_ = 0; // read_at calls for a few bytes, unmapped
    bool sealed_ = false;      // the memfd can no longer shrink
    // Small appends to a spilled file, not yet in the memfd: the last
    // tail_len_ bytes of the file.  A nested level's output grows by
    // labels and line breaks of a few bytes each, a system call apiece.
    unsigned char *tail_ = nullptr; // from mem_alloc, kTailSize bytes
    size_t tail_len_ = 0;
    uint64_t size_ = 0;
    bool damaged_ = false;
};

// The file named path, or null (errno ENOENT).  With create, a missing one
// is made; with truncate an existing one is emptied.  ENOMEM when no room.
std::shared_ptr<MemFile> store_open(const char *path, bool create, bool truncate);
// Drops the name; handles still open keep the bytes until they close.
// 0, or -1 with errno ENOENT.
int store_remove(const char *path);

// ---------------------------------------------------------- created objects

// Creates the regular file path exclusively (flags | O_CREAT | O_EXCL |
// O_NOFOLLOW | O_CLOEXEC, mode 0666 less the umask) and records it for the
// calling thread, both under the record's lock.  The descriptor, or -1
// with errno (EINTR once creation is stopped).
int create_file(const char *path, int flags);
// mkdir(path, 0777) and the record, the same way.  0 or -1 with errno.
int create_dir(const char *path);
// True when the open descriptor fd is a regular file or a directory that
// this process created and still records.
bool is_created(int fd);
// Records the object at path (not following a link) as made by the
// calling thread.  False (nothing recorded) for anything but a regular
// file or a directory, or when it cannot be examined or recorded.
bool record_created(const char *path);
// Removes path (unlink, or rmdir with dir) when it shows, without a link
// followed, an object that is recorded, of that type, and forgets it.  0, or -1 with errno:
// EPERM when the object is not ours, else the system's reason.
int remove_created(const char *path, bool dir);

// ---------------------------------------------------------- failure records

// Records a failure of kind (VTQ_HOST_FAIL_*) for the calling thread, and
// for VTQ_HOST_FAIL_WRITE also as its write failure unless one is held.
// Leaves errno = err, so a caller can return right after.
void record_failure(uint32_t kind, const char *op, const char *path, int err);

} // namespace vtq::oscomm

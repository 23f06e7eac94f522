// store.cpp - memory files: the stand-in runtime's temporary files
//
// The filter extracts every compose-mode member into a file named by
// VTQ_ASC_tmpnam, hands it to the host and removes it.  Those files live
// here, in the process: no directory to share with other users, nothing to
// plant or race, no TMPDIR to fill, nothing left behind by a crash, and no
// system call for the many small members of a large archive.
//
// Large files move into a memfd.  A block of the heap would be resident
// twice while the filter writes a member from its own buffer into it (the
// buffer and the copy); the memfd's pages are the kernel's until the text
// extraction maps them, just after the filter has let its buffer go, so a
// member costs its size once, as a tmpfs file did.  The memfd is sealed
// against shrinking before it is mapped: no one can truncate it under the
// mapping (and raise SIGBUS), not even through /proc.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <unordered_map>

#include "host/oscomm/internal.h"
#include "host/oscomm/oscomm.h"

namespace vtq::oscomm {

namespace {

// From this size on a file's bytes live in a memfd.  Below it a copy
// costs less than the descriptor, the writes and the mapping.
constexpr size_t kSpillAt = size_t{1} << 20;
// Appends to a spilled file of less than this are gathered (tail_).
constexpr size_t kTailSize = 64 * 1024;
// Small reads of a memfd after which it is mapped (read_at).
constexpr unsigned kSmallReadsBeforeMap = 8;
// The caller's buffer for a temporary name.
constexpr size_t kNameBuf = 4096;

struct Store {
    std::mutex lock;
    std::unordered_map<std::string, std::shared_ptr<MemFile>> files;
};

// Never destroyed: worker threads may still use it while the process exits.
Store &store() {
    static Store *s = new Store;
    return *s;
}

std::atomic<uint64_t> g_next_name{1};

bool WriteAllAt(int fd, const unsigned char *p, size_t n, uint64_t pos) {
    while (n > 0) {
        const ssize_t w = ::pwrite(fd, p, std::min(n, kWritePiece), static_cast<off_t>(pos));
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
            if (w == 0) errno = ENOSPC;
            return false;
        }
        p += w;
        n -= static_cast<size_t>(w);
        pos += static_cast<uint64_t>(w);
    }
    return true;
}

} // namespace

ptrdiff_t MemFile::read_at(uint64_t pos, void *dst, size_t n) {
    if (pos >= size_) return 0;
    n = static_cast<size_t>(std::min<uint64_t>(n, size_ - pos));
    if (fd_ < 0) {
        std::memcpy(dst, heap_ + pos, n);
        return static_cast<ptrdiff_t>(n);
    }
    // The part of the request that lies in the pending appends.
    const uint64_t in_fd = size_ - tail_len_;
    if (pos + n > in_fd) {
        const size_t from = pos > in_fd ? static_cast<size_t>(pos - in_fd) : 0;
        const size_t len = static_cast<size_t>(pos + n - in_fd) - from;
        std::memcpy(static_cast<unsigned char *>(dst) + (n - len), tail_ + from, len);
        n -= len;
        if (n == 0) return static_cast<ptrdiff_t>(len);
        const ptrdiff_t head = read_at(pos, dst, n);
        return head == static_cast<ptrdiff_t>(n) ? static_cast<ptrdiff_t>(n + len) : head;
    }
    // A nested archive is walked by the filter a few bytes per read: a
    // system call per read made archives of many small members inside
    // another take 25 times as long per member.  A few small reads (a
    // look at the first bytes) and large ones (a member copied whole)
    // leave the file unmapped.
    if (map_ == nullptr && n < kTailSize && ++small_reads_ > kSmallReadsBeforeMap) (void)view();
    if (map_ != nullptr && pos + n <= map_len_) {
        std::memcpy(dst, static_cast<const unsigned char *>(map_) + pos, n);
        return static_cast<ptrdiff_t>(n);
    }
    size_t done = 0;
    while (done < n) {
        const ssize_t r = ::pread(fd_, static_cast<unsigned char *>(dst) + done, n - done,
                                  static_cast<off_t>(pos + done));
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return done > 0 ? static_cast<ptrdiff_t>(done) : -1;
        if (r == 0) break;
        done += static_cast<size_t>(r);
    }
    return static_cast<ptrdiff_t>(done);
}

// Room for end bytes in the heap block: exactly end for a first write (a
// member arrives in one), else doubling, never past the cap or kSpillAt.
bool MemFile::reserve(size_t end) {
    if (end <= cap_) return true;
    size_t want = cap_ == 0 ? end : std::max(end, std::min(cap_ * 2, kSpillAt));
    if (want > kUncappedAlloc) want = std::min(want, std::max(end, alloc_cap()));
    auto *grown = static_cast<unsigned char *>(mem_alloc(want));
    if (grown == nullptr) {
        errno = ENOMEM;
        return false;
    }
    if (size_ > 0) std::memcpy(grown, heap_, size_);
    mem_free(heap_);
    heap_ = grown;
    cap_ = want;
    return true;
}

// Moves the bytes from the heap into a fresh memfd.
bool MemFile::spill() {
    const int fd = ::memfd_create("vtq-store", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (fd < 0) return false;
    if (size_ > 0 && !WriteAllAt(fd, heap_, size_, 0)) {
        const int err = errno;
        ::close(fd);
        errno = err;
        return false;
    }
    mem_free(heap_);
    heap_ = nullptr;
    cap_ = 0;
    fd_ = fd;
    return true;
}

bool MemFile::write_at(uint64_t pos, const void *src, size_t n) {
    if (n == 0) return true;
    // A file of 4 KiB or less is within any cap (see mem_alloc).
    const size_t cap =
        pos <= kUncappedAlloc && n <= kUncappedAlloc - pos ? kUncappedAlloc : alloc_cap();
    bool ok;
    if (pos > cap || n > cap - pos) {
        errno = EFBIG;
        ok = false;
    } else if (const size_t end = static_cast<size_t>(pos) + n; fd_ < 0 && end < kSpillAt) {
        ok = reserve(end);
        if (ok) {
            if (pos > size_) std::memset(heap_ + size_, 0, static_cast<size_t>(pos - size_));
            std::memcpy(heap_ + pos, src, n);
            size_ = std::max<uint64_t>(size_, end);
        }
    } else if (fd_ >= 0 && pos == size_ && n < kTailSize &&
               (tail_ != nullptr || (tail_ = static_cast<unsigned char *>(mem_alloc(kTailSize))))) {
        ok = tail_len_ + n <= kTailSize || flush_tail();
        if (ok) {
            std::memcpy(tail_ + tail_len_, src, n);
            tail_len_ += n;
            size_ = end;
        }
    } else {
        ok = (fd_ >= 0 || spill()) && flush_tail() &&
             WriteAllAt(fd_, static_cast<const unsigned char *>(src), n, pos);
        if (ok) size_ = std::max<uint64_t>(size_, end);
    }
    if (!ok) damaged_ = true;
    return ok;
}

bool MemFile::flush_tail() {
    if (tail_len_ == 0) return true;
    const bool ok = WriteAllAt(fd_, tail_, tail_len_, size_ - tail_len_);
    tail_len_ = 0;
    if (!ok) damaged_ = true;
    return ok;
}

void MemFile::truncate() {
    if (map_ != nullptr) ::munmap(map_, map_len_);
    mem_free(tail_);
    tail_ = nullptr;
    tail_len_ = 0;
    if (fd_ >= 0) ::close(fd_); // a sealed memfd cannot shrink: the next spill makes a new one
    mem_free(heap_);
    heap_ = nullptr;
    cap_ = 0;
    fd_ = -1;
    map_ = nullptr;
    map_len_ = 0;
    sealed_ = false;
    small_reads_ = 0;
    size_ = 0;
    damaged_ = false;
}

bool MemFile::adopt(unsigned char *block, size_t n) {
    if (size_ != 0 || fd_ >= 0 || damaged_) return false;
    mem_free(heap_);
    heap_ = block;
    cap_ = n;
    size_ = n;
    return true;
}

const unsigned char *MemFile::view() {
    static const unsigned char kEmpty[1] = {0};
    if (fd_ < 0) return heap_ != nullptr ? heap_ : kEmpty;
    if (!flush_tail()) return nullptr;
    if (!sealed_) {
        if (::fcntl(fd_, F_ADD_SEALS, F_SEAL_SHRINK) != 0) return nullptr;
        sealed_ = true;
    }
    if (map_ != nullptr && map_len_ == size_) return static_cast<unsigned char *>(map_);
    if (map_ != nullptr) ::munmap(map_, map_len_);
    map_ = nullptr;
    map_len_ = 0;
    if (size_ == 0) return kEmpty;
    void *m = ::mmap(nullptr, static_cast<size_t>(size_), PROT_READ, MAP_SHARED, fd_, 0);
    if (m == MAP_FAILED) return nullptr;
    map_ = m;
    map_len_ = static_cast<size_t>(size_);
    return static_cast<unsigned char *>(m);
}

std::shared_ptr<MemFile> store_open(const char *path, bool create, bool truncate) {
    Store &s = store();
    try {
        std::lock_guard<std::mutex> hold(s.lock);
        auto it = s.files.find(path);
        if (it == s.files.end()) {
            if (!create) {
                errno = ENOENT;
                return nullptr;
            }
            it = s.files.emplace(path, std::make_shared<MemFile>()).first;
        } else if (truncate) {
            it->second->truncate();
        }
        return it->second;
    } catch (const std::bad_alloc &) {
        errno = ENOMEM;
        return nullptr;
    }
}

int store_remove(const char *path) {
    Store &s = store();
    std::shared_ptr<MemFile> gone; // released after the lock
    std::lock_guard<std::mutex> hold(s.lock);
    auto it = s.files.find(path);
    if (it == s.files.end()) {
        errno = ENOENT;
        return -1;
    }
    gone = std::move(it->second);
    s.files.erase(it);
    return 0;
}

// "/proc/self/vtqmem/<n>", n from a process-wide counter: unique for the
// life of the process, and nothing to reserve.  Returns buf (never fails
// for a buffer of 4096 bytes); null for a null buffer.
char *tmp_name(char *buf) {
    if (buf == nullptr) return nullptr;
    // Formed by hand: snprintf was a tenth of the hand-off of a small member.
    const size_t prefix = std::strlen(kStorePrefix);
    std::memcpy(buf, kStorePrefix, prefix);
    char *end = std::to_chars(buf + prefix, buf + kNameBuf - 1,
                              g_next_name.fetch_add(1, std::memory_order_relaxed))
                    .ptr;
    *end = '\0';
    return buf;
}

// The same: a memory file has no directory, so the parent's output path
// does not place it.
char *tmp_name_in(const ParentInfo * /*parent*/, char *buf) { return tmp_name(buf); }

int store_view(const char *path, const unsigned char **data, uint64_t *size) {
    if (!is_store_path(path) || data == nullptr || size == nullptr) return 0;
    std::shared_ptr<MemFile> f = store_open(path, false, false);
    if (!f) return 0;
    const unsigned char *bytes = f->view();
    if (bytes == nullptr) return 0;
    *data = bytes;
    *size = f->size();
    return f->damaged() ? -1 : 1;
}

int store_state(const char *path) {
    if (!is_store_path(path)) return 0;
    std::shared_ptr<MemFile> f = store_open(path, false, false);
    if (!f) return 0;
    if (f->damaged()) return -1;
    return f->in_heap() ? 2 : 1;
}

} // namespace vtq::oscomm

// files.cpp - file handles, sizes and path splitting of the stand-in runtime
//
// A VTQ_FILE is a descriptor with buffers of its own, read and written at
// explicit offsets (pread, pwrite), so that a seek is only a number.  The
// filter reads ZIP headers one byte per call and jumps between the central
// directory and each member's local header and data; with stdio every such
// jump cost a seek and a refill, two system calls per header.  Here a
// handle keeps two read windows of kWindow bytes, one of which usually
// holds the central directory and the other the local headers and data
// that follow each other through the archive, and a request of a window's
// size or more goes straight into the caller's buffer.  Writes are
// gathered in a buffer of the same size and go out directly when they are
// large, so a member file is written with one system call.
//
// What the callers see is what stdio gave them: whole items counted, the
// position moved by the bytes transferred, seeks past the end allowed,
// buffered writes visible to reads and size queries on the same handle,
// and a failed flush reported by the close.  (A size query no longer
// flushes, so it cannot report a failed flush as stdio's did.)
//
// Where stdio is not followed: a file on disk is never created through
// what was there before.  "w" modes create exclusively and never follow a
// symbolic link; an existing file may be emptied only when this process
// created it through the host (created.cpp).  "r" modes open regular files
// only, so a FIFO or a device given as an archive fails at once instead of
// blocking.  A memory file (store.cpp) gets a handle of the same kind,
// without descriptor or buffers.  Every failure is recorded (failures.cpp).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "host/oscomm/internal.h"
#include "host/oscomm/oscomm.h"

namespace {

constexpr size_t kWindow = 64 * 1024;
constexpr int64_t kWindowAlign = 4096;
constexpr int kWindows = 2;

// A span of the file as it was read: [start, start + len).
struct Window {
    std::unique_ptr<unsigned char[]> data;
    int64_t start = 0;
    size_t len = 0;
    uint64_t used = 0; // last use, for replacing the least recently used
    bool Holds(int64_t pos) const {
        return len > 0 && pos >= start && static_cast<uint64_t>(pos - start) < len;
    }
};

} // namespace

struct VTQ_File {
    int fd = -1;
    std::shared_ptr<vtq::oscomm::MemFile> mem; // a memory file: no fd, no buffers
    std::string path;                          // as opened, for failure records
    bool can_read = false;
    bool can_write = false;
    bool append = false;
    int64_t pos = 0;   // where the next read or write starts
    uint64_t tick = 0; // use counter for the windows
    Window windows[kWindows];
    std::unique_ptr<unsigned char[]> out; // pending writes, kWindow bytes
    size_t out_len = 0;                   // bytes pending, written at out_pos
    int64_t out_pos = 0;
    bool write_failed = false; // a write or flush failed; close reports it
    // The file's size as this handle made it, for a file it emptied when it
    // opened it ("w" modes): the end of the furthest write.  -1 when the
    // size must be asked of the system.
    int64_t made_size = -1;
};

namespace vtq::oscomm {

namespace {

// Writes n bytes at offset (or at the end in append mode).  Returns how
// many got there: all of them unless the system refused some.
size_t WriteAt(VTQ_FILE *f, const unsigned char *p, size_t n, int64_t offset) {
    size_t done = 0;
    while (done < n) {
        const size_t piece = std::min(n - done, kWritePiece);
        const ssize_t w =
            f->append ? ::write(f->fd, p + done, piece)
                      : ::pwrite(f->fd, p + done, piece, offset + static_cast<int64_t>(done));
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
            if (w == 0) errno = ENOSPC;
            break;
        }
        done += static_cast<size_t>(w);
    }
    return done;
}

// Records a lost write on f: close will report it.
void WriteFailed(VTQ_FILE *f, int err) {
    f->write_failed = true;
    record_failure(VTQ_HOST_FAIL_WRITE, "write", f->path.c_str(), err);
}

void ReadFailed(VTQ_FILE *f, const char *op, int err) {
    record_failure(VTQ_HOST_FAIL_READ, op, f->path.c_str(), err);
}

// Sends the pending writes to the file.  False when that failed; the bytes
// are dropped either way, as stdio drops them, and the close reports it.
bool Flush(VTQ_FILE *f) {
    if (f->out_len == 0) return true;
    const bool ok = WriteAt(f, f->out.get(), f->out_len, f->out_pos) == f->out_len;
    f->out_len = 0;
    if (!ok) {
        WriteFailed(f, errno);
        f->made_size = -1; // some bytes never got there: ask the system
    }
    return ok;
}

// Reads up to n bytes at offset; the count read (short only at the end of
// the file), or -1 on an error with nothing counted.
ssize_t ReadAt(int fd, unsigned char *p, size_t n, int64_t offset) {
    size_t done = 0;
    while (done < n) {
        const ssize_t r = ::pread(fd, p + done, n - done, offset + static_cast<int64_t>(done));
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return done > 0 ? static_cast<ssize_t>(done) : -1;
        if (r == 0) break;
        done += static_cast<size_t>(r);
    }
    return static_cast<ssize_t>(done);
}

// The window to refill: an unused one, else the least recently used.
Window &Victim(VTQ_FILE *f) {
    Window *best = &f->windows[0];
    for (Window &w : f->windows) {
        if (w.len == 0) return w;
        if (w.used < best->used) best = &w;
    }
    return *best;
}

void DropWindows(VTQ_FILE *f) {
    for (Window &w : f->windows) w.len = 0;
}

// A stdio mode: 'r', 'w' or 'a', '+' for both directions, 'x' for a "w"
// that must create (no emptying of our own file either); 'b' and 'e'
// change nothing.
struct Mode {
    char kind;
    bool plus = false;
    bool excl = false;
};

bool ParseMode(const char *mode, Mode *m, VTQ_FILE *f) {
    m->kind = mode[0];
    for (const char *c = mode + 1; *c != '\0'; ++c) {
        if (*c == '+') m->plus = true;
        if (*c == 'x') m->excl = true;
    }
    if (m->kind != 'r' && m->kind != 'w' && m->kind != 'a') return false;
    f->can_read = m->kind == 'r' || m->plus;
    f->can_write = m->kind != 'r' || m->plus;
    f->append = m->kind == 'a';
    if (m->kind == 'w') f->made_size = 0;
    return true;
}

// The errno for an object that is not the regular file wanted.
int NotRegular(const struct stat &sb) {
    if (S_ISDIR(sb.st_mode)) return EISDIR;
    if (S_ISLNK(sb.st_mode)) return ELOOP;
    return EINVAL;
}

// Opens an existing regular file: O_NONBLOCK and O_NOCTTY for the open
// itself, so that a FIFO put in its place cannot block and a terminal is
// never taken over, then checked with fstat and made blocking again.  The
// path is looked at first, so that a device is not even opened (opening
// some does something).  -1 with errno: the system's, or NotRegular's.
int OpenRegular(const char *path, int flags, bool follow) {
    struct stat sb;
    if ((follow ? ::stat(path, &sb) : ::lstat(path, &sb)) == 0 && !S_ISREG(sb.st_mode)) {
        errno = NotRegular(sb);
        return -1;
    }
    const int fd =
        ::open(path, flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (follow ? 0 : O_NOFOLLOW));
    if (fd < 0) return -1;
    int err = 0;
    if (::fstat(fd, &sb) != 0)
        err = errno;
    else if (!S_ISREG(sb.st_mode))
        err = NotRegular(sb);
    else if (::fcntl(fd, F_SETFL, flags & O_APPEND) != 0)
        err = errno;
    if (err == 0) return fd;
    ::close(fd);
    errno = err;
    return -1;
}

// A "w" open of a path that exists: allowed only for a regular file that
// this process created, which is then emptied.  The open never follows a
// link, and what it reached is checked, not what lstat saw before it.  -1
// with errno (EEXIST for anything that is not ours).
int ReopenOwn(const char *path, int flags) {
    struct stat seen;
    if (::lstat(path, &seen) != 0) return -1;
    if (!S_ISREG(seen.st_mode)) { // a device is not even opened
        errno = EEXIST;
        return -1;
    }
    const int fd = ::open(path, flags | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return -1;
    int err = 0;
    if (!is_created(fd))
        err = EEXIST;
    else if (::ftruncate(fd, 0) != 0 || ::fcntl(fd, F_SETFL, 0) != 0)
        err = errno;
    if (err == 0) return fd;
    ::close(fd);
    errno = err;
    return -1;
}

// Sets f->fd for a file on disk.  False with errno.
bool OpenOnDisk(VTQ_FILE *f, const char *path, const Mode &m) {
    const int access = f->can_read && f->can_write ? O_RDWR : f->can_read ? O_RDONLY : O_WRONLY;
    if (m.kind == 'r') {
        // An archive may well be reached through a link: "r" follows.
        f->fd = OpenRegular(path, access, true);
        return f->fd >= 0;
    }
    const int flags = access | (m.kind == 'a' ? O_APPEND : 0);
    f->fd = create_file(path, flags);
    if (f->fd < 0 && errno == EEXIST) {
        if (m.kind == 'a')
            f->fd = OpenRegular(path, flags, false);
        else if (!m.excl)
            f->fd = ReopenOwn(path, flags);
    }
    if (f->fd < 0) return false;
    if (f->append) {
        struct stat sb;
        if (::fstat(f->fd, &sb) == 0) f->pos = sb.st_size;
    }
    return true;
}

// Sets f->mem for a memory file: "r" needs it to exist, "w" makes or
// empties it, "a" makes it when missing.  False with errno.
bool OpenInMemory(VTQ_FILE *f, const char *path, const Mode &m) {
    f->mem = store_open(path, m.kind != 'r', m.kind == 'w');
    if (!f->mem) return false;
    if (f->append) f->pos = static_cast<int64_t>(f->mem->size());
    return true;
}

} // namespace

// Opens path with a stdio mode ("rb", "wb", "wb+", "ab", ...; see the file
// comment for what differs from stdio on disk, and Mode for 'x').  The
// descriptor is close-on-exec so that a host running child processes on
// other threads does not leak it into them.  Returns null when the file
// cannot be opened, the mode is not one stdio knows, or the record cannot
// be allocated; nothing stays open then, errno says why and the failure is
// recorded ("open" for "r" modes, else "create").
VTQ_FILE *file_open(const char *path, const char *mode) {
    if (path == nullptr || mode == nullptr || mode[0] == '\0') {
        record_failure(VTQ_HOST_FAIL_OPEN, "open", path, EINVAL);
        return nullptr;
    }
    const char *op = mode[0] == 'r' ? "open" : "create";
    std::unique_ptr<VTQ_FILE> f(new (std::nothrow) VTQ_FILE);
    if (!f) {
        record_failure(VTQ_HOST_FAIL_OPEN, op, path, ENOMEM);
        return nullptr;
    }
    Mode m{};
    bool ok = ParseMode(mode, &m, f.get());
    if (!ok) errno = EINVAL;
    try {
        if (ok) f->path = path;
    } catch (const std::bad_alloc &) {
        ok = false;
        errno = ENOMEM;
    }
    if (ok)
        ok = is_store_path(path) ? OpenInMemory(f.get(), path, m) : OpenOnDisk(f.get(), path, m);
    if (!ok) {
        record_failure(VTQ_HOST_FAIL_OPEN, op, path, errno);
        return nullptr;
    }
    return f.release();
}

// Closes and frees the handle; null is accepted.  0, or -1 when a write,
// a flush or the close itself failed (the handle is gone either way).  A
// failed close of a handle that could write is recorded: with NFS and the
// like, that is where a full disk shows.
int file_close(VTQ_FILE *file) {
    if (file == nullptr) return 0;
    bool ok = !file->write_failed;
    if (!file->mem) {
        ok = Flush(file) && ok;
        if (::close(file->fd) != 0) {
            if (file->can_write)
                record_failure(VTQ_HOST_FAIL_WRITE, "close", file->path.c_str(), errno);
            ok = false;
        }
    }
    delete file;
    return ok ? 0 : -1;
}

// Whole items read.  A request of 0 items (or of 0-byte items) reads
// nothing and reports 0, which callers take as a failed read.  The
// position moves by every byte read, also those of a last partial item.
// A read that ends early at the end of the file is no failure to record.
size_t file_read(void *buf, size_t size, size_t count, VTQ_FILE *file) {
    if (file == nullptr || buf == nullptr || size == 0 || count == 0 || !file->can_read) return 0;
    if (count > SIZE_MAX / size) {
        ReadFailed(file, "read", EOVERFLOW);
        return 0;
    }
    auto *dst = static_cast<unsigned char *>(buf);
    const size_t want = size * count;
    if (file->mem) {
        const ptrdiff_t r = file->mem->read_at(static_cast<uint64_t>(file->pos), dst, want);
        if (r < 0) {
            ReadFailed(file, "read", errno);
            return 0;
        }
        file->pos += r;
        return static_cast<size_t>(r) / size;
    }
    if (want == 1 && file->out_len == 0) {
        // The filter's header fields, a byte per call: straight from the
        // window that holds it (the last one, as the loop below takes).
        Window *hit = nullptr;
        for (Window &w : file->windows)
            if (w.Holds(file->pos)) hit = &w;
        if (hit != nullptr) {
            *dst = hit->data[static_cast<size_t>(file->pos - hit->start)];
            hit->used = ++file->tick;
            ++file->pos;
            return 1;
        }
    }
    if (!Flush(file)) return 0;
    size_t done = 0;
    while (done < want) {
        Window *hit = nullptr;
        for (Window &w : file->windows)
            if (w.Holds(file->pos)) hit = &w;
        if (hit != nullptr) {
            const auto at = static_cast<size_t>(file->pos - hit->start);
            const size_t n = hit->len - at < want - done ? hit->len - at : want - done;
            std::memcpy(dst + done, hit->data.get() + at, n);
            hit->used = ++file->tick;
            done += n;
            file->pos += static_cast<int64_t>(n);
            continue;
        }
        if (want - done >= kWindow) {
            // Large requests bypass the windows.
            const ssize_t r = ReadAt(file->fd, dst + done, want - done, file->pos);
            if (r > 0) {
                done += static_cast<size_t>(r);
                file->pos += r;
            } else if (r < 0) {
                ReadFailed(file, "read", errno);
            }
            break;
        }
        Window &w = Victim(file);
        if (!w.data) {
            w.data.reset(new (std::nothrow) unsigned char[kWindow]);
            if (!w.data) {
                ReadFailed(file, "read", ENOMEM);
                break;
            }
        }
        w.start = file->pos - file->pos % kWindowAlign;
        const ssize_t r = ReadAt(file->fd, w.data.get(), kWindow, w.start);
        if (r < 0) ReadFailed(file, "read", errno);
        w.len = r > 0 ? static_cast<size_t>(r) : 0;
        if (!w.Holds(file->pos)) {
            w.len = 0;
            break; // the end of the file, or an error
        }
    }
    return done / size;
}

// A memory file just opened for writing takes the block itself: the
// member the filter decoded becomes the file without a copy.
int file_adopt(VTQ_FILE *file, void *block, uint64_t size) {
    if (file == nullptr || block == nullptr || size == 0 || !file->mem || !file->can_write ||
        file->pos != 0 || size > SIZE_MAX)
        return 0;
    if (!file->mem->adopt(static_cast<unsigned char *>(block), static_cast<size_t>(size))) return 0;
    file->pos = static_cast<int64_t>(size);
    return 1;
}

// Whole items written: all of them, unless the system refused some of a
// write that went out at once.  Small writes are gathered and go out when
// the buffer is full, before a read, a size query or a seek to the end, and
// at the close, which reports a failure then.  A memory file takes all or
// nothing: a write past the allocation cap writes nothing.  Every byte the
// file refused is recorded as a lost write (a handle opened only for
// reading takes nothing, as with stdio, and loses nothing).
size_t file_write(const void *buf, size_t size, size_t count, VTQ_FILE *file) {
    if (file == nullptr || buf == nullptr || size == 0 || count == 0 || !file->can_write) return 0;
    if (count > SIZE_MAX / size) {
        WriteFailed(file, EOVERFLOW);
        return 0;
    }
    const auto *src = static_cast<const unsigned char *>(buf);
    const size_t n = size * count;
    if (file->mem) {
        if (file->append) file->pos = static_cast<int64_t>(file->mem->size());
        if (!file->mem->write_at(static_cast<uint64_t>(file->pos), src, n)) {
            WriteFailed(file, errno);
            return 0;
        }
        file->pos += static_cast<int64_t>(n);
        return count;
    }
    DropWindows(file);
    // Pending bytes must be continued by these, else go out first.
    if (file->out_len > 0 && (file->out_pos + static_cast<int64_t>(file->out_len) != file->pos ||
                              n > kWindow - file->out_len))
        Flush(file);
    if (!file->out && n < kWindow) file->out.reset(new (std::nothrow) unsigned char[kWindow]);
    size_t taken = n; // written, or gathered to go out later
    if (n >= kWindow || !file->out) {
        taken = WriteAt(file, src, n, file->pos);
        if (taken < n) WriteFailed(file, errno);
    } else {
        if (file->out_len == 0) file->out_pos = file->pos;
        std::memcpy(file->out.get() + file->out_len, src, n);
        file->out_len += n;
    }
    file->pos += static_cast<int64_t>(taken);
    if (file->made_size >= 0 && file->pos > file->made_size) file->made_size = file->pos;
    return taken / size;
}

// origin: 0 from the start, 1 from the current position, 2 from the end
// (the stdio values).  0 on success, -1 on failure (a negative result
// included).  Nothing is read or written: the next transfer starts there.
int file_seek(VTQ_FILE *file, int64_t pos, int origin) {
    if (file == nullptr) return -1;
    int64_t base = 0;
    if (origin == 1) {
        base = file->pos;
    } else if (origin == 2 && file->mem) {
        base = static_cast<int64_t>(file->mem->size());
    } else if (origin == 2) {
        if (!Flush(file)) return -1;
        struct stat sb;
        if (::fstat(file->fd, &sb) != 0) {
            ReadFailed(file, "seek", errno);
            return -1;
        }
        base = sb.st_size;
    } else if (origin != 0) {
        ReadFailed(file, "seek", EINVAL);
        return -1;
    }
    if ((pos > 0 && base > INT64_MAX - pos) || base + pos < 0) {
        ReadFailed(file, "seek", EINVAL);
        return -1;
    }
    file->pos = base + pos;
    return 0;
}

// The size from fstat, with the bytes still waiting in the write buffer
// counted where they will land, so that a file being written reports what
// was written to it; nothing is flushed and the position is never moved.
// A file this handle emptied when it opened it has the size its writes
// gave it, known without a system call: the text extraction asks for the
// output's size before every member.
int64_t file_tell_size(VTQ_FILE *file) {
    if (file == nullptr) return -1;
    if (file->mem) return static_cast<int64_t>(file->mem->size());
    if (file->made_size >= 0) return file->made_size;
    struct stat sb;
    if (::fstat(file->fd, &sb) != 0) {
        ReadFailed(file, "size", errno);
        return -1;
    }
    int64_t size = sb.st_size;
    if (file->out_len > 0) {
        const auto pending = static_cast<int64_t>(file->out_len);
        if (file->append)
            size += pending;
        else if (file->out_pos + pending > size)
            size = file->out_pos + pending;
    }
    return size;
}

// Size of what path names (following a symbolic link, as opening it would);
// -1 when it does not exist or cannot be examined.  A question, not an
// operation: nothing is recorded.
int64_t file_size_by_path(const char *path) {
    if (is_store_path(path)) {
        std::shared_ptr<MemFile> f = store_open(path, false, false);
        return f ? static_cast<int64_t>(f->size()) : -1;
    }
    struct stat sb;
    if (path == nullptr || stat(path, &sb) != 0) return -1;
    return static_cast<int64_t>(sb.st_size);
}

// Index of the last '/', 0 when there is none (so "/x" and "x" both give 0).
int32_t path_break(const char *path) {
    if (path == nullptr) return 0;
    const char *slash = std::strrchr(path, '/');
    return slash == nullptr ? 0 : static_cast<int32_t>(slash - path);
}

int write_stream(VTQ_STREAM *stream, uint32_t len, const void *buf) {
    if (stream == nullptr || stream->Write == nullptr) return -1;
    if (len == 0) return 0;
    stream->Write(stream->User, buf, len);
    return 0;
}

} // namespace vtq::oscomm

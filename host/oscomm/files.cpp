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
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <new>

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
    bool can_read = false;
    bool can_write = false;
    bool append = false;
    int64_t pos = 0;       // where the next read or write starts
    uint64_t tick = 0;     // use counter for the windows
    Window windows[kWindows];
    std::unique_ptr<unsigned char[]> out; // pending writes, kWindow bytes
    size_t out_len = 0;                   // bytes pending, written at out_pos
    int64_t out_pos = 0;
    bool write_failed = false; // a flush failed; close reports it
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
        const ssize_t w = f->append ? ::write(f->fd, p + done, n - done)
                                    : ::pwrite(f->fd, p + done, n - done,
                                               offset + static_cast<int64_t>(done));
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) break;
        done += static_cast<size_t>(w);
    }
    return done;
}

// Sends the pending writes to the file.  False when that failed; the bytes
// are dropped either way, as stdio drops them, and the close reports it.
bool Flush(VTQ_FILE *f) {
    if (f->out_len == 0) return true;
    const bool ok = WriteAt(f, f->out.get(), f->out_len, f->out_pos) == f->out_len;
    f->out_len = 0;
    if (!ok) {
        f->write_failed = true;
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

// Parses a stdio mode into open(2) flags; false for a mode stdio refuses.
bool ModeFlags(const char *mode, int *flags, VTQ_FILE *f) {
    bool plus = false, excl = false;
    for (const char *c = mode + 1; *c != '\0'; ++c) {
        if (*c == '+') plus = true;
        if (*c == 'x') excl = true;
    }
    switch (mode[0]) {
    case 'r':
        *flags = plus ? O_RDWR : O_RDONLY;
        f->can_read = true;
        f->can_write = plus;
        break;
    case 'w':
        *flags = (plus ? O_RDWR : O_WRONLY) | O_CREAT | O_TRUNC;
        f->can_read = plus;
        f->can_write = true;
        f->made_size = 0;
        break;
    case 'a':
        *flags = (plus ? O_RDWR : O_WRONLY) | O_CREAT | O_APPEND;
        f->can_read = plus;
        f->can_write = true;
        f->append = true;
        break;
    default:
        return false;
    }
    if (excl && mode[0] != 'r') *flags |= O_EXCL;
    *flags |= O_CLOEXEC;
    return true;
}

} // namespace

// Opens path with a stdio mode ("rb", "wb", "wb+", ...; 'b' and 'e' mean
// nothing more here, 'x' is O_EXCL).  The descriptor is close-on-exec so
// that a host running child processes on other threads does not leak it
// into them.  Returns null when the file cannot be opened, the mode is not
// one stdio knows, or the record cannot be allocated; nothing stays open
// then.
VTQ_FILE *file_open(const char *path, const char *mode) {
    if (path == nullptr || mode == nullptr || mode[0] == '\0') return nullptr;
    std::unique_ptr<VTQ_FILE> f(new (std::nothrow) VTQ_FILE);
    if (!f) return nullptr;
    int flags = 0;
    if (!ModeFlags(mode, &flags, f.get())) return nullptr;
    f->fd = ::open(path, flags, 0666);
    if (f->fd < 0) return nullptr;
    if (f->append) {
        struct stat sb;
        if (::fstat(f->fd, &sb) == 0) f->pos = sb.st_size;
    }
    return f.release();
}

// Closes and frees the handle; null is accepted.  0, or -1 when the final
// flush (or an earlier one) failed (the handle is gone either way).
int file_close(VTQ_FILE *file) {
    if (file == nullptr) return 0;
    const bool flushed = Flush(file) && !file->write_failed;
    const int r = ::close(file->fd);
    delete file;
    return flushed && r == 0 ? 0 : -1;
}

// Whole items read.  A request of 0 items (or of 0-byte items) reads
// nothing and reports 0, which callers take as a failed read.  The
// position moves by every byte read, also those of a last partial item.
size_t file_read(void *buf, size_t size, size_t count, VTQ_FILE *file) {
    if (file == nullptr || buf == nullptr || size == 0 || count == 0 || !file->can_read) return 0;
    if (count > SIZE_MAX / size) return 0;
    if (!Flush(file)) return 0;
    auto *dst = static_cast<unsigned char *>(buf);
    const size_t want = size * count;
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
            }
            break;
        }
        Window &w = Victim(file);
        if (!w.data) {
            w.data.reset(new (std::nothrow) unsigned char[kWindow]);
            if (!w.data) break;
        }
        w.start = file->pos - file->pos % kWindowAlign;
        const ssize_t r = ReadAt(file->fd, w.data.get(), kWindow, w.start);
        w.len = r > 0 ? static_cast<size_t>(r) : 0;
        if (!w.Holds(file->pos)) {
            w.len = 0;
            break; // the end of the file, or an error
        }
    }
    return done / size;
}

// Whole items written: all of them, unless the system refused some of a
// write that went out at once.  Small writes are gathered and go out when
// the buffer is full, before a read, a size query or a seek to the end, and
// at the close, which reports a failure then.
size_t file_write(const void *buf, size_t size, size_t count, VTQ_FILE *file) {
    if (file == nullptr || buf == nullptr || size == 0 || count == 0 || !file->can_write) return 0;
    if (count > SIZE_MAX / size) return 0;
    const auto *src = static_cast<const unsigned char *>(buf);
    const size_t n = size * count;
    DropWindows(file);
    // Pending bytes must be continued by these, else go out first.
    if (file->out_len > 0 &&
        (file->out_pos + static_cast<int64_t>(file->out_len) != file->pos ||
         n > kWindow - file->out_len))
        Flush(file);
    if (!file->out && n < kWindow) file->out.reset(new (std::nothrow) unsigned char[kWindow]);
    size_t taken = n; // written, or gathered to go out later
    if (n >= kWindow || !file->out) {
        taken = WriteAt(file, src, n, file->pos);
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
    if (file == nullptr || origin < 0 || origin > 2) return -1;
    int64_t base = 0;
    if (origin == 1) {
        base = file->pos;
    } else if (origin == 2) {
        if (!Flush(file)) return -1;
        struct stat sb;
        if (::fstat(file->fd, &sb) != 0) return -1;
        base = sb.st_size;
    }
    if ((pos > 0 && base > INT64_MAX - pos) || base + pos < 0) return -1;
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
    if (file->made_size >= 0) return file->made_size;
    struct stat sb;
    if (::fstat(file->fd, &sb) != 0) return -1;
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
// -1 when it does not exist or cannot be examined.
int64_t file_size_by_path(const char *path) {
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

// files.cpp - file handles, sizes and path splitting of the stand-in runtime
//
// A VTQ_FILE is a stdio stream behind a small record.  stdio's buffering
// matters here: the filter reads the fixed fields of ZIP headers a few
// bytes (often one byte) per call, and each of those must not become a
// system call.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <new>
#include <stdio_ext.h>

#include "host/oscomm/oscomm.h"

struct VTQ_File {
    std::FILE *fp;
};

namespace vtq::oscomm {

// Opens path with a stdio mode ("rb", "wb", "wb+", ...).  The descriptor is
// close-on-exec so that a host running child processes on other threads
// does not leak it into them.  Returns null when the file cannot be opened
// or the record cannot be allocated; nothing stays open then.
VTQ_FILE *file_open(const char *path, const char *mode) {
    if (path == nullptr || mode == nullptr) return nullptr;
    char m[16];
    size_t n = std::strlen(mode);
    if (n == 0 || n > sizeof m - 2) return nullptr;
    std::memcpy(m, mode, n);
    m[n] = 'e'; // glibc: O_CLOEXEC
    m[n + 1] = '\0';
    VTQ_FILE *f = new (std::nothrow) VTQ_FILE{nullptr};
    if (f == nullptr) return nullptr;
    f->fp = std::fopen(path, m);
    if (f->fp == nullptr) {
        delete f;
        return nullptr;
    }
    return f;
}

// Closes and frees the handle; null is accepted.  0, or -1 when the final
// flush failed (the handle is gone either way).
int file_close(VTQ_FILE *file) {
    if (file == nullptr) return 0;
    int r = std::fclose(file->fp);
    delete file;
    return r == 0 ? 0 : -1;
}

// Whole items read.  A request of 0 items (or of 0-byte items) reads
// nothing and reports 0, which callers take as a failed read.
size_t file_read(void *buf, size_t size, size_t count, VTQ_FILE *file) {
    if (file == nullptr || buf == nullptr || size == 0 || count == 0) return 0;
    return std::fread(buf, size, count, file->fp);
}

size_t file_write(const void *buf, size_t size, size_t count, VTQ_FILE *file) {
    if (file == nullptr || buf == nullptr || size == 0 || count == 0) return 0;
    return std::fwrite(buf, size, count, file->fp);
}

// origin: 0 from the start, 1 from the current position, 2 from the end
// (the stdio values).  0 on success, -1 on failure.
int file_seek(VTQ_FILE *file, int64_t pos, int origin) {
    if (file == nullptr) return -1;
    if (origin < 0 || origin > 2) return -1;
    int whence = origin == 1 ? SEEK_CUR : origin == 2 ? SEEK_END : SEEK_SET;
    return fseeko(file->fp, static_cast<off_t>(pos), whence) == 0 ? 0 : -1;
}

// The size from fstat, so the stream position is never moved.  Bytes still
// waiting in the write buffer are flushed first, or a file being written
// would report a stale size; a pure reader keeps its read buffer.
int64_t file_tell_size(VTQ_FILE *file) {
    if (file == nullptr) return -1;
    if (__fpending(file->fp) > 0 && std::fflush(file->fp) != 0) return -1;
    struct stat sb;
    if (fstat(fileno(file->fp), &sb) != 0) return -1;
    return static_cast<int64_t>(sb.st_size);
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

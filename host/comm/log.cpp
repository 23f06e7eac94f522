// log.cpp - the stand-in host's log: an append-only file shared by levels
//
// A nested extraction shares the log of the level above it and closes it
// when done, so the handle carries a reference count: vtq_logfretain() for
// each level that will close it, and the file closes with the last
// reference.  Every write is flushed at once, so that the lines of all
// levels reach the file in the order they were written.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "host/comm/comm.h"

struct VTQ_Log {
    std::FILE *fp;
    std::atomic<uint32_t> refs;
};

namespace vtq::comm {

namespace {
constexpr size_t kNameBuf = 4096;

// Appends src to buf[0..*at) without passing buf[kNameBuf - 1], which stays
// for the NUL.
void append(char *buf, size_t *at, const char *src) {
    if (src == nullptr) return;
    size_t n = std::strlen(src);
    size_t room = kNameBuf - 1 - *at;
    if (n > room) n = room;
    std::memcpy(buf + *at, src, n);
    *at += n;
}
} // namespace

// VTQ_LOG_FILE when set and non-empty, else "<out_path>.<tag>.log".  The
// name is cut to 4095 bytes when longer.  0, or -1 for a null buffer.
int log_file_name(const char *out_path, const char *tag, char *buf) {
    if (buf == nullptr) return -1;
    size_t at = 0;
    const char *env = std::getenv("VTQ_LOG_FILE");
    if (env != nullptr && *env != '\0') {
        append(buf, &at, env);
    } else {
        append(buf, &at, out_path);
        append(buf, &at, ".");
        append(buf, &at, tag);
        append(buf, &at, ".log");
    }
    buf[at] = '\0';
    return 0;
}

// Null unless flags has VTQ_FMT_LOG and name is non-empty, or when the file
// cannot be opened for appending.  The handle starts with one reference.
VTQ_LOG *log_open(uint32_t flags, const char *name) {
    if ((flags & VTQ_FMT_LOG) == 0 || name == nullptr || *name == '\0') return nullptr;
    std::FILE *fp = std::fopen(name, "abe");
    if (fp == nullptr) return nullptr;
    VTQ_LOG *log = new (std::nothrow) VTQ_LOG{fp, {1}};
    if (log == nullptr) std::fclose(fp);
    return log;
}

// The bytes written, 0 for a null handle, negative on a write error.
int log_vprintf(uint32_t, VTQ_LOG *log, const char *fmt, va_list args) {
    if (log == nullptr || fmt == nullptr) return 0;
    int n = std::vfprintf(log->fp, fmt, args);
    std::fflush(log->fp);
    return n;
}

// Writes the path as it stands, with nothing added.
int log_print_path(uint32_t, VTQ_LOG *log, const char *path) {
    if (log == nullptr || path == nullptr) return 0;
    size_t n = std::strlen(path);
    size_t w = std::fwrite(path, 1, n, log->fp);
    std::fflush(log->fp);
    return w == n ? static_cast<int>(n) : -1;
}

VTQ_LOG *log_retain(VTQ_LOG *log) {
    if (log != nullptr) log->refs.fetch_add(1, std::memory_order_relaxed);
    return log;
}

// Drops one reference; the last one closes the file and frees the handle.
// 0, or -1 when the final close reported an error.
int log_close(uint32_t, VTQ_LOG *log) {
    if (log == nullptr) return 0;
    if (log->refs.fetch_sub(1, std::memory_order_acq_rel) != 1) return 0;
    int r = std::fclose(log->fp);
    delete log;
    return r == 0 ? 0 : -1;
}

} // namespace vtq::comm

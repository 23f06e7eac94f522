// exports.cpp - the C entry points of libziptext
//
// Each fills the caller's summary from one run (run.cpp); none lets an
// exception out.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "lib/ziptext/run.h"
#include "vtq/standin.h"

namespace {

using ziptext::Destination;
using ziptext::Output;

// Copies s into the field f of cap bytes, cut at a byte boundary, NUL-terminated.
void put(char *f, std::size_t cap, const std::string &s) {
    const std::size_t n = s.size() < cap ? s.size() : cap - 1;
    std::memcpy(f, s.data(), n);
    f[n] = '\0';
}

// Fills the fields of *out that lie within out->size.
uint32_t finish(const ziptext::Result &r, zt_summary *out) {
    if (out == nullptr || out->size < offsetof(zt_summary, members)) return r.code;
    zt_summary s{};
    s.size = out->size;
    s.code = r.code;
    s.members = r.members;
    s.failed = r.failed;
    s.bytes = r.bytes;
    s.output_errno = r.output_errno;
    put(s.cause, sizeof s.cause, r.cause);
    put(s.message, sizeof s.message, r.message);
    std::memcpy(out, &s, out->size < sizeof s ? out->size : sizeof s);
    return r.code;
}

uint32_t run(const char *archive, Destination d, const zt_options *opts, zt_summary *summary) {
    return finish(ziptext::run_archive(archive, d, opts), summary);
}

// zt_compose_fd's writer: the whole piece, or the reason it could not go.
struct FdOut {
    int fd;
    static int write(void *user, const void *data, size_t len) {
        const int fd = static_cast<FdOut *>(user)->fd;
        const char *p = static_cast<const char *>(data);
        while (len > 0) {
            const ssize_t w = ::write(fd, p, len);
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) return w < 0 ? errno : EIO;
            p += w;
            len -= static_cast<std::size_t>(w);
        }
        return 0;
    }
};

} // namespace

extern "C" {

uint32_t zt_members(const char *archive, const zt_options *opts, zt_summary *summary) {
    return run(archive, Destination{Output::kMembers}, opts, summary);
}

uint32_t zt_list(const char *archive, const zt_options *opts, zt_summary *summary) {
    return run(archive, Destination{Output::kList}, opts, summary);
}

uint32_t zt_compose_callback(const char *archive, zt_write_fn write, void *write_user,
                             const zt_options *opts, zt_summary *summary) {
    return run(archive, Destination{Output::kWrite, nullptr, write, write_user}, opts, summary);
}

uint32_t zt_compose_fd(const char *archive, int fd, const zt_options *opts, zt_summary *summary) {
    FdOut out{fd};
    ziptext::Result r = ziptext::run_archive(
        archive, Destination{Output::kWrite, nullptr, &FdOut::write, &out}, opts);
    if (r.output_errno != 0) {
        try {
            r.message = "cannot write descriptor " + std::to_string(fd) + ": " +
                        std::strerror(r.output_errno) + "\n" + r.message;
        } catch (...) { // the errno is in the summary all the same
        }
    }
    return finish(r, summary);
}

uint32_t zt_compose_path(const char *archive, const char *out_path, const zt_options *opts,
                         zt_summary *summary) {
    return run(archive, Destination{Output::kPath, out_path}, opts, summary);
}

uint32_t zt_split(const char *archive, const char *out_path, const zt_options *opts,
                  zt_summary *summary) {
    return run(archive, Destination{Output::kSplit, out_path}, opts, summary);
}

uint32_t zt_flat(const char *archive, const char *out_path, const zt_options *opts,
                 zt_summary *summary) {
    return run(archive, Destination{Output::kFlat, out_path}, opts, summary);
}

uint32_t zt_memory_archive(const void *data, size_t size, char *path, size_t cap) {
    char name[VTQ_PATH_MAX];
    if (path == nullptr || (data == nullptr && size > 0)) return VTQ_E_NO_RECORD;
    if (VTQ_ASC_tmpnam(name) == nullptr) return VTQ_E_NO_MEMORY;
    if (std::strlen(name) >= cap) return VTQ_E_NO_RECORD;
    VTQ_FILE *f = VTQ_FileOpen(name, "wb");
    if (f == nullptr) return VTQ_E_NO_MEMORY;
    // A memory file grows no larger than the member-size cap (EFBIG).
    const bool written = size == 0 || VTQ_FileWrite(data, 1, size, f) == size;
    if (VTQ_FileClose(f) != 0 || !written) {
        VTQ_ASC_remove(name);
        return VTQ_E_NO_MEMORY;
    }
    std::memcpy(path, name, std::strlen(name) + 1);
    return VTQ_OK;
}

void zt_memory_release(const char *path) {
    if (path != nullptr) VTQ_ASC_remove(path);
}

uint32_t zt_members_memory(const void *data, size_t size, const zt_options *opts,
                           zt_summary *summary) {
    ziptext::Result r;
    if (opts != nullptr && opts->size < 8) {
        r.code = VTQ_E_NO_RECORD;
        r.cause = "zt_options.size is below 8";
        return finish(r, summary);
    }
    char path[64];
    r.code = zt_memory_archive(data, size, path, sizeof path);
    if (r.code != VTQ_OK) return finish(r, summary);
    zt_options named{};
    if (opts != nullptr)
        std::memcpy(&named, opts, opts->size < sizeof named ? opts->size : sizeof named);
    named.size = sizeof named;
    if (named.archive_name == nullptr) named.archive_name = "(memory)";
    const uint32_t code = zt_members(path, &named, summary);
    zt_memory_release(path);
    return code;
}

uint32_t zt_check_options(const zt_options *opts, char *why, size_t cap) {
    try {
        ziptext::Settings s;
        std::string reason;
        if (ziptext::read_settings(opts, &s, &reason)) return VTQ_OK;
        if (why != nullptr && cap > 0) put(why, cap, reason);
    } catch (...) {
        if (why != nullptr && cap > 0) put(why, cap, "memory exhausted");
    }
    return VTQ_E_NO_RECORD;
}

uint64_t zt_member_size_cap(void) { return VTQ_HostAllocCap(); }

void zt_set_member_size_cap(uint64_t bytes) {
    char text[24];
    std::snprintf(text, sizeof text, "%llu", static_cast<unsigned long long>(bytes));
    setenv("VTQ_MAX_ALLOC", text, 1);
}

} // extern "C"

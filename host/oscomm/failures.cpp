// failures.cpp - why the last host call of each kind failed, per thread
//
// The filter turns every failed host call into one of a few codes (22, 24,
// 25, 26, 27), which say neither which file nor why.  The host remembers
// both, per thread (extractions run side by side on worker threads, and
// each thread's calls are its own), so that a program can tell its user
// "cannot create 'out/a.txt': Permission denied".
#include <cerrno>
#include <cstring>

#include "host/oscomm/internal.h"
#include "host/oscomm/oscomm.h"

namespace vtq::oscomm {

namespace {

struct Records {
    VTQ_HostFailure last[VTQ_HOST_FAIL_KINDS]; // by kind - 1
    bool have[VTQ_HOST_FAIL_KINDS];
    VTQ_HostFailure write; // the first lost write since the last clear
    bool have_write;
};

// Plain data, zero at thread start: no constructor runs per thread.
thread_local Records t_records;

void Fill(VTQ_HostFailure &f, uint32_t kind, const char *op, const char *path, int err) {
    f.Kind = kind;
    f.Errno = err;
    std::memset(f.Op, 0, sizeof f.Op);
    std::strncpy(f.Op, op, sizeof f.Op - 1);
    const size_t len = path == nullptr ? 0 : strnlen(path, sizeof f.Path - 1);
    if (len > 0) std::memcpy(f.Path, path, len);
    f.Path[len] = '\0';
}

} // namespace

void record_failure(uint32_t kind, const char *op, const char *path, int err) {
    if (kind >= 1 && kind <= VTQ_HOST_FAIL_KINDS) {
        Fill(t_records.last[kind - 1], kind, op, path, err);
        t_records.have[kind - 1] = true;
    }
    if (kind == VTQ_HOST_FAIL_WRITE && !t_records.have_write) {
        Fill(t_records.write, kind, op, path, err);
        t_records.have_write = true;
    }
    errno = err;
}

int failure_get(uint32_t kind, VTQ_HostFailure *out) {
    if (out == nullptr || kind < 1 || kind > VTQ_HOST_FAIL_KINDS || !t_records.have[kind - 1])
        return 0;
    *out = t_records.last[kind - 1];
    return 1;
}

int write_failure(VTQ_HostFailure *out) {
    if (out == nullptr || !t_records.have_write) return 0;
    *out = t_records.write;
    return 1;
}

void failure_clear() {
    for (bool &h : t_records.have) h = false;
    t_records.have_write = false;
}

} // namespace vtq::oscomm

// services.h - the host services the filter calls, and RAII holders for them
//
// The declarations themselves are the public host interface; this header
// only adds small holders that release through the host, so that every exit
// path of a routine gives back what it took.
#pragma once

#include "vtq/host.h"

// The stand-in host's memory files can take a decoded member's block
// whole instead of a copy of it.  No other host has this entry, so it is
// looked up weakly: null where the host lacks it.
extern "C" __attribute__((weak)) int VTQ_HostStoreAdopt(VTQ_FILE *file, void *block, uint64_t size);

namespace vtq {

// A block from VTQ_malloc, released with VTQ_free.
class HostBuffer {
public:
    HostBuffer() = default;
    explicit HostBuffer(void *p) : p_(p) {}
    HostBuffer(const HostBuffer &) = delete;
    HostBuffer &operator=(const HostBuffer &) = delete;
    ~HostBuffer() { reset(); }
    void reset(void *p = nullptr) {
        if (p_ != nullptr) VTQ_free(p_);
        p_ = p;
    }
    void *release() {
        void *p = p_;
        p_ = nullptr;
        return p;
    }
    void *get() const { return p_; }
    template <typename T> T *as() const { return static_cast<T *>(p_); }
    explicit operator bool() const { return p_ != nullptr; }

private:
    void *p_ = nullptr;
};

// A host file handle, closed with VTQ_FileClose.
class HostFile {
public:
    HostFile() = default;
    explicit HostFile(VTQ_FILE *f) : f_(f) {}
    HostFile(const HostFile &) = delete;
    HostFile &operator=(const HostFile &) = delete;
    ~HostFile() { reset(); }
    void reset(VTQ_FILE *f = nullptr) {
        if (f_ != nullptr) VTQ_FileClose(f_);
        f_ = f;
    }
    VTQ_FILE *get() const { return f_; }
    explicit operator bool() const { return f_ != nullptr; }

private:
    VTQ_FILE *f_ = nullptr;
};

} // namespace vtq

// filter_loader.h - find the ZIP filter's entry points the way a host does
//
// A host knows filters only by library name and exported function names:
// it loads libvtq_zozaz.so.5 with dlopen and looks the names up with dlsym.
// The per-member extraction (nested archives) and the ziptext tool both go
// through this one small holder.  Header-only: the tool cannot reach txif's
// internal symbols, which the shared library hides.
#pragma once

#include <dlfcn.h>

#include <cstring>
#include <string>

#include "vtq/host.h"

namespace vtq::txif {

inline constexpr const char *kFilterSoname = "libvtq_zozaz.so.5";

// Owns one dlopen reference to the filter; dlclose on destruction.  A
// failed load leaves the holder empty and keeps dlerror()'s text.
class FilterLibrary {
public:
    // Loads by soname, found through the caller's RUNPATH and the usual
    // search path (LD_LIBRARY_PATH, ld.so.cache).
    // When that fails for a bare name, tries the directory of the host
    // libraries themselves: the filter is installed beside them, and a
    // dlopen that a sanitizer runtime intercepts searches on behalf of the
    // runtime, which has no RUNPATH of ours.
    explicit FilterLibrary(const char *name = kFilterSoname) {
        handle_ = dlopen(name, RTLD_NOW);
        if (handle_ != nullptr) return;
        const char *why = dlerror();
        error_ = why ? why : "dlopen failed";
        Dl_info info{};
        if (std::strchr(name, '/') != nullptr ||
            dladdr(reinterpret_cast<void *>(&VTQ_GetCompressFileTextWithErrCallback), &info) == 0 ||
            info.dli_fname == nullptr)
            return;
        std::string path = info.dli_fname;
        std::size_t slash = path.rfind('/');
        path = (slash == std::string::npos ? std::string(".") : path.substr(0, slash)) + "/" + name;
        handle_ = dlopen(path.c_str(), RTLD_NOW);
        if (handle_ != nullptr) error_.clear();
    }
    FilterLibrary(const FilterLibrary &) = delete;
    FilterLibrary &operator=(const FilterLibrary &) = delete;
    ~FilterLibrary() {
        if (handle_ != nullptr) dlclose(handle_);
    }

    explicit operator bool() const { return handle_ != nullptr; }
    const std::string &error() const { return error_; }

    // The exported function name, cast to the caller's type; null when the
    // library is not loaded or does not export it.
    template <typename Fn> Fn *find(const char *symbol) {
        if (handle_ == nullptr) return nullptr;
        void *p = dlsym(handle_, symbol);
        if (p == nullptr) {
            const char *why = dlerror();
            error_ = std::string(symbol) + ": " + (why ? why : "not found");
            return nullptr;
        }
        return reinterpret_cast<Fn *>(p);
    }

private:
    void *handle_ = nullptr;
    std::string error_;
};

} // namespace vtq::txif

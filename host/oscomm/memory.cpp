// memory.cpp - the stand-in runtime's allocator, with a per-request cap
//
// The cap is what keeps a hostile archive from making the host allocate a
// member's declared size (up to 4 GiB) in one go: the filter then sees a
// plain allocation failure and reports it.
#include <cerrno>
#include <cstdlib>

#include "host/oscomm/oscomm.h"

namespace vtq::oscomm {

namespace {
constexpr size_t kDefaultCap = size_t{512} << 20; // 512 MiB
} // namespace

// VTQ_MAX_ALLOC as a whole decimal number of bytes; anything else (unset,
// empty, signs, trailing text, overflow) gives the default.  Read on every
// call: there is no cached state to race on, and ziptext sets the variable
// before any extraction starts.
size_t alloc_cap() {
    const char *s = std::getenv("VTQ_MAX_ALLOC");
    if (s == nullptr || *s < '0' || *s > '9') return kDefaultCap;
    errno = 0;
    char *end = nullptr;
    unsigned long long v = std::strtoull(s, &end, 10);
    if (errno != 0 || end == s || *end != '\0') return kDefaultCap;
    return static_cast<size_t>(v);
}

// Null for a request above the cap (memory untouched) or when malloc fails.
// A 0-byte request yields a distinct, freeable, non-null pointer.
void *mem_alloc(size_t size) {
    if (size > alloc_cap()) return nullptr;
    return std::malloc(size == 0 ? 1 : size);
}

void mem_free(void *ptr) { std::free(ptr); }

} // namespace vtq::oscomm

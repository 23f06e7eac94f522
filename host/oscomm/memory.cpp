// memory.cpp - the stand-in runtime's allocator, with a per-request cap
//
// The cap is what keeps a hostile archive from making the host allocate a
// member's declared size (up to 4 GiB) in one go: the filter then sees a
// plain allocation failure and reports it.
//
// Large blocks (the filter's member and data buffers) are where extraction
// time goes when the memory is fresh: every 4 KiB page is faulted in and
// zeroed on first touch, and glibc maps every block of more than 32 MiB
// afresh and unmaps it on free, so each member pays for all its pages
// again.  A block of kLargeBlock bytes or more is therefore mapped here on
// a 2 MiB boundary and marked for transparent huge pages, so that one fault
// brings in 2 MiB; on this project's machines that makes fresh memory about
// five times cheaper to touch.  Where the kernel has huge pages off the
// advice is ignored and the block behaves like any mapping.
//
// Freed large blocks are kept for the next requests they fit (two of them:
// the filter's data and member buffers, which have about the same sizes
// member after member), so that only the first member of an archive pays
// for fresh pages.  mem_release_kept gives them back: the text extraction
// calls it before a nested archive is walked, whose memory adds to the
// enclosing member's, and the library after each archive.
//
// Every block starts with a small header that says how it was made, so
// that mem_free can give it back the same way.
#include <sys/mman.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <mutex>

#include "host/oscomm/oscomm.h"

namespace vtq::oscomm {

namespace {

constexpr size_t kDefaultCap = size_t{512} << 20; // 512 MiB
constexpr size_t kHugePage = size_t{2} << 20;
#if defined(__SANITIZE_ADDRESS__)
// AddressSanitizer guards only what malloc hands out: keep it watching the
// large blocks too in the sanitizer build.
constexpr size_t kLargeBlock = SIZE_MAX;
#else
constexpr size_t kLargeBlock = kHugePage;
#endif

// In front of every block; 16 bytes keep malloc's alignment for the caller.
struct alignas(16) BlockHeader {
    size_t map_len; // 0: from malloc; else the length of the mapping it starts
};
static_assert(sizeof(BlockHeader) == 16);

BlockHeader *header_of(void *ptr) { return static_cast<BlockHeader *>(ptr) - 1; }

// Maps size bytes (plus the header) at a huge-page boundary + header.
// Null when the mapping fails or the length would overflow.
void *map_large(size_t size) {
    if (size > SIZE_MAX - sizeof(BlockHeader) - 2 * kHugePage) return nullptr;
    const size_t want = (sizeof(BlockHeader) + size + kHugePage - 1) & ~(kHugePage - 1);
    // Over-map by one huge page so that an aligned start lies inside.
    const size_t len = want + kHugePage;
    void *map = ::mmap(nullptr, len, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (map == MAP_FAILED) return nullptr;
    const auto base = reinterpret_cast<uintptr_t>(map);
    const uintptr_t aligned = (base + kHugePage - 1) & ~uintptr_t{kHugePage - 1};
    // Give back the slack on either side; the block keeps [aligned, +want).
    if (aligned > base) ::munmap(map, aligned - base);
    const size_t tail = len - (aligned - base) - want;
    if (tail > 0) ::munmap(reinterpret_cast<void *>(aligned + want), tail);
    void *block = reinterpret_cast<void *>(aligned);
    ::madvise(block, want, MADV_HUGEPAGE); // advice only: failure changes nothing
    auto *h = static_cast<BlockHeader *>(block);
    h->map_len = want;
    return h + 1;
}

// The kept blocks (see the top of the file).
struct Cache {
    std::mutex lock;
    BlockHeader *blocks[2] = {nullptr, nullptr};
};
Cache &cache() {
    static Cache *c = new Cache; // never destroyed: threads may free late
    return *c;
}

// A kept block of room for size bytes, and no more than twice that.
void *cache_take(size_t size) {
    Cache &c = cache();
    std::lock_guard<std::mutex> hold(c.lock);
    for (BlockHeader *&b : c.blocks) {
        if (b == nullptr) continue;
        const size_t room = b->map_len - sizeof(BlockHeader);
        if (room >= size && room / 2 <= size) {
            BlockHeader *h = b;
            b = nullptr;
            return h + 1;
        }
    }
    return nullptr;
}

bool cache_keep(BlockHeader *h) {
    Cache &c = cache();
    std::lock_guard<std::mutex> hold(c.lock);
    BlockHeader **slot = nullptr;
    for (BlockHeader *&b : c.blocks)
        if (b == nullptr) slot = &b;
    if (slot == nullptr) {
        // Both taken: the older block goes.
        ::munmap(c.blocks[0], c.blocks[0]->map_len);
        c.blocks[0] = c.blocks[1];
        slot = &c.blocks[1];
    }
    *slot = h;
    return true;
}

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

// Null for a request above the cap and above 4 KiB (memory untouched) or
// when no memory can be had.  A 0-byte request yields a distinct, freeable, non-null pointer.
// Large blocks come zero-filled from the kernel; callers must not count on
// that, small ones are not.
void *mem_alloc(size_t size) {
    if (size > kUncappedAlloc && size > alloc_cap()) return nullptr;
    if (size >= kLargeBlock) {
        if (void *kept = cache_take(size)) return kept;
        return map_large(size);
    }
    auto *h = static_cast<BlockHeader *>(std::malloc(sizeof(BlockHeader) + size));
    if (h == nullptr) return nullptr;
    h->map_len = 0;
    return h + 1;
}

void mem_release_kept() {
    Cache &c = cache();
    std::lock_guard<std::mutex> hold(c.lock);
    for (BlockHeader *&b : c.blocks) {
        if (b != nullptr) ::munmap(b, b->map_len);
        b = nullptr;
    }
}

// Null is accepted.
void mem_free(void *ptr) {
    if (ptr == nullptr) return;
    BlockHeader *h = header_of(ptr);
    if (h->map_len == 0)
        std::free(h);
    else if (!cache_keep(h))
        ::munmap(h, h->map_len);
}

} // namespace vtq::oscomm

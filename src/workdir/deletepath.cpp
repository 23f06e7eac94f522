// deletepath.cpp - remove a work directory tree, or prune its empty parts
//
// Both walks go depth first, in the order the host lists the entries, and
// neither recurses.  Each directory level that is being listed is one block
// from VTQ_malloc holding the level's listing state, its entry record and
// its path, and the open levels are chained into a stack.  The walks thus
// use the same few hundred bytes of the thread's stack at any depth: member
// paths of up to 4095 bytes make trees some 2000 levels deep, and hosts run
// extractions on worker threads whose stacks are small.  On the heap an
// open level costs about 630 bytes plus the length of its path.
//
// Entry paths come from the host's listing and are used as they are: as
// the path of the entry, and as the base of the next level's pattern.
#include <cstdint>
#include <cstring>

#include "host/services.h"
#include "vtq/zozaz.h"

namespace vtq {
namespace {

constexpr int32_t kRemoveFailed = static_cast<int32_t>(VTQ_E_REMOVE);

// One directory level whose listing is open.
struct Level {
    Level *up;         // the level whose listing delivered this directory
    uint32_t kept_acc; // pruning: something below this level stays
    size_t path_len;   // the directory's path, at pattern()[0 .. path_len)
    alignas(8) unsigned char state[VTQ_DIRSTATE_SIZE];
    alignas(8) unsigned char entry[VTQ_DIRENTRY_SIZE];
    // The block goes on with path_len + 3 bytes: the path followed by "/*"
    // and a NUL, the listing's pattern.  The path alone is had back by
    // putting a NUL where the "/" is.
    char *pattern() { return reinterpret_cast<char *>(this + 1); }
};

enum class Opened { kYes, kNoListing, kNoMemory };

// The open levels, innermost on top.  Whatever is still open when the walk
// returns (after a failure) is closed and freed by the destructor, outer
// levels last, so every exit gives back every listing and block.
class LevelStack {
public:
    LevelStack() = default;
    LevelStack(const LevelStack &) = delete;
    LevelStack &operator=(const LevelStack &) = delete;
    ~LevelStack() {
        while (top_ != nullptr) CloseTop(false);
    }

    bool empty() const { return top_ == nullptr; }
    Level *top() const { return top_; }

    // Takes a block for the directory at path and opens its listing with
    // the pattern path + "/*".  kYes: the level is on top.  kNoListing: the
    // host would not list it.  kNoMemory: no block.  Nothing is pushed but
    // on kYes.
    Opened Push(const char *path, uint32_t kept_acc) {
        size_t len = std::strlen(path);
        auto *lv = static_cast<Level *>(VTQ_malloc(sizeof(Level) + len + 3));
        if (lv == nullptr) return Opened::kNoMemory;
        lv->up = top_;
        lv->kept_acc = kept_acc;
        lv->path_len = len;
        // The host expects both records zeroed before the listing opens.
        std::memset(lv->state, 0, sizeof(lv->state));
        std::memset(lv->entry, 0, sizeof(lv->entry));
        char *pat = lv->pattern();
        std::memcpy(pat, path, len);
        std::memcpy(pat + len, "/*", 3);
        if (VTQ_ASC_opendir(pat, lv->state) == 0) {
            VTQ_free(lv);
            return Opened::kNoListing;
        }
        top_ = lv;
        return Opened::kYes;
    }

    // The path of the top level's next entry other than "." and "..", or
    // null when its listing is exhausted.  The text stays valid until the
    // next call on this level.
    const char *Next() {
        unsigned char *entry = top_->entry;
        while (VTQ_ASC_readdir(top_->state, entry) != 0) {
            // The host terminates the name within the record; make sure.
            entry[VTQ_DIRENTRY_SIZE - 1] = 0;
            const char *name = reinterpret_cast<const char *>(entry + VTQ_DIRENTRY_NAME);
            const char *slash = std::strrchr(name, '/');
            const char *own = slash != nullptr ? slash + 1 : name;
            if (std::strcmp(own, ".") != 0 && std::strcmp(own, "..") != 0) return name;
        }
        return nullptr;
    }

    // Closes the top level's listing and drops the level; with and_rmdir, the
    // directory itself goes too, after its listing is closed.  Returns 0,
    // or 26 when the directory could not be removed.
    int32_t CloseTop(bool and_rmdir) {
        Level *lv = top_;
        VTQ_ASC_closedir(lv->state);
        int32_t r = 0;
        if (and_rmdir) {
            lv->pattern()[lv->path_len] = '\0';
            if (VTQ_RmDir(lv->pattern()) != 0) r = kRemoveFailed;
        }
        top_ = lv->up;
        VTQ_free(lv);
        return r;
    }

private:
    Level *top_ = nullptr;
};

// What starting on one path came to: a level pushed to walk it, or a
// finished result.
struct Step {
    bool descended;
    int32_t result;
};

Step FromOpened(Opened o) {
    switch (o) {
    case Opened::kYes:
        return {true, 0};
    case Opened::kNoListing:
        // A directory that cannot be listed stays as it is, and that is no
        // failure of the removal.
        return {false, 0};
    case Opened::kNoMemory:
        break;
    }
    return {false, kRemoveFailed};
}

// Zip_deletepath on one path: a missing path is done, a file is removed,
// a directory gets a level.
Step StartDelete(LevelStack &levels, const char *path) {
    if (VTQ_IsExist(path) == 0) return {false, 0};
    if (VTQ_IsDirectory(path) == 0) return {false, VTQ_ASC_remove(path) == 0 ? 0 : kRemoveFailed};
    return FromOpened(levels.Push(path, 0));
}

// Zip_deletenullpath on one path: an empty file is removed, a file that
// has (or may have) content sets *kept, a directory gets a level whose
// accumulator starts from *kept.
Step StartPrune(LevelStack &levels, const char *path, uint32_t *kept) {
    if (VTQ_IsExist(path) == 0) return {false, 0};
    if (VTQ_IsDirectory(path) == 0) {
        int64_t size;
        {
            HostFile f(VTQ_FileOpen(path, "rb"));
            // A file that exists but cannot be read cannot be shown to be
            // empty, and its directory could not be removed around it: it
            // stays and counts as kept.
            if (!f) {
                *kept = 1;
                return {false, 0};
            }
            size = VTQ_FileTellSize(f.get());
        }
        // -1, a size the host cannot tell, is not an empty file either.
        if (size != 0) {
            *kept = 1;
            return {false, 0};
        }
        return {false, VTQ_ASC_remove(path) == 0 ? 0 : kRemoveFailed};
    }
    return FromOpened(levels.Push(path, *kept));
}

int32_t DeleteTree(const char *path) {
    LevelStack levels;
    Step s = StartDelete(levels, path);
    if (!s.descended) return s.result;
    for (;;) {
        int32_t r;
        if (const char *entry = levels.Next(); entry != nullptr) {
            Step child = StartDelete(levels, entry);
            if (child.descended) continue;
            r = child.result;
        } else {
            r = levels.CloseTop(true);
            if (levels.empty()) return r;
        }
        // A failure below stops the walk: the listings still open are
        // closed on the way out, and what was not visited stays.
        if (r != 0) return r;
    }
}

int32_t PruneTree(const char *path, uint32_t *kept) {
    LevelStack levels;
    Step s = StartPrune(levels, path, kept);
    if (!s.descended) return s.result;
    for (;;) {
        int32_t r;
        if (const char *entry = levels.Next(); entry != nullptr) {
            // Each entry reports into a cleared flag, so that the level
            // learns what this entry alone left behind.
            *kept = 0;
            Step child = StartPrune(levels, entry, kept);
            if (child.descended) continue;
            r = child.result;
        } else if (uint32_t acc = levels.top()->kept_acc; acc != 0) {
            // Something below stays, so this directory stays with it.
            levels.CloseTop(false);
            *kept = acc;
            r = 0;
        } else {
            r = levels.CloseTop(true);
        }
        // r and *kept are now one finished entry's outcome, as the level
        // that listed it sees them; the root's outcome is the result.
        if (levels.empty()) return r;
        if (*kept != 0) levels.top()->kept_acc = 1;
        // On a failure the flag keeps what the failing entry left in it.
        if (r != 0) return r;
    }
}

} // namespace
} // namespace vtq

// Removes path: nothing to do when it is missing, a file is removed, a
// directory is removed with everything below it, deepest first.  Returns 0,
// or 26 when a file or directory could not be removed (the walk stops
// there: what was visited before is gone, the directories above it and the
// entries not yet visited stay) or no memory could be had for the next
// directory level.  A directory whose listing cannot be opened is left as
// it is and counts as done.  bus is not used.
extern "C" VTQ_FILTER_API int32_t Zip_deletepath(const char *path, ZipBus *bus) {
    (void)bus;
    return vtq::DeleteTree(path);
}

// Removes the empty files under path and the directories left empty by
// that, bottom-up, and sets *kept to 1 when something stays: a file with
// content, a file whose size the host cannot tell, or a file that cannot
// be opened for reading.  A *kept of 1 on entry keeps path itself (the
// walk below still prunes).  Returns 0, or 26 as Zip_deletepath does; *kept
// then holds what the failing entry left in it.  bus is not used.
extern "C" VTQ_FILTER_API int32_t Zip_deletenullpath(const char *path, ZipBus *bus,
                                                     uint32_t *kept) {
    (void)bus;
    return vtq::PruneTree(path, kept);
}

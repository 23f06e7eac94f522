// dirs.cpp - directories, removals and listings of the stand-in runtime
//
// Existence tests use lstat and never follow a symbolic link: the filter's
// removal walk asks "is it a directory?" before listing it, and a link to a
// directory outside the work tree must count as a file (so that only the
// link is removed), never as a directory to empty.  Removals reach only
// memory files and what this process created (created.cpp): the link
// itself stays too, unless we made it, which we never do.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host/oscomm/internal.h"
#include "host/oscomm/oscomm.h"

namespace vtq::oscomm {

namespace {

// What an open listing keeps in the caller's 80-byte state.  The state may
// sit at any alignment inside the caller's records, so it is copied in and
// out rather than accessed in place.
struct DirState {
    uint32_t magic; // kOpenMagic while open
    int fd;         // dirfd(dir), for entry paths that are too long
    DIR *dir;
    char *path; // the directory path (malloc), without a trailing '/'
    size_t path_len;
};
static_assert(sizeof(DirState) <= VTQ_DIRSTATE_SIZE, "listing state must fit in 80 bytes");

constexpr uint32_t kOpenMagic = 0x4c495354;                         // "LIST"
constexpr size_t kNameRoom = VTQ_DIRENTRY_SIZE - VTQ_DIRENTRY_NAME; // 512 with the NUL

DirState load(const void *state) {
    DirState s;
    std::memcpy(&s, state, sizeof s);
    return s;
}

void store(void *state, const DirState &s) { std::memcpy(state, &s, sizeof s); }

} // namespace

// Made with mode 0777 less the umask, and recorded as ours.
int mkdir_(const char *path) {
    if (path == nullptr) return -1;
    if (create_dir(path) == 0) return 0;
    record_failure(VTQ_HOST_FAIL_MKDIR, "mkdir", path, errno);
    return -1;
}

// A memory file is no directory; on disk only a directory we made goes.
int rmdir_(const char *path) {
    if (path == nullptr) return -1;
    int r;
    if (is_store_path(path)) {
        r = -1;
        errno = store_open(path, false, false) ? ENOTDIR : ENOENT;
    } else {
        r = remove_created(path, true);
    }
    if (r != 0) record_failure(VTQ_HOST_FAIL_REMOVE, "remove", path, errno);
    return r;
}

int is_exist(const char *path) {
    struct stat sb;
    if (is_store_path(path)) return store_open(path, false, false) ? 1 : 0;
    return path != nullptr && lstat(path, &sb) == 0 ? 1 : 0;
}

int is_directory(const char *path) {
    struct stat sb;
    if (is_store_path(path)) return 0;
    return path != nullptr && lstat(path, &sb) == 0 && S_ISDIR(sb.st_mode) ? 1 : 0;
}

// A memory file, or on disk a file that we created (see created.cpp).
int remove_file(const char *path) {
    if (path == nullptr) return -1;
    const int r = is_store_path(path) ? store_remove(path) : remove_created(path, false);
    if (r != 0) record_failure(VTQ_HOST_FAIL_REMOVE, "remove", path, errno);
    return r;
}

// pattern is a directory path followed by "/*" (a pattern without the "/*"
// is taken as the directory itself).  Returns 1 with the listing open in
// state, or 0 with state untouched when the directory cannot be opened.
int dir_open(const char *pattern, void *state) {
    if (pattern == nullptr || state == nullptr) return 0;
    size_t len = std::strlen(pattern);
    if (len >= 2 && pattern[len - 2] == '/' && pattern[len - 1] == '*') len -= 2;
    // Keep the root as "/", drop any other trailing '/' so that entry paths
    // have exactly one separator.
    while (len > 1 && pattern[len - 1] == '/') --len;
    if (len == 0) return 0;
    char *path = static_cast<char *>(std::malloc(len + 1));
    if (path == nullptr) return 0;
    std::memcpy(path, pattern, len);
    path[len] = '\0';
    DIR *dir = ::opendir(path);
    if (dir == nullptr) {
        std::free(path);
        return 0;
    }
    DirState s{kOpenMagic, ::dirfd(dir), dir, path, len == 1 && path[0] == '/' ? 0 : len};
    store(state, s);
    return 1;
}

// Delivers the next entry ("." and ".." included) as a full path at
// entry + 8, NUL-terminated, within the 512 bytes there.  A path that would
// not fit is given as "/proc/self/fd/<fd>/<name>", which reaches the same
// entry through the open listing for as long as it stays open; a directory
// listed through such a path hands out short paths again, so arbitrarily
// deep trees can be walked.  Returns 1 for an entry, 0 at the end or on a
// state that is not open.
int dir_read(void *state, void *entry) {
    if (state == nullptr || entry == nullptr) return 0;
    DirState s = load(state);
    if (s.magic != kOpenMagic) return 0;
    const struct dirent *d = ::readdir(s.dir);
    if (d == nullptr) return 0;
    char *out = static_cast<char *>(entry) + VTQ_DIRENTRY_NAME;
    size_t name_len = std::strlen(d->d_name);
    // path_len + "/" + name + NUL, written so that it cannot overflow.
    if (s.path_len < kNameRoom && name_len < kNameRoom - s.path_len - 1) {
        std::memcpy(out, s.path, s.path_len);
        out[s.path_len] = '/';
        std::memcpy(out + s.path_len + 1, d->d_name, name_len + 1);
    } else {
        // A file name is at most 255 bytes, so this always fits.
        std::snprintf(out, kNameRoom, "/proc/self/fd/%d/%s", s.fd, d->d_name);
    }
    return 1;
}

// Closes an open listing and clears its state; a state that is not open
// (zeroed, or already closed) is left alone.
void dir_close(void *state) {
    if (state == nullptr) return;
    DirState s = load(state);
    if (s.magic != kOpenMagic) return;
    ::closedir(s.dir);
    std::free(s.path);
    std::memset(state, 0, sizeof s);
}

} // namespace vtq::oscomm

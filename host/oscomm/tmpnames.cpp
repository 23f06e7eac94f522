// tmpnames.cpp - race-free temporary names of the stand-in runtime
//
// A name is reserved by creating it, as an empty directory (mkdtemp): the
// creation is atomic and exclusive, so no other thread or process can be
// handed the same name.  The filter does not use the reserved entry itself:
// it makes "<name>.<suffix>" beside it as the member file and later removes
// that.  remove_file() then also drops the reserved stem, so nothing is
// left behind.  A directory rather than a file (as mkstemp makes) because
// it is cheaper to make (no descriptor to open and close) and to drop
// (rmdir removes only an empty directory, so it needs no check first): over
// many small members that is about 6% of the run.
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "host/oscomm/internal.h"
#include "host/oscomm/oscomm.h"

namespace vtq::oscomm {

namespace {

constexpr size_t kPathBuf = 4096;
// Where temporary files go when TMPDIR does not say (see tmp_name).
constexpr char kMemoryTmpDir[] = "/dev/shm";

// Creates the directory "<dir>/vtqz-XXXXXX" (dir of dir_len bytes) and
// leaves its path in buf.  Returns buf, or null with buf[0] = 0 when the
// name does not fit or the directory cannot be created.
char *reserve_in(const char *dir, size_t dir_len, char *buf) {
    static constexpr char kTail[] = "XXXXXX";
    const size_t prefix_len = sizeof kTmpPrefix - 1;
    const size_t tail_len = sizeof kTail - 1;
    // dir + '/' + prefix + tail + NUL must fit.
    if (dir_len > kPathBuf - 2 - prefix_len - tail_len) {
        buf[0] = '\0';
        return nullptr;
    }
    char *p = buf;
    std::memcpy(p, dir, dir_len);
    p += dir_len;
    if (dir_len == 0 || dir[dir_len - 1] != '/') *p++ = '/';
    std::memcpy(p, kTmpPrefix, prefix_len);
    p += prefix_len;
    std::memcpy(p, kTail, tail_len + 1);
    if (::mkdtemp(buf) == nullptr) { // mode 0700
        buf[0] = '\0';
        return nullptr;
    }
    return buf;
}

} // namespace

// In $TMPDIR when it is set and non-empty.  Otherwise in /dev/shm, or in
// /tmp when no name can be reserved there (no such directory, no right to
// write in it, full): a member file lives only while the host reads it,
// and in memory (tmpfs) making and removing one costs a fraction of what
// it costs on a disk file system, where a busy /tmp directory is also
// searched on every create.  Nothing is remembered between calls.
char *tmp_name(char *buf) {
    if (buf == nullptr) return nullptr;
    const char *dir = std::getenv("TMPDIR");
    if (dir != nullptr && *dir != '\0') return reserve_in(dir, std::strlen(dir), buf);
    if (reserve_in(kMemoryTmpDir, sizeof kMemoryTmpDir - 1, buf) != nullptr) return buf;
    return reserve_in("/tmp", 4, buf);
}

// In the directory part of parent->Path; "." when it has none.  A null
// parent falls back to tmp_name().
char *tmp_name_in(const ParentInfo *parent, char *buf) {
    if (buf == nullptr) return nullptr;
    if (parent == nullptr) return tmp_name(buf);
    size_t len = strnlen(parent->Path, sizeof parent->Path);
    if (len == sizeof parent->Path) { // not terminated: refuse to guess
        buf[0] = '\0';
        return nullptr;
    }
    const char *slash = std::strrchr(parent->Path, '/');
    if (slash == nullptr) return reserve_in(".", 1, buf);
    size_t dir_len = static_cast<size_t>(slash - parent->Path);
    if (dir_len == 0) return reserve_in("/", 1, buf);
    return reserve_in(parent->Path, dir_len, buf);
}

void remove_reserved_stem(const char *path) {
    const char *base = std::strrchr(path, '/');
    base = base == nullptr ? path : base + 1;
    const size_t prefix_len = sizeof kTmpPrefix - 1;
    const size_t stem_len = prefix_len + kTmpRandomLen;
    if (std::strncmp(base, kTmpPrefix, prefix_len) != 0) return;
    // The six characters must all be there (no NUL among them) before the dot.
    if (strnlen(base, stem_len + 1) < stem_len + 1 || base[stem_len] != '.') return;
    size_t cut = static_cast<size_t>(base - path) + stem_len;
    if (cut >= kPathBuf) return;
    char stem[kPathBuf];
    std::memcpy(stem, path, cut);
    stem[cut] = '\0';
    ::rmdir(stem); // only while it is an empty directory: never anyone's data
}

} // namespace vtq::oscomm

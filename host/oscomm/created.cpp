// created.cpp - the record of what this process created on disk
//
// The filter's documented clean-up removes work directories, text files and
// empty outputs by path.  Paths can name something else by the time the
// clean-up runs (a directory that was there before, a user's file of the
// same name, a link planted in a shared folder), so the host removes an
// object only when it made that very object: every regular file created by
// VTQ_FileOpen and every directory made by VTQ_MkDir is recorded by device,
// inode and birth time, and a removal first asks (statx, not following a
// link) what the path shows now.  The birth time tells a new object apart
// from ours when ours was removed behind our back and its inode number
// reused, as ext4 and tmpfs do at once; but the kernel stamps births with
// a coarse clock, so one born within the same tick passes, and where a
// file system keeps no birth time device and inode decide alone.
//
// The record also lets an interrupted program take back everything it made
// (remove_all_created).  Creation and recording happen under one lock
// together with the check of the stop flag, so an object is either made
// and recorded before the clean-up looks, or never made.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "host/oscomm/internal.h"

namespace vtq::oscomm {

namespace {

struct Key {
    dev_t dev;
    ino_t ino;
    bool operator==(const Key &) const = default;
};

struct KeyHash {
    size_t operator()(const Key &k) const {
        return std::hash<uint64_t>()(static_cast<uint64_t>(k.ino) * 0x9E3779B97F4A7C15u ^
                                     static_cast<uint64_t>(k.dev));
    }
};

// What tells one object from another.  born is 0 where the file system
// keeps no birth time.
struct Identity {
    Key key;
    uint64_t born; // birth time in nanoseconds
    bool dir;
    bool regular;
};

struct Object {
    bool dir;
    uint64_t born;
    std::string path; // as it was created; the clean-up removes it there
    std::thread::id owner;
};

struct Record {
    std::mutex lock;
    bool stopped = false; // remove_all_created ran: no more creations
    std::unordered_map<Key, Object, KeyHash> objects;
};

// Never destroyed: a signal-handling thread may still use it at exit.
Record &record() {
    static Record *r = new Record;
    return *r;
}

// The identity of path (a link itself, never what it points to), or with
// a null path of the open descriptor fd.  False with errno.
bool IdentityOf(int fd, const char *path, Identity *id) {
    struct statx sx;
    const int r = path == nullptr
                      ? ::statx(fd, "", AT_EMPTY_PATH, STATX_TYPE | STATX_INO | STATX_BTIME, &sx)
                      : ::statx(AT_FDCWD, path, AT_SYMLINK_NOFOLLOW,
                                STATX_TYPE | STATX_INO | STATX_BTIME, &sx);
    if (r != 0) return false;
    id->key = Key{makedev(sx.stx_dev_major, sx.stx_dev_minor), sx.stx_ino};
    id->born =
        (sx.stx_mask & STATX_BTIME) == 0
            ? 0
            : static_cast<uint64_t>(sx.stx_btime.tv_sec) * 1000000000u + sx.stx_btime.tv_nsec;
    id->dir = S_ISDIR(sx.stx_mode);
    id->regular = S_ISREG(sx.stx_mode);
    return true;
}

// The recorded object that id is, or null.  Under the lock.
Object *Find(Record &r, const Identity &id) {
    auto it = r.objects.find(id.key);
    if (it == r.objects.end() || it->second.dir != id.dir || (!id.dir && !id.regular))
        return nullptr;
    if (it->second.born != 0 && id.born != 0 && it->second.born != id.born) return nullptr;
    return &it->second;
}

// Under the lock.  False (nothing recorded) for anything but a regular
// file or a directory, or when the record cannot grow.
bool Insert(Record &r, const Identity &id, const char *path) {
    if (!id.dir && !id.regular) return false;
    try {
        r.objects.insert_or_assign(id.key,
                                   Object{id.dir, id.born, path, std::this_thread::get_id()});
        return true;
    } catch (const std::bad_alloc &) {
        return false;
    }
}

// True when the path of the recorded object at key still shows it.
bool StillThere(const Key &key, const Object &o) {
    Identity now;
    return IdentityOf(-1, o.path.c_str(), &now) && now.key == key && now.dir == o.dir &&
           (o.born == 0 || now.born == 0 || now.born == o.born);
}

// Removes what o stands for when path still shows it.  True when it is
// gone (also when it was gone before); false when it could not be
// removed, or the path shows something else now (moved, or replaced):
// that is not ours to touch.
bool RemoveIfStillThere(const Key &k, const Object &o) {
    if (StillThere(k, o)) return (o.dir ? ::rmdir(o.path.c_str()) : ::unlink(o.path.c_str())) == 0;
    struct stat sb;
    return ::lstat(o.path.c_str(), &sb) != 0 && errno == ENOENT;
}

} // namespace

int create_file(const char *path, int flags) {
    Record &r = record();
    std::lock_guard<std::mutex> hold(r.lock);
    if (r.stopped) {
        errno = EINTR;
        return -1;
    }
    const int fd = ::open(path, flags | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) return -1;
    Identity id;
    const bool known = IdentityOf(fd, nullptr, &id);
    if (known && Insert(r, id, path)) return fd;
    const int err = known ? ENOMEM : errno;
    // Made but not recorded: take it back while it is surely ours.
    Identity now;
    if (known && IdentityOf(-1, path, &now) && now.key == id.key) ::unlink(path);
    ::close(fd);
    errno = err;
    return -1;
}

int create_dir(const char *path) {
    Record &r = record();
    std::lock_guard<std::mutex> hold(r.lock);
    if (r.stopped) {
        errno = EINTR;
        return -1;
    }
    if (::mkdir(path, 0777) != 0) return -1;
    Identity id;
    if (IdentityOf(-1, path, &id) && id.dir && Insert(r, id, path)) return 0;
    ::rmdir(path); // only while empty, and nothing could be put in it yet by us
    errno = ENOMEM;
    return -1;
}

bool is_created(int fd) {
    Identity id;
    if (!IdentityOf(fd, nullptr, &id)) return false;
    Record &r = record();
    std::lock_guard<std::mutex> hold(r.lock);
    return Find(r, id) != nullptr;
}

bool record_created(const char *path) {
    Identity id;
    if (!IdentityOf(-1, path, &id)) return false;
    Record &r = record();
    std::lock_guard<std::mutex> hold(r.lock);
    return Insert(r, id, path);
}

int remove_created(const char *path, bool dir) {
    Record &r = record();
    std::lock_guard<std::mutex> hold(r.lock);
    Identity id;
    if (!IdentityOf(-1, path, &id)) return -1;
    if (id.dir != dir || Find(r, id) == nullptr) {
        errno = EPERM;
        return -1;
    }
    if ((dir ? ::rmdir(path) : ::unlink(path)) != 0) return -1;
    r.objects.erase(id.key);
    return 0;
}

void keep_created() {
    Record &r = record();
    const std::thread::id me = std::this_thread::get_id();
    std::lock_guard<std::mutex> hold(r.lock);
    std::erase_if(r.objects, [me](const auto &entry) { return entry.second.owner == me; });
}

uint32_t remove_all_created() {
    Record &r = record();
    std::lock_guard<std::mutex> hold(r.lock);
    r.stopped = true;
    uint32_t failed = 0;
    // Files first, so that the directories holding them can go empty.
    for (const auto &[key, obj] : r.objects)
        if (!obj.dir) failed += !RemoveIfStillThere(key, obj);
    // Then the directories, the deepest first: one made inside another has
    // the longer path of the two (both came from the same caller's naming).
    std::vector<std::pair<Key, const Object *>> dirs;
    try {
        for (const auto &[key, obj] : r.objects)
            if (obj.dir) dirs.emplace_back(key, &obj);
        std::sort(dirs.begin(), dirs.end(), [](const auto &a, const auto &b) {
            return a.second->path.size() > b.second->path.size();
        });
        for (const auto &[key, obj] : dirs) failed += !RemoveIfStillThere(key, *obj);
    } catch (const std::bad_alloc &) {
        // No room to sort: rmdir refuses a directory that is not yet
        // empty, so passes in any order get there, one level per pass.
        bool progress = true;
        std::erase_if(r.objects, [](const auto &e) { return !e.second.dir; });
        while (progress) {
            progress = false;
            for (auto it = r.objects.begin(); it != r.objects.end();) {
                if (StillThere(it->first, it->second) && ::rmdir(it->second.path.c_str()) == 0) {
                    it = r.objects.erase(it);
                    progress = true;
                } else {
                    ++it;
                }
            }
        }
        for (const auto &[key, obj] : r.objects) failed += !RemoveIfStillThere(key, obj);
    }
    r.objects.clear();
    return failed;
}

} // namespace vtq::oscomm

// file_bytes.cpp - a file's bytes in memory, in place or read (see internal.h)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "host/txif/internal.h"
#include "vtq/standin.h"

namespace vtq::txif {

namespace {

// Closes a descriptor on every exit.
struct Fd {
    int fd;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

// Whether the file at path starts with a ZIP local header.
bool holds_archive(const char *path) {
    const HostFilePtr file(VTQ_FileOpen(path, "rb"));
    unsigned char head[4] = {};
    return file && VTQ_FileRead(head, 1, sizeof head, file.get()) == sizeof head &&
           std::memcmp(head, "PK\x03\x04", 4) == 0;
}

} // namespace

FileBytes::Load FileBytes::load(const char *path) {
    release();
    if (const int state = VTQ_HostStoreState(path);
        state != 0 && VTQ_GetFileSizeByPath(path) >= static_cast<int64_t>(kCopyFrom)) {
        // A large memory file in a memfd is copied, not viewed: a view's
        // pages count in the resident set on top of the filter's buffers,
        // which the host keeps for the next member; the copy reuses one of
        // them.  One in the heap (a member the filter handed over whole)
        // is viewed: its bytes are counted once already.  An archive is
        // viewed, as the nested walk maps it anyway, and the kept buffers
        // go: they would add to all the nested level takes.
        if (holds_archive(path)) {
            VTQ_HostReleaseKept();
        } else if (state != 2) {
            const Load copied = copy_memory_file(path);
            return copied == Load::kOk && state < 0 ? Load::kIncomplete : copied;
        }
    }
    const unsigned char *data = nullptr;
    uint64_t size = 0;
    if (const int view = VTQ_HostStoreView(path, &data, &size); view != 0) {
        data_ = data;
        size_ = static_cast<std::size_t>(size);
        return view > 0 ? Load::kOk : Load::kIncomplete;
    }
    // Not blocking on a FIFO put in the file's place; checked to be a
    // regular file before anything is read.
    Fd f{::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY)};
    if (f.fd < 0) return Load::kOpenFailed;
    struct stat sb;
    if (::fstat(f.fd, &sb) != 0) return Load::kReadFailed;
    if (!S_ISREG(sb.st_mode)) return Load::kOpenFailed;
    const auto want = static_cast<std::size_t>(sb.st_size);
    if (want == 0) return Load::kOk;
    // The host's allocator: large blocks come in huge pages, and the cap
    // that bounds a member bounds this copy of it too.
    auto *buf = static_cast<unsigned char *>(VTQ_malloc(want));
    if (buf == nullptr) return Load::kReadFailed;
    owned_ = buf;
    std::size_t done = 0;
    while (done < want) {
        const ssize_t r = ::pread(f.fd, buf + done, want - done, static_cast<off_t>(done));
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) {
            release();
            return Load::kReadFailed;
        }
        if (r == 0) break; // the file shrank since fstat: take what is there
        done += static_cast<std::size_t>(r);
    }
    data_ = buf;
    size_ = done;
    return Load::kOk;
}

FileBytes::Load FileBytes::copy_memory_file(const char *path) {
    const HostFilePtr file(VTQ_FileOpen(path, "rb"));
    if (!file) return Load::kOpenFailed;
    const int64_t size = VTQ_FileTellSize(file.get());
    if (size <= 0) return size == 0 ? Load::kOk : Load::kReadFailed;
    const auto want = static_cast<std::size_t>(size);
    // The host's allocator: the cap that bounds a member bounds this copy.
    auto *buf = static_cast<unsigned char *>(VTQ_malloc(want));
    if (buf == nullptr) return Load::kReadFailed;
    owned_ = buf;
    std::size_t done = 0;
    while (done < want) {
        const std::size_t got = VTQ_FileRead(buf + done, 1, want - done, file.get());
        if (got == 0) break;
        done += got;
    }
    if (done < want) {
        release();
        return Load::kReadFailed;
    }
    data_ = buf;
    size_ = done;
    return Load::kOk;
}

void FileBytes::release() {
    VTQ_free(owned_);
    owned_ = nullptr;
    data_ = nullptr;
    size_ = 0;
}

} // namespace vtq::txif

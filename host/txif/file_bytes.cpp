// file_bytes.cpp - a file's bytes in memory, in place or read (see internal.h)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

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

} // namespace

FileBytes::Load FileBytes::load(const char *path) {
    release();
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

void FileBytes::release() {
    VTQ_free(owned_);
    owned_ = nullptr;
    data_ = nullptr;
    size_ = 0;
}

} // namespace vtq::txif

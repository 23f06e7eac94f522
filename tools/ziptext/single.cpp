// single.cpp - extract one archive: to standard output, a file or a tree
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "tools/ziptext/commands.h"
#include "tools/ziptext/interrupt.h"
#include "tools/ziptext/messages.h"
#include "vtq/host.h"

namespace ziptext {
namespace {

// A host stream onto a file descriptor, buffered so that the filter's many
// small writes (labels, line breaks) do not each become a system call.
// Remembers the first write error; later writes are dropped.  A reader
// that closed the pipe ends the run (die_of), as SIGPIPE would have
// before the clean-up.
class FdStream {
public:
    explicit FdStream(int fd) : fd_(fd) {
        stream_.Write = &FdStream::write_cb;
        stream_.User = this;
        buf_.reserve(kBuffer);
    }
    VTQ_STREAM *stream() { return &stream_; }
    // Flushes; returns the first error (errno value) or 0.
    int finish() {
        flush();
        return error_;
    }

private:
    static constexpr std::size_t kBuffer = 64 * 1024;

    static int write_cb(void *user, const void *data, uint32_t len) {
        auto *self = static_cast<FdStream *>(user);
        const char *p = static_cast<const char *>(data);
        if (self->buf_.size() + len > kBuffer) self->flush();
        if (len >= kBuffer) return self->write_all(p, len) ? 0 : -1;
        self->buf_.insert(self->buf_.end(), p, p + len);
        return 0;
    }
    void flush() {
        if (!buf_.empty()) write_all(buf_.data(), buf_.size());
        buf_.clear();
    }
    bool write_all(const char *p, std::size_t n) {
        while (n > 0 && error_ == 0) {
            ssize_t w = ::write(fd_, p, n);
            if (w < 0) {
                if (errno == EINTR) continue;
                if (errno == EPIPE) die_of(SIGPIPE);
                error_ = errno;
                break;
            }
            p += w;
            n -= static_cast<std::size_t>(w);
        }
        return error_ == 0;
    }

    VTQ_STREAM stream_{};
    int fd_;
    std::vector<char> buf_;
    int error_ = 0;
};

} // namespace

void report_failure(const std::string &archive, uint32_t code) {
    std::fprintf(stderr, "ziptext: %s: %s (code %u)\n", archive.c_str(),
                 code_meaning(code).c_str(), code);
}

int run_single(const FilterApi &api, const Options &opts) {
    const std::string &archive = opts.archives.front();
    TxtOptions txt = make_txt_options(opts);
    uint32_t code;
    if (!opts.split && (!opts.out || *opts.out == "-")) {
        FdStream out(STDOUT_FILENO);
        code = api.get_text_stream(archive.c_str(), out.stream(), &txt, nullptr, 0);
        if (int err = out.finish(); err != 0) {
            std::fprintf(stderr, "ziptext: %s: cannot write standard output: %s\n",
                         archive.c_str(), std::strerror(err));
            return 1;
        }
    } else {
        // Split modes need an output path: its directory is where the
        // work directory (or, flat, the texts) go.
        std::string out_path = opts.out ? *opts.out : text_name_in("", archive);
        // The filter places nested split-mode work directories from the
        // directory of this path; a bare file name has none, and would
        // put them at the root of the file system.
        if (out_path.find('/') == std::string::npos) out_path = "./" + out_path;
        code = api.get_text(archive.c_str(), out_path.c_str(), &txt, nullptr, 0);
    }
    if (code == VTQ_OK) return 0;
    report_failure(archive, code);
    return 1;
}

} // namespace ziptext

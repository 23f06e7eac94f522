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
#include "vtq/standin.h"

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
    std::fprintf(stderr, "%s\n", failure_line(archive, code).c_str());
}

Outcome extract_archive(const FilterApi &api, const std::string &archive, Target &t,
                        const TxtOptions &txt) {
    Outcome o;
    VTQ_HostFailureClear();
    std::string error;
    if (!open_target(&t, &error)) {
        o.lines.push_back(error);
        return o;
    }
    uint32_t code;
    int stream_error = 0;
    if (t.kind == Target::Kind::kStream) {
        FdStream out(t.fd);
        code = api.get_text_stream(archive.c_str(), out.stream(), &txt, nullptr, 0);
        stream_error = out.finish();
    } else {
        code = api.get_text(archive.c_str(), filter_out_path(t).c_str(), &txt, nullptr, 0);
    }
    const ShownPath shown{t.temp, t.path};
    if (stream_error != 0)
        o.lines.push_back(t.path.empty()
                              ? "ziptext: " + archive +
                                    ": cannot write standard output: " + std::strerror(stream_error)
                              : "ziptext: cannot write '" + t.path +
                                    "': " + std::strerror(stream_error));
    // The host's record of lost data; the output is then not installed.
    // A short member write (24) names the same failure itself.
    const std::string code_line = code != VTQ_OK ? failure_line(archive, code, shown) : "";
    const std::string lost = write_failure_line(shown);
    if (!lost.empty() && code_line.rfind(lost, 0) != 0) o.lines.push_back(lost);
    if (!finish_target(&t, lost.empty() && stream_error == 0, &error)) o.lines.push_back(error);
    if (!code_line.empty()) o.lines.push_back(code_line);
    return o;
}

int run_single(const FilterApi &api, const Options &opts) {
    const std::string &archive = opts.archives.front();
    Target target;
    std::string error;
    const Inputs inputs(opts.archives);
    if (!plan_target(opts.out ? &*opts.out : nullptr, archive, opts.split, &target, &error) ||
        !refuse_inputs(api, target, archive, opts.flat, inputs, &error)) {
        std::fprintf(stderr, "ziptext: %s\n", error.c_str());
        return 2;
    }
    const Outcome o = extract_archive(api, archive, target, make_txt_options(opts));
    for (const std::string &line : o.lines) std::fprintf(stderr, "%s\n", line.c_str());
    return o.lines.empty() ? 0 : 1;
}

} // namespace ziptext

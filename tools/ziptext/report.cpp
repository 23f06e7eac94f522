// report.cpp - what ziptext tells about an archive: a line per failed member, then the archive's
//
// Extended mode names each member that gave no text, with the chain of
// archives it is in ("ziptext: a.zip: inner.zip: x.txt: CRC mismatch (code
// 3102)"), and ends with "ziptext: a.zip: 2 of 40 members failed".  The
// archive's own line, the documented one, comes when no member said why
// the result is not 0 (strict mode always), or when the host's record
// names the file that failed.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tools/ziptext/commands.h"
#include "tools/ziptext/interrupt.h"
#include "tools/ziptext/json.h"
#include "tools/ziptext/progress.h"

namespace ziptext {
namespace {

// The archive-level meaning of a code; 12 names the member-size cap in force.
std::string meaning(uint32_t code) {
    if (code == 12)
        return "memory exhausted (a member may be larger than the member-size cap of " +
               std::to_string(zt_member_size_cap()) + " bytes; see --max-member-size)";
    const char *m = zt_code_meaning(code);
    return m != nullptr ? m : "unexpected result";
}

} // namespace

std::string result_text(const zt_summary &s) {
    if (s.code == 0) return "";
    return s.cause[0] != '\0' ? s.cause : meaning(s.code);
}

std::string shown(const std::string &text) {
    std::string out;
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7F) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\x%02x", c);
            out += esc;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

void ArchiveRun::line(const std::string &text) {
    failed = true;
    if (!live) {
        lines.push_back(text);
        return;
    }
    if (progress != nullptr) progress->clear();
    std::fprintf(stderr, "%s\n", text.c_str());
}

void ArchiveRun::on_member(void *user, const zt_member *m) {
    auto *run = static_cast<ArchiveRun *>(user);
    if (run->json != nullptr) run->json->member(*m);
    if (!m->failed) return;
    run->failed = true;
    if (run->quiet) return;
    std::string text = "ziptext: " + run->archive;
    for (uint32_t i = 0; i <= m->depth; ++i) text += ": " + shown(m->path[i]);
    text += ": " + std::string(m->error != nullptr ? m->error : "failed") + " (code " +
            std::to_string(m->code) + ")";
    run->line(text);
}

void ArchiveRun::on_progress(void *user, const zt_progress *p) {
    auto *run = static_cast<ArchiveRun *>(user);
    if (run->progress != nullptr) run->progress->update(*p);
}

void ArchiveRun::close(const zt_summary &s) {
    for (std::size_t at = 0; at < std::strlen(s.message);) {
        const char *end = std::strchr(s.message + at, '\n');
        const std::size_t len = end != nullptr ? static_cast<std::size_t>(end - s.message) - at
                                               : std::strlen(s.message) - at;
        line("ziptext: " + std::string(s.message + at, len));
        at += len + 1;
    }
    // Members' lines tell a member's failure; a failure of the host's
    // services is told by what failed, whatever came before.
    if (s.code != 0 && (s.failed == 0 || s.cause[0] != '\0')) {
        const std::string what = s.cause[0] != '\0' ? s.cause : archive + ": " + meaning(s.code);
        line("ziptext: " + what + " (code " + std::to_string(s.code) + ")");
    }
    if (s.failed > 0)
        line("ziptext: " + archive + ": " + std::to_string(s.failed) + " of " +
             std::to_string(s.members) + " members failed");
    if (s.code != 0 || s.failed > 0) failed = true;
}

int FdWriter::write(void *user, const void *data, size_t len) {
    auto *self = static_cast<FdWriter *>(user);
    const char *p = static_cast<const char *>(data);
    while (len > 0 && self->error == 0) {
        const ssize_t w = ::write(self->fd, p, len);
        if (w < 0 && errno == EINTR) continue;
        if (w < 0 && errno == EPIPE) die_of(SIGPIPE);
        if (w <= 0) {
            self->error = w < 0 ? errno : EIO;
            break;
        }
        p += w;
        len -= static_cast<std::size_t>(w);
    }
    return self->error;
}

namespace {

// Standard input larger than the member-size cap goes to a file that has
// no name (O_TMPFILE, mode 0600) in TMPDIR or /tmp: no other user can see,
// open or replace it, and it is gone when the tool ends, however it ends.
// Where the file system has no O_TMPFILE, a mkstemp name is unlinked at
// once.  The library opens it again as /proc/self/fd/N.  -1 with errno.
int unnamed_file(std::string *dir) {
    const char *env = std::getenv("TMPDIR");
    *dir = env != nullptr && *env != '\0' ? env : "/tmp";
    int fd = ::open(dir->c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) return fd;
    std::string name = *dir + "/ziptext-stdin-XXXXXX";
    fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd >= 0) ::unlink(name.c_str());
    return fd;
}

bool write_all(int fd, const char *p, std::size_t n) {
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
            if (w == 0) errno = ENOSPC;
            return false;
        }
        p += w;
        n -= static_cast<std::size_t>(w);
    }
    return true;
}

} // namespace

bool read_standard_input(Input *in, std::string *error) {
    const uint64_t cap = zt_member_size_cap();
    std::string bytes, dir;
    char buf[65536];
    auto fail = [&](const std::string &what) {
        *error = "ziptext: -: " + what + ": " + std::strerror(errno);
        if (in->fd >= 0) ::close(in->fd);
        in->fd = -1;
        return false;
    };
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return fail("cannot read standard input");
        if (n == 0) break;
        if (in->fd < 0 && bytes.size() + static_cast<std::size_t>(n) > cap) {
            in->fd = unnamed_file(&dir);
            if (in->fd < 0) return fail("cannot make a temporary file in " + dir);
            if (!write_all(in->fd, bytes.data(), bytes.size()))
                return fail("cannot hold standard input in a temporary file in " + dir);
            bytes = std::string();
        }
        if (in->fd < 0)
            bytes.append(buf, static_cast<std::size_t>(n));
        else if (!write_all(in->fd, buf, static_cast<std::size_t>(n)))
            return fail("cannot hold standard input in a temporary file in " + dir);
    }
    if (in->fd >= 0) {
        in->path = "/proc/self/fd/" + std::to_string(in->fd);
        return true;
    }
    char path[64];
    const uint32_t code = zt_memory_archive(bytes.data(), bytes.size(), path, sizeof path);
    if (code != 0) {
        *error = "ziptext: -: " + meaning(code) + " (code " + std::to_string(code) + ")";
        return false;
    }
    in->path = path;
    return true;
}

void release_input(const Input &in) {
    if (in.fd >= 0)
        ::close(in.fd);
    else if (in.name == "-" && !in.path.empty() && in.path != in.name)
        zt_memory_release(in.path.c_str());
}

} // namespace ziptext

// target.cpp - classify, check and open the output of one archive
#include "tools/ziptext/target.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <string_view>

#include "lib/ziptext/out_file.h"
#include "tools/ziptext/options.h"
#include "ziptext.h"

namespace ziptext {
namespace {

// The descriptor a path stands for, as the shell's /dev/stdout and the
// kernel's fd directories name one, or -1.  Such a path is never opened:
// its descriptor is duplicated, so it is written exactly as standard
// output would be, whatever it refers to.
int named_descriptor(const std::string &path) {
    if (path == "/dev/stdout") return STDOUT_FILENO;
    if (path == "/dev/stderr") return STDERR_FILENO;
    for (std::string_view prefix : {"/dev/fd/", "/proc/self/fd/"}) {
        if (path.compare(0, prefix.size(), prefix) != 0) continue;
        const char *first = path.data() + prefix.size(), *last = path.data() + path.size();
        int fd = -1;
        auto [end, ec] = std::from_chars(first, last, fd);
        if (ec == std::errc() && end == last && first != last) return fd;
    }
    return -1;
}

bool is_stream_kind(mode_t mode) { return S_ISFIFO(mode) || S_ISCHR(mode) || S_ISSOCK(mode); }

// The folder in which the filter places what an output path locates, with
// its "/": "./" for a path without one (or with its only "/" first, which
// the filter takes as no directory part).
std::string folder_of(const std::string &path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos || slash == 0 ? "./" : path.substr(0, slash + 1);
}

std::string base_of(const std::string &path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A flat-mode member's text file name, as the stand-in host forms it from
// the member file's base name: the last extension replaced by ".txt", and
// ".txt" once more when that names the member file itself.
std::string text_name(const std::string &base) {
    const std::size_t dot = base.rfind('.');
    std::string text = (dot == std::string::npos ? base : base.substr(0, dot)) + ".txt";
    return text == base ? text + ".txt" : text;
}

} // namespace

Inputs::Inputs(const std::vector<std::string> &archives) {
    for (const std::string &a : archives) {
        struct stat st;
        if (a == "-" ? fstat(STDIN_FILENO, &st) == 0 : ::stat(a.c_str(), &st) == 0)
            list.push_back({st.st_dev, st.st_ino, a == "-" ? "standard input" : a});
    }
}

const Inputs::Input *Inputs::find(const struct stat &st) const {
    for (const Input &in : list)
        if (in.dev == st.st_dev && in.ino == st.st_ino) return &in;
    return nullptr;
}

const Inputs::Input *Inputs::find(const std::string &path) const {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? find(st) : nullptr;
}

bool plan_target(const std::string *path, const std::string &archive, bool split, Target *t,
                 std::string *error) {
    if (!split && (path == nullptr || *path == "-")) {
        t->kind = Target::Kind::kStream;
        t->source_fd = STDOUT_FILENO;
        return true;
    }
    t->path = path != nullptr ? *path : text_name_in("", archive);
    auto refuse = [&](const char *why) {
        *error = "refusing to write to '" + t->path + "': " + why;
        return false;
    };
    const char *not_regular = "--split and --flat place their files beside a regular file";
    if (const int fd = named_descriptor(t->path); fd >= 0) {
        if (split) return refuse(not_regular);
        if (fcntl(fd, F_GETFD) < 0) return refuse(std::strerror(errno));
        t->kind = Target::Kind::kStream;
        t->source_fd = fd;
        return true;
    }
    // A name that cannot be looked at (a missing folder, no permission)
    // counts as free; creating it then fails with its own reason.
    struct stat st;
    const bool exists = ::lstat(t->path.c_str(), &st) == 0;
    if (!exists || S_ISREG(st.st_mode)) {
        t->kind = split ? Target::Kind::kSplit : Target::Kind::kFile;
        return true;
    }
    if (S_ISDIR(st.st_mode)) return refuse("it is a directory");
    if (split) return refuse(not_regular);
    if (S_ISLNK(st.st_mode)) {
        // Only a link to a FIFO or device is followed: writing through it
        // replaces nothing.  A link to a file would be replaced by the new
        // output, not the file it names.
        struct stat to;
        if (::stat(t->path.c_str(), &to) != 0 || !is_stream_kind(to.st_mode))
            return refuse("it is a symbolic link (name what it points to)");
    } else if (!is_stream_kind(st.st_mode)) {
        return refuse("it is a block device");
    }
    t->kind = Target::Kind::kStream;
    t->source_fd = -1;
    return true;
}

namespace {

// The top-level member names of archive, as stored and as shown, for
// refuse_inputs: zt_list hands them over one by one.
struct TopNames {
    std::vector<std::string> names;
    static void add(void *user, const zt_member *m) {
        if (m->depth != 0) return;
        auto *self = static_cast<TopNames *>(user);
        self->names.emplace_back(m->name);
        self->names.emplace_back(m->path[0]);
    }
};

} // namespace

bool refuse_inputs(const Target &t, const std::string &archive, bool flat, const Inputs &inputs,
                   bool strict, std::string *error) {
    const Inputs::Input *hit = nullptr;
    struct stat st;
    switch (t.kind) {
    case Target::Kind::kStream:
        if (t.source_fd >= 0 ? fstat(t.source_fd, &st) == 0 : ::stat(t.path.c_str(), &st) == 0)
            hit = inputs.find(st);
        break;
    case Target::Kind::kFile:
        hit = inputs.find(t.path);
        break;
    case Target::Kind::kSplit: {
        const std::string dir =
            folder_of(t.path.find('/') == std::string::npos ? "./" + t.path : t.path);
        if (!flat) {
            // An existing name gets a fresh one ("DIR" appended), except
            // when that would not fit the filter's 4095 bytes.
            const std::string work = dir + base_of(archive);
            if (work.size() + 3 > 4095) hit = inputs.find(work);
            break;
        }
        // An archive that cannot be read fails before any member is
        // written: the names it gives are all there is to check.
        TopNames top;
        zt_options o{};
        o.size = sizeof o;
        o.flags = strict ? ZT_STRICT : 0;
        o.on_member = &TopNames::add;
        o.user = &top;
        zt_list(archive.c_str(), &o, nullptr);
        for (const std::string &name : top.names) {
            const std::string base = base_of(name);
            if (base.empty() || hit != nullptr) continue; // a directory entry
            hit = inputs.find(dir + base);
            if (hit == nullptr) hit = inputs.find(dir + text_name(base));
        }
        break;
    }
    }
    if (hit == nullptr) return true;
    *error = "refusing to write over the input archive '" + hit->path + "'";
    return false;
}

bool open_target(Target *t, std::string *error) {
    if (t->kind != Target::Kind::kStream) return true;
    if (t->source_fd >= 0) {
        t->fd = fcntl(t->source_fd, F_DUPFD_CLOEXEC, 3);
        if (t->fd < 0)
            *error = cannot("write", t->path.empty() ? "standard output" : t->path, errno);
        return t->fd >= 0;
    }
    // Neither created nor truncated: a FIFO or device is written as it is.
    t->fd = ::open(t->path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (t->fd < 0) {
        *error = cannot("open", t->path, errno);
        return false;
    }
    // What was classified may have been replaced since; a regular file
    // opened without truncation would be written over in place.
    struct stat st;
    if (fstat(t->fd, &st) != 0 || !is_stream_kind(st.st_mode)) {
        ::close(t->fd);
        t->fd = -1;
        *error = "cannot open '" + t->path + "': no longer a FIFO or device";
        return false;
    }
    return true;
}

void close_target(Target *t) {
    if (t->fd >= 0) ::close(t->fd);
    t->fd = -1;
}

} // namespace ziptext

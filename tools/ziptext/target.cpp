// target.cpp - classify, check, open and install the output of one archive
#include "tools/ziptext/target.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <mutex>
#include <string_view>

#include "tools/ziptext/central.h"
#include "tools/ziptext/interrupt.h"
#include "tools/ziptext/options.h"
#include "vtq/standin.h"

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

// Why the host refused a call, as the failure record of kind tells it.
int host_errno(uint32_t kind) {
    VTQ_HostFailure rec;
    return VTQ_HostFailureGet(kind, &rec) ? rec.Errno : errno;
}

std::string cannot(const char *verb, const std::string &path, int err) {
    return "ziptext: cannot " + std::string(verb) + " '" + path + "': " + std::strerror(err);
}

// Picks a free name beside path for the extraction to write: the host
// creates it exclusively, which proves that the name is free and the folder
// writable, and it is removed again at once.  The filter then creates it
// afresh when it has output to write, so that an extraction that never
// opens its output still ends with its own result and not with "empty".
bool reserve_fresh_name(Target *t, std::string *error) {
    static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    const std::size_t slash = t->path.rfind('/');
    const std::string dir = slash == std::string::npos ? "" : t->path.substr(0, slash + 1);
    // Keep the name well within the 255 bytes a file name may have.
    // Appended piece by piece: GCC 12 at -O3 (the bench preset) reports a
    // false overlap in the "." + string form.
    std::string stem = ".";
    stem += base_of(t->path).substr(0, 200);
    stem += ".ziptext-";
    for (int attempt = 0; attempt < 100; ++attempt) {
        unsigned char random[6];
        if (getrandom(random, sizeof random, 0) != sizeof random) break;
        std::string name = dir + stem;
        for (unsigned char r : random) name += kAlphabet[r % (sizeof kAlphabet - 1)];
        VTQ_FILE *f = VTQ_FileOpen(name.c_str(), "wb");
        if (f == nullptr) {
            const int err = host_errno(VTQ_HOST_FAIL_OPEN);
            if (err == EEXIST) continue;
            *error = cannot("create", t->path, err);
            return false;
        }
        VTQ_FileClose(f);
        VTQ_ASC_remove(name.c_str());
        t->temp = std::move(name);
        return true;
    }
    *error = cannot("create", t->path, EEXIST);
    return false;
}

// Puts the extraction's file in place of t->path.  True when it was not
// there to install (the filter removed it, or never wrote one) or is
// installed; false with a message when the rename failed or the file there
// is no longer the one the extraction made.
bool install(Target *t, std::string *error) {
    const int fd = ::open(t->temp.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return true;
        *error = cannot("replace", t->path, errno);
        return false;
    }
    struct stat st;
    bool ours = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    // An old file's permissions go to its replacement, so that a private
    // output stays private.
    if (ours && t->existed) fchmod(fd, t->old.st_mode & 07777);
    ::close(fd);
    if (!ours) {
        *error =
            "ziptext: cannot replace '" + t->path + "': '" + t->temp + "' is not a regular file";
        return false;
    }
    if (::rename(t->temp.c_str(), t->path.c_str()) != 0) {
        *error = cannot("replace", t->path, errno);
        return false;
    }
    return true;
}

} // namespace

Inputs::Inputs(const std::vector<std::string> &archives) {
    for (const std::string &a : archives) {
        struct stat st;
        if (::stat(a.c_str(), &st) == 0) list.push_back({st.st_dev, st.st_ino, a});
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
        t->existed = exists;
        t->old = st;
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

bool refuse_inputs(const FilterApi &api, const Target &t, const std::string &archive, bool flat,
                   const Inputs &inputs, std::string *error) {
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
        const std::string dir = folder_of(filter_out_path(t));
        if (!flat) {
            // An existing name gets a fresh one ("DIR" appended), except
            // when that would not fit the filter's 4095 bytes.
            const std::string work = dir + base_of(archive);
            if (work.size() + 3 > 4095) hit = inputs.find(work);
            break;
        }
        CentralWalk walk(api);
        ZipEntryInfo info{};
        std::string raw;
        uint32_t code = 0;
        // An archive that cannot be read fails before any member is written.
        if (!walk.open(archive, &code)) break;
        while (hit == nullptr && walk.next(&info, &raw, &code)) {
            const std::string base = base_of(raw);
            if (base.empty()) continue; // a directory entry
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

std::string filter_out_path(const Target &t) {
    if (t.kind == Target::Kind::kFile) return t.temp;
    // The filter places nested split-mode work directories from the
    // directory of this path; a bare file name has none, and would put
    // them at the root of the file system.
    if (t.kind == Target::Kind::kSplit && t.path.find('/') == std::string::npos)
        return "./" + t.path;
    return t.path;
}

bool open_target(Target *t, std::string *error) {
    if (t->kind == Target::Kind::kFile) return reserve_fresh_name(t, error);
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
        *error = "ziptext: cannot open '" + t->path + "': no longer a FIFO or device";
        return false;
    }
    return true;
}

bool finish_target(Target *t, bool written, std::string *error) {
    if (t->fd >= 0) ::close(t->fd);
    t->fd = -1;
    bool ok = true;
    std::lock_guard<std::mutex> lock(install_lock());
    if (t->kind == Target::Kind::kFile && !t->temp.empty()) {
        if (written) ok = install(t, error);
        if (!written || !ok) VTQ_ASC_remove(t->temp.c_str());
    }
    VTQ_HostKeepCreated();
    return ok;
}

} // namespace ziptext

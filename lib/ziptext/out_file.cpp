// out_file.cpp - a regular file written fresh beside its name, put in place when complete
#include "lib/ziptext/out_file.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "vtq/standin.h"

namespace ziptext {

std::string cannot(const char *verb, const std::string &path, int err) {
    return "cannot " + std::string(verb) + " '" + path + "': " + std::strerror(err);
}

bool reserve_out_file(const std::string &path, bool keep_created, OutFile *f, std::string *error) {
    f->path = path;
    struct stat st;
    // A name that cannot be looked at (a missing folder, no permission)
    // counts as free; creating the fresh file then fails with its reason.
    f->existed = ::lstat(path.c_str(), &st) == 0;
    if (f->existed && !S_ISREG(st.st_mode)) {
        *error = "cannot write '" + path + "': not a regular file";
        return false;
    }
    f->old_mode = f->existed ? st.st_mode & 07777 : 0;
    static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    const std::size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    // Keep the name well within the 255 bytes a file name may have.
    // Appended piece by piece: GCC 12 at -O3 (the bench preset) reports a
    // false overlap in the "." + string form.
    std::string stem = ".";
    stem += base.substr(0, 200);
    stem += ".ziptext-";
    for (int attempt = 0; attempt < 100; ++attempt) {
        unsigned char random[6];
        if (getrandom(random, sizeof random, 0) != sizeof random) break;
        std::string name = dir + stem;
        for (unsigned char r : random) name += kAlphabet[r % (sizeof kAlphabet - 1)];
        VTQ_FILE *file = VTQ_FileOpen(name.c_str(), "wb");
        if (file == nullptr) {
            VTQ_HostFailure rec;
            const int err = VTQ_HostFailureGet(VTQ_HOST_FAIL_OPEN, &rec) ? rec.Errno : errno;
            if (err == EEXIST) continue;
            *error = cannot("create", path, err);
            return false;
        }
        VTQ_FileClose(file);
        if (!keep_created) VTQ_ASC_remove(name.c_str());
        f->temp = std::move(name);
        return true;
    }
    *error = cannot("create", path, EEXIST);
    return false;
}

bool install_out_file(const OutFile &f, std::string *error) {
    const int fd = ::open(f.temp.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return true;
        *error = cannot("replace", f.path, errno);
        return false;
    }
    struct stat st;
    const bool ours = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    // An old file's permissions go to its replacement, so that a private
    // output stays private.
    if (ours && f.existed) fchmod(fd, f.old_mode);
    ::close(fd);
    if (!ours) {
        *error = "cannot replace '" + f.path + "': '" + f.temp + "' is not a regular file";
        return false;
    }
    if (::rename(f.temp.c_str(), f.path.c_str()) != 0) {
        *error = cannot("replace", f.path, errno);
        return false;
    }
    return true;
}

void discard_out_file(const OutFile &f) {
    if (!f.temp.empty()) VTQ_ASC_remove(f.temp.c_str());
}

} // namespace ziptext

// target.h - where the text of one archive goes, and how it gets there
//
// An output is classified before anything is touched.  Composed text goes
// either to a descriptor through the stream entry point (standard output, a
// descriptor named as /dev/fd/N and the like, a FIFO, a character device),
// or to a regular file, which the extraction writes as a fresh file beside
// it and which replaces the old one only when the extraction produced it.
// In split and flat mode the path only places the work directory or texts.
#pragma once

#include <sys/stat.h>

#include <string>
#include <vector>

#include "tools/ziptext/filter_api.h"

namespace ziptext {

struct Target {
    enum class Kind { kStream, kFile, kSplit };
    Kind kind = Kind::kStream;
    std::string path; // as named on the command line; "" for standard output
    // kStream: the descriptor to duplicate (standard output, /dev/fd/N), or
    // -1 when path is opened itself (a FIFO, a character device).
    int source_fd = -1;
    int fd = -1;          // kStream, once opened
    bool existed = false; // kFile: path named a regular file
    struct stat old {};   // kFile: that file, as classified
    std::string temp;     // kFile, once reserved: the file the extraction writes
};

// Classifies the output of archive: path is -o OUT (or DIR/name.txt), null
// when none was given.  False with a usage message in *error (without the
// "ziptext: " prefix) for an output that must not be written: a directory, a
// block device, a symbolic link other than one to a FIFO, character device
// or socket, an unopened /dev/fd/N; in split mode anything but a regular
// file or a free name.
bool plan_target(const std::string *path, const std::string &archive, bool split, Target *t,
                 std::string *error);

// The archives of a run, as device and inode, to refuse any output that is one.
struct Inputs {
    struct Input {
        dev_t dev;
        ino_t ino;
        std::string path;
    };
    std::vector<Input> list;
    explicit Inputs(const std::vector<std::string> &archives);
    // The input that the object st is, or null.
    const Input *find(const struct stat &st) const;
    // The input that path names (following links), or null when path names
    // none or nothing.
    const Input *find(const std::string &path) const;
};

// False with a usage message when t would write over one of the inputs:
// its output (or the descriptor it writes to), in split mode a work
// directory that would have to be the archive itself (no fresh name fits),
// in flat mode a member file or text file of the archive's top level.
bool refuse_inputs(const FilterApi &api, const Target &t, const std::string &archive, bool flat,
                   const Inputs &inputs, std::string *error);

// The path the filter gets as its output path (kFile: the fresh file).
std::string filter_out_path(const Target &t);

// Opens a kStream target's descriptor, or reserves a kFile target's fresh
// file through the host (so that the host lets the filter open it "wb" and
// removes it on an interruption).  False with a message line in *error.
bool open_target(Target *t, std::string *error);

// After the extraction, on the thread that opened t.  kFile: when the
// fresh file is still there and written is true, it replaces path (taking
// the old file's permissions); otherwise it is removed and an old file stays
// as it was.  Then the host keeps what this archive made.  A stream's
// descriptor is closed when it was opened here.  False with a message line
// in *error when the file could not be installed.
bool finish_target(Target *t, bool written, std::string *error);

} // namespace ziptext

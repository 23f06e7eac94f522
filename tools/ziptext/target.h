// target.h - where the text of one archive goes, classified before anything is touched
//
// Composed text goes either to a descriptor (standard output, a descriptor
// named as /dev/fd/N and the like, a FIFO, a character device), written as
// it comes, or to a regular file, which libziptext writes as a fresh file
// beside it and puts in place only when complete.  In split and flat mode
// the path only places the work directory or texts.
#pragma once

#include <sys/stat.h>

#include <string>
#include <vector>

namespace ziptext {

struct Target {
    enum class Kind { kStream, kFile, kSplit };
    Kind kind = Kind::kStream;
    std::string path; // as named on the command line; "" for standard output
    // kStream: the descriptor to duplicate (standard output, /dev/fd/N), or
    // -1 when path is opened itself (a FIFO, a character device).
    int source_fd = -1;
    int fd = -1; // kStream, once opened
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
    // "-" stands for standard input, whatever it is.
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
// in flat mode a member file or text file of the archive's top level (the
// names as the library lists them: as stored and as shown).
bool refuse_inputs(const Target &t, const std::string &archive, bool flat, const Inputs &inputs,
                   bool strict, std::string *error);

// Opens a kStream target's descriptor; nothing for the other kinds.  False
// with a message line in *error.
bool open_target(Target *t, std::string *error);

// Closes a descriptor open_target opened.
void close_target(Target *t);

} // namespace ziptext

// out_file.h - a regular file written fresh beside its name, put in place when complete
//
// An output file is never written in place: the text goes to a fresh file
// in the same folder, ".<name>.ziptext-XXXXXX", which replaces the output
// (rename, keeping the old file's permissions) only when it is complete.
// The fresh name is created exclusively through the host, which proves it
// free and the folder writable, and makes it one of the objects the host
// removes on an interruption (VTQ_HostRemoveCreated).  Shared by the
// library's compose mode and the tool's JSON output.
#pragma once

#include <sys/types.h>

#include <string>

namespace ziptext {

struct OutFile {
    std::string path;     // the output, as named
    std::string temp;     // the fresh file, once reserved
    bool existed = false; // path named a regular file
    mode_t old_mode = 0;  // its permissions
};

// Looks at path (without following a last link) and picks the fresh name.
// When keep_created is true the fresh file stays created and empty, for the
// caller to open with a "w" mode; else it is removed again, for a writer
// that creates it afresh.  False with a message line (no program name)
// when path names anything but a regular file or nothing, or no fresh name
// can be created.
bool reserve_out_file(const std::string &path, bool keep_created, OutFile *f, std::string *error);

// Puts the fresh file in place of path.  True when it is installed or was
// not there to install (its writer removed it, or never made it); false
// with a message line when the rename failed or the file there is no longer
// a regular file.
bool install_out_file(const OutFile &f, std::string *error);

// Removes the fresh file (through the host: only when this process made it).
void discard_out_file(const OutFile &f);

// "cannot VERB 'PATH': REASON"
std::string cannot(const char *verb, const std::string &path, int err);

} // namespace ziptext

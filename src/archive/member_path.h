// member_path.h - where an extracted member goes: member file names, work
// directory prefixes, flat-mode text paths
//
// Every path here lives in a VTQ_PATH_MAX buffer and is built with bounded
// appends; a path that would not fit (with its NUL) is reported, never cut.
#pragma once

#include <cstddef>
#include <cstdint>

#include "vtq/zozaz.h"

namespace vtq {

// The longest path a VTQ_PATH_MAX buffer holds with its NUL.
inline constexpr size_t kPathLenMax = VTQ_PATH_MAX - 1;

// A NUL-terminated path being built in a VTQ_PATH_MAX buffer.
class PathBuilder {
public:
    // Starts an empty path in buf.
    explicit PathBuilder(char *buf) : buf_(buf) { buf_[0] = '\0'; }
    // Continues the path of len bytes already in buf (len <= kPathLenMax).
    PathBuilder(char *buf, size_t len) : buf_(buf), len_(len) { buf_[len_] = '\0'; }
    // Appends n bytes of s.  Returns false, with the path unchanged, when the
    // result would be longer than kPathLenMax.
    bool Append(const char *s, size_t n);
    bool Append(const char *s);
    size_t size() const { return len_; }
    // Cuts the path back to n bytes (n <= size()).
    void Truncate(size_t n);

private:
    char *buf_;
    size_t len_ = 0;
};

// True when name has a ".." component ("/" separates components): such a
// name would put a file or directory above the work directory.
bool HasDotDotComponent(const char *name);

// The part of name after its last "/", the whole name when it has none.
const char *BaseName(const char *name);

// Compose mode: the four-byte suffix "." + the last three bytes of name, or
// "." + the whole name when it is shorter, with every "/" turned into "_"
// so that the suffix never names a directory.  out has room for 5 bytes.
void ComposeSuffix(const char *name, char *out);

// Split mode: makes, with zip_makepath in plain mode, DstFileTmp + "/" and
// then DstFileTmp + "/" + every prefix of name that ends before one of its
// "/" (for a/b/c: the work directory + "/", "/a", "/a/b").  Prefixes whose
// path would not fit in a path buffer are not made.  scratch is a
// VTQ_PATH_MAX buffer.  Results of zip_makepath are not examined: a member
// whose directory is missing fails when its file is opened.
void MakeDirPrefixes(ZipBus *bus, const char *name, char *scratch);

} // namespace vtq

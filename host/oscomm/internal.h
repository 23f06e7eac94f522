// internal.h - helpers shared between the stand-in runtime's own files
#pragma once

namespace vtq::oscomm {

// The prefix of every reserved temporary name: "vtqz-" and six characters.
inline constexpr char kTmpPrefix[] = "vtqz-";
inline constexpr unsigned kTmpRandomLen = 6;

// When path's base name is "vtqz-XXXXXX.<anything>" (a member file made
// beside a reserved name), removes the reserved stem "…/vtqz-XXXXXX" if it
// is still an empty directory.  Anything else is left alone.
void remove_reserved_stem(const char *path);

} // namespace vtq::oscomm

// messages.h - what ziptext tells the user about a result code
#pragma once

#include <cstdint>
#include <string>

namespace ziptext {

// The meaning of a result code, as one line of text without the code
// itself; 12 names the member-size cap in force.  Unknown codes get a
// generic text.
std::string code_meaning(uint32_t code);

// The largest single allocation the host grants, as the host reads it
// (VTQ_MAX_ALLOC, bytes; 512 MiB when unset or unreadable).
uint64_t member_size_cap();

// A path as messages show it: the fresh file an output is written to is
// shown under the output's own name.
struct ShownPath {
    std::string temp, shown;
    std::string operator()(const std::string &path) const {
        return !temp.empty() && path == temp ? shown : path;
    }
};

// The line for a failed result code.  For a code the host's services
// produce (22, 24 to 27) it names what failed from the host's failure record
// of that kind: "ziptext: cannot create 'out/a.txt': Permission denied (code
// 22)"; for any other code, or when the host recorded nothing of the kind,
// it names the archive: "ziptext: ARCHIVE: <meaning> (code N)".
std::string failure_line(const std::string &archive, uint32_t code, const ShownPath &shown = {});

// "ziptext: cannot write 'PATH': REASON" when the host recorded a failed
// write, flush or close since its records were last cleared; else "".
std::string write_failure_line(const ShownPath &shown = {});

} // namespace ziptext

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

} // namespace ziptext

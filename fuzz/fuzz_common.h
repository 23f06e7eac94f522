// fuzz_common.h - what the harnesses share: a private directory, its
// listing, and a hard stop that libFuzzer reports as a crash
//
// The harnesses are plain C++ with the libFuzzer entry points; the same
// sources build the fuzzers (clang, -fsanitize=fuzzer) and the replay
// drivers of the normal build (replay_main.cc supplies main()).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vtq::fuzz {

// Prints what went wrong, with the input's size, and aborts: libFuzzer
// saves the input as a crash.
[[noreturn]] void Die(const std::string &what);

// A directory of this process's own (see fuzz_common.cc for where),
// removed at a normal exit and kept after a finding.  Made on first use.
const std::string &PrivateDir();

// Writes bytes to path, replacing it.  Dies when that fails: a harness
// that cannot write its input tests nothing.
void WriteBytes(const std::string &path, const uint8_t *data, size_t size);

// Every path below dir, relative; directories end in "/".  Sorted.
std::vector<std::string> Listing(const std::string &dir);

// Removes everything inside dir, keeping dir itself.
void Empty(const std::string &dir);

// True when code is one of the result codes the filter documents.
bool DocumentedCode(uint32_t code);

} // namespace vtq::fuzz

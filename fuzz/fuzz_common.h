// fuzz_common.h - the harnesses' shared skeleton.  A harness is plain C++ with
// libFuzzer's entry point: a fuzzer under clang -fsanitize=fuzzer, and with
// VTQ_FUZZ_REPLAY a driver whose main() (fuzz_common.cc) replays files.
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace vtq::fuzz {

[[noreturn]] void Die(const std::string &what); // libFuzzer keeps the input as a crash
void Expect(const char *call, uint32_t code, std::initializer_list<uint32_t> codes); // or Die
// A directory of the process's own: removed at a normal exit, kept after a finding.
const std::string &PrivateDir();
void WriteBytes(const std::string &path, const uint8_t *data, size_t size); // or Die

// Resets a counting host (tests/support/test_host.h); dies at the end of its
// scope when an allocation was not given back.
template <class Host> struct AllGivenBack {
    Host &host;
    explicit AllGivenBack(Host &h) : host(h) { host.Reset(); }
    ~AllGivenBack() {
        if (host.live_allocs != 0) Die(std::to_string(host.live_allocs) + " allocations kept");
    }
};

} // namespace vtq::fuzz

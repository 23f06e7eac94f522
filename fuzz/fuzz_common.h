// fuzz_common.h - the harnesses' skeleton: each is plain C++ with libFuzzer's
// entry point, and with VTQ_FUZZ_REPLAY gets fuzz_common.cc's replay main().
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
const std::string &PrivateDir(); // the process's own; kept after a finding
void WriteBytes(const std::string &path, const uint8_t *data, size_t size); // or Die

// Resets the counting host (tests/support/test_host.h); dies when its scope
// ends with an allocation not given back.
template <class Host> struct AllGivenBack {
    Host &host;
    explicit AllGivenBack(Host &h) : host(h) { host.Reset(); }
    ~AllGivenBack() {
        if (host.live_allocs != 0) Die(std::to_string(host.live_allocs) + " allocations kept");
    }
};

} // namespace vtq::fuzz

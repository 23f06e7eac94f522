// test_host.h - the host the unit tests link the filter against: the
// stand-in host's workings behind a countdown that fails the Nth call of a
// chosen kind (once, or from then on), a count of live allocations, a
// record of conversions, and a hook standing in for the per-member text
// extraction.
#pragma once

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "vtq/host.h"

namespace vtq::test {

// Kinds of host call that can be made to fail, and how they fail.
enum HostCall : uint32_t {
    kAlloc = 1u << 0,    // VTQ_malloc -> null
    kOpen = 1u << 1,     // VTQ_FileOpen -> null
    kRead = 1u << 2,     // VTQ_FileRead -> 0
    kSeek = 1u << 3,     // VTQ_FileSeek -> -1
    kTell = 1u << 4,     // VTQ_FileTellSize -> -1
    kWrite = 1u << 5,    // VTQ_FileWrite -> 0 items
    kMkDir = 1u << 6,    // VTQ_MkDir -> -1
    kRmDir = 1u << 7,    // VTQ_RmDir -> -1
    kRemove = 1u << 8,   // VTQ_ASC_remove -> -1
    kOpenDir = 1u << 9,  // VTQ_ASC_opendir -> 0
    kConv = 1u << 10,    // cconvInitConvert / cconvChgCharset / cconvConvert -> 1
    kTmpName = 1u << 11, // VTQ_ASC_tmpnam(1) -> null, empty buffer
};

// One call of the per-member text extraction, as the filter made it.
struct MemberCall {
    std::string path, content; // the member file, and its bytes at the call
    VTQ_FILE *out = nullptr;
    VTQ_STREAM *stream = nullptr;
    bool stream_call = false;
    const TxtOptions *opts = nullptr;
    ParentInfo *parent = nullptr;
    uint32_t mode = 0;
    uint64_t user_data = 0;
};

// One conversion, as the filter set it up.
struct Host {
    // The fail_at-th call (1-based) of a kind in mask fails; with
    // persistent every later one too.  0 disarms.
    uint32_t mask = 0;
    uint64_t fail_at = 0;
    bool persistent = false;
    uint64_t calls = 0, fired = 0; // calls of a kind in mask, faults injected, since arming
    int64_t live_allocs = 0;
    // Per-member extraction; by default CopyMember.
    std::function<uint32_t(MemberCall &)> member;
    std::vector<MemberCall> member_calls;
    std::set<std::string> memory_files; // opened through the host, for leftover checks
    // Nonzero: a VTQ_FileRead delivers at most this many bytes (one item at
    // least), as a pipe may.
    size_t read_limit = 0;
    // The log takes its text literally instead of as a printf format.
    bool literal_log = false;

    void Arm(uint32_t m, uint64_t n, bool persist = false) {
        mask = m;
        fail_at = n;
        persistent = persist;
        calls = fired = 0;
    }
    void Disarm() { Arm(0, 0, false); }
    void Reset() { *this = Host{}; }
};

Host &host();

// The default per-member extraction: the member's bytes to the output, or
// in split mode to a text file beside the member file.
uint32_t CopyMember(MemberCall &call);

// A VTQ_Stream that collects into a string.
struct StringStream {
    VTQ_Stream stream{};
    std::string data;
    StringStream();
    VTQ_STREAM *get() { return &stream; }
};

} // namespace vtq::test

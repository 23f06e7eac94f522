// messages.cpp - the meanings of the result codes, for ziptext's messages
#include "tools/ziptext/messages.h"

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>

#include "vtq/standin.h"

namespace ziptext {
namespace {

struct Meaning {
    uint32_t code;
    const char *text;
};

// Every code the filter and the host hand back.
constexpr Meaning kMeanings[] = {
    {0, "success"},
    {11, "a required record was not given"},
    {12, "memory exhausted"},
    {22, "a file could not be opened"},
    {23, "not a ZIP archive: no end-of-central-directory record in the last 65535 bytes"},
    {24, "fewer bytes written than a member's size"},
    {25, "a read, seek or size query failed"},
    {26, "a file or directory could not be removed"},
    {27, "a path is too long, or a directory could not be made"},
    {2001, "not a ZIP archive: the file does not begin with a local file header"},
    {3001, "an encrypted member, and no password"},
    {3003, "the options do not enable the ZIP filter"},
    {3005, "the output size limit was reached"},
    {3100, "the archive's structure is invalid"},
    {3101, "decompression failed"},
    {3102, "CRC mismatch"},
    {5001, "an empty password"},
    {6000, "a member has no text filter (neither text nor an archive)"},
    {6002, "no text was produced"},
    {6003, "the archive is damaged"},
    {6006, "the options refuse archives"},
};

// The host failure record that explains a code of the host's services.
struct HostCause {
    uint32_t code;
    uint32_t kind;
};
constexpr HostCause kHostCauses[] = {
    {22, VTQ_HOST_FAIL_OPEN},   {24, VTQ_HOST_FAIL_WRITE}, {25, VTQ_HOST_FAIL_READ},
    {26, VTQ_HOST_FAIL_REMOVE}, {27, VTQ_HOST_FAIL_MKDIR},
};

// verb: how to name the failed operation, or null for the record's own.
std::string cannot(const VTQ_HostFailure &rec, const ShownPath &shown, const char *verb = nullptr) {
    std::string op = verb != nullptr ? verb : std::string(rec.Op, strnlen(rec.Op, sizeof rec.Op));
    if (op == "mkdir") op = "make directory";
    std::string path(rec.Path, strnlen(rec.Path, sizeof rec.Path));
    // The work directory is also asked for as "DIR/".
    if (path.size() > 1 && path.back() == '/') path.pop_back();
    return "ziptext: cannot " + op + " '" + shown(path) + "': " + std::strerror(rec.Errno);
}

} // namespace

std::string failure_line(const std::string &archive, uint32_t code, const ShownPath &shown) {
    const std::string tail = " (code " + std::to_string(code) + ")";
    for (const HostCause &c : kHostCauses) {
        VTQ_HostFailure rec, dir;
        if (c.code != code || !VTQ_HostFailureGet(c.kind, &rec)) continue;
        // Making a directory that exists is how the work directory is
        // named, and no cause of 27: that code then means a path too long.
        const bool mkdir_failed =
            VTQ_HostFailureGet(VTQ_HOST_FAIL_MKDIR, &dir) && dir.Errno != EEXIST;
        if (code == 27 && !mkdir_failed) break;
        // A file missing its folder: the folder that could not be made is
        // the cause.
        if (code == 22 && rec.Errno == ENOENT && mkdir_failed) rec = dir;
        return cannot(rec, shown) + tail;
    }
    return "ziptext: " + archive + ": " + code_meaning(code) + tail;
}

std::string write_failure_line(const ShownPath &shown) {
    VTQ_HostFailure rec;
    // Data was lost, whether the write, flush or close reported it.
    return VTQ_HostWriteFailure(&rec) ? cannot(rec, shown, "write") : std::string();
}

uint64_t member_size_cap() {
    constexpr uint64_t kDefault = 512ull * 1024 * 1024;
    const char *env = std::getenv("VTQ_MAX_ALLOC");
    if (env == nullptr) return kDefault;
    uint64_t v = 0;
    const char *end = env + std::strlen(env);
    auto [p, ec] = std::from_chars(env, end, v);
    return ec == std::errc() && p == end ? v : kDefault;
}

std::string code_meaning(uint32_t code) {
    if (code == 12)
        return "memory exhausted (a member may be larger than the member-size cap of " +
               std::to_string(member_size_cap()) + " bytes; see --max-member-size)";
    for (const Meaning &m : kMeanings)
        if (m.code == code) return m.text;
    return "unexpected result";
}

} // namespace ziptext

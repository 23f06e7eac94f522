// messages.cpp - the meanings of the result codes, for ziptext's messages
#include "tools/ziptext/messages.h"

#include <charconv>
#include <cstdlib>
#include <cstring>

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

} // namespace

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

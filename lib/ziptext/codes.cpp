// codes.cpp - the one table of result codes and what they mean
//
// Every code the filter and the stand-in host hand back, said of an archive
// (the tool's messages, the README's table) and, for the codes a single
// member can get, said of that member (per-member reports).  Tests and the
// fuzz harnesses ask this table whether a code is documented.
#include "ziptext.h"

namespace {

struct Meaning {
    uint32_t code;
    const char *meaning; // of an archive's result
    const char *reason;  // of one member's, or null
};

constexpr Meaning kMeanings[] = {
    {0, "success", nullptr},
    {11, "a required record was not given", nullptr},
    {12, "memory exhausted", "larger than the member-size cap"},
    {22, "a file could not be opened", "its file could not be opened"},
    {23, "not a ZIP archive: no end-of-central-directory record in the last 65535 bytes",
     "not a ZIP archive"},
    {24, "fewer bytes written than a member's size", "fewer bytes written than its size"},
    {25, "a read, seek or size query failed", "a read failed"},
    {26, "a file or directory could not be removed", nullptr},
    {27, "a path is too long, or a directory could not be made",
     "its path is too long, or a directory could not be made"},
    {2001, "not a ZIP archive: the file does not begin with a local file header",
     "not a ZIP archive"},
    {3001, "an encrypted member, and no password", "encrypted, no password given"},
    {3003, "the options do not enable the ZIP filter", nullptr},
    {3005, "the output size limit was reached", "the output size limit was reached"},
    {3100, "the archive's structure is invalid", "damaged entry"},
    {3101, "decompression failed", "decompression failed"},
    {3102, "CRC mismatch", "CRC mismatch"},
    {5001, "an empty password", "empty password"},
    {6000, "a member has no text filter (neither text nor an archive)", "no text filter"},
    {6002, "no text was produced", "no text"},
    {6003, "the archive is damaged", "damaged archive"},
    {6006, "the options refuse archives", nullptr},
};

const Meaning *find(uint32_t code) {
    for (const Meaning &m : kMeanings)
        if (m.code == code) return &m;
    return nullptr;
}

} // namespace

extern "C" {

const char *zt_code_meaning(uint32_t code) {
    const Meaning *m = find(code);
    return m != nullptr ? m->meaning : nullptr;
}

const char *zt_code_reason(uint32_t code) {
    const Meaning *m = find(code);
    return m != nullptr ? m->reason : nullptr;
}

} // extern "C"

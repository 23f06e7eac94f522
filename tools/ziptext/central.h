// central.h - the central directory of an archive, read entry by entry
//
// Read with the filter's own reader, so that the entries, and their order,
// are exactly those an extraction walks.
#pragma once

#include <memory>
#include <string>

#include "tools/ziptext/filter_api.h"
#include "vtq/host.h"

namespace ziptext {

class CentralWalk {
public:
    explicit CentralWalk(const FilterApi &api) : api_(api) {}

    // Opens the archive and reads its end record.  False with the result
    // code (22 when it cannot be opened) in *code.
    bool open(const std::string &archive, uint32_t *code);

    // The next entry and its name as stored.  False at the end, with *code
    // 0, or when an entry cannot be read, with its code.  As an extraction
    // does, the first entry is read even when the end record counts none
    // (and must be there); it is then not delivered.
    bool next(ZipEntryInfo *info, std::string *raw, uint32_t *code);

private:
    struct Closer {
        void operator()(VTQ_FILE *f) const { VTQ_FileClose(f); }
    };
    const FilterApi &api_;
    std::unique_ptr<VTQ_FILE, Closer> file_;
    ZipDirPos pos_{};
    uint32_t entries_ = 0, index_ = 0;
};

} // namespace ziptext

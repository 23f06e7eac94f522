// ext_places.cpp - where each member lies in the archive, and the refusal of
// members whose data is not theirs alone (see Places in ext_directory.h)
//
// The "overlapping files" bomb points many central entries at one local
// header, or at headers inside one member's data, so that a few kilobytes
// decode again and again.  Sorting every local header by position gives each
// member the room up to the next header; a member that needs more, or that
// starts where an earlier one starts, is refused before a byte of it is
// read.  What remains reads every byte of the archive at most once.
//
// One run per entry while the directory is read, then one per position:
// 16 bytes a member, where the entries themselves are read again as the
// walk comes to them.
#include <algorithm>

#include "archive/ext_directory.h"
#include "archive/zip_format.h"
#include "vtq/types.h"

namespace vtq::ext {

namespace {

// An entry that may own its position: a file member not refused already.
bool Claims(const Entry &e) { return !e.directory && e.refusal == VTQ_OK; }

} // namespace

bool Places::Reserve(uint32_t count) {
    runs_.reset(VTQ_malloc(size_t{count > 0 ? count : 1} * sizeof(Run)));
    count_ = 0;
    return static_cast<bool>(runs_);
}

// The run of an entry whose position lies before the directory (Finish
// drops the others): its index, flagged in claims when it claims the position.
void Places::Add(const Entry &e, uint32_t index) {
    runs_.as<Run>()[count_++] = Run{e.local_offset, index, Claims(e) ? 1u : 0u};
}

void Places::Finish(uint64_t directory_start) {
    directory_start_ = directory_start;
    Run *runs = runs_.as<Run>();
    Run *end =
        std::remove_if(runs, runs + count_, [&](const Run &r) { return r.at >= directory_start; });
    // By position, and in directory order at one position: the first file
    // member there keeps it.
    std::sort(runs, end, [](const Run &a, const Run &b) {
        return a.at != b.at ? a.at < b.at : a.owner < b.owner;
    });
    uint32_t kept = 0;
    for (Run *r = runs; r != end;) {
        const uint64_t at = r->at;
        uint32_t owner = UINT32_MAX;
        for (; r != end && r->at == at; ++r)
            if (owner == UINT32_MAX && r->claims != 0) owner = r->owner;
        runs[kept++] = Run{at, owner, 0};
    }
    count_ = kept;
}

bool Places::Apply(Entry *e, uint32_t index) const {
    e->data_limit = directory_start_;
    e->limit_is_directory = true;
    if (e->local_offset >= directory_start_) {
        if (Claims(*e)) {
            e->refusal = VTQ_E_STRUCTURE;
            e->reason = kPastTheEnd;
        }
        return true;
    }
    const Run *runs = runs_.as<const Run>();
    const Run *run = std::lower_bound(runs, runs + count_, e->local_offset,
                                      [](const Run &r, uint64_t at) { return r.at < at; });
    if (run == runs + count_ || run->at != e->local_offset) return false;
    const bool last = run + 1 == runs + count_;
    e->data_limit = last ? directory_start_ : run[1].at;
    e->limit_is_directory = last;
    if (!Claims(*e)) return true;
    // The least a member takes: its local header and its data.
    const uint64_t room = e->data_limit - e->local_offset;
    const bool fits =
        room >= zipfmt::kLocalHeaderSize && e->compressed_size <= room - zipfmt::kLocalHeaderSize;
    const bool taken = run->owner != index;
    if (taken || !fits) {
        e->refusal = VTQ_E_STRUCTURE;
        e->reason = taken || !last ? kOverlaps : kPastTheEnd;
    }
    return true;
}

} // namespace vtq::ext

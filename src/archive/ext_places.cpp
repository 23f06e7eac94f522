// ext_places.cpp - where each member lies in the archive, and the refusal of
// members whose data is not theirs alone (see CheckPlaces in ext_directory.h)
//
// The "overlapping files" bomb points many central entries at one local
// header, or at headers inside one member's data, so that a few kilobytes
// decode again and again.  Sorting every local header by position gives each
// member the room up to the next header; a member that needs more, or that
// starts where an earlier one starts, is refused before a byte of it is
// read.  What remains reads every byte of the archive at most once.
#include <algorithm>

#include "archive/ext_directory.h"
#include "archive/zip_format.h"
#include "vtq/types.h"

namespace vtq::ext {

bool CheckPlaces(Entry *entries, uint32_t count, uint64_t directory_start) {
    HostBuffer scratch(VTQ_malloc(size_t{count} * sizeof(uint32_t)));
    if (!scratch) return false;
    auto *order = scratch.as<uint32_t>();
    uint32_t placed = 0;
    for (uint32_t i = 0; i < count; ++i) {
        Entry &e = entries[i];
        e.data_limit = directory_start;
        e.limit_is_directory = true;
        if (e.local_offset < directory_start) {
            order[placed++] = i;
        } else if (!e.directory && e.refusal == VTQ_OK) {
            e.refusal = VTQ_E_STRUCTURE;
            e.reason = kPastTheEnd;
        }
    }
    // By position, and in directory order at one position: the first file
    // member there keeps it.
    std::sort(order, order + placed, [entries](uint32_t a, uint32_t b) {
        return entries[a].local_offset != entries[b].local_offset
                   ? entries[a].local_offset < entries[b].local_offset
                   : a < b;
    });
    for (uint32_t k = 0; k < placed;) {
        const uint64_t at = entries[order[k]].local_offset;
        uint32_t next = k;
        while (next < placed && entries[order[next]].local_offset == at) ++next;
        const uint64_t limit = next < placed ? entries[order[next]].local_offset : directory_start;
        bool taken = false;
        for (; k < next; ++k) {
            Entry &e = entries[order[k]];
            e.data_limit = limit;
            e.limit_is_directory = next == placed;
            if (e.directory || e.refusal != VTQ_OK) continue;
            // The least a member takes: its local header and its data.
            const uint64_t room = limit - at;
            const bool fits = room >= zipfmt::kLocalHeaderSize &&
                              e.compressed_size <= room - zipfmt::kLocalHeaderSize;
            if (taken || !fits) {
                e.refusal = VTQ_E_STRUCTURE;
                e.reason = taken || !e.limit_is_directory ? kOverlaps : kPastTheEnd;
            }
            taken = true;
        }
    }
    return true;
}

} // namespace vtq::ext

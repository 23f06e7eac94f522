// extension.h - the extended mode's record from the host, and member events
//
// The host asks for the extended mode with VTQ_MODE_EXTENDED and may pass a
// VtqExtension through TxtOptions.Extension (vtq/types.h).  The filter reads
// that record once per call, into a copy that holds only the fields the
// host's record really has, and tells the host about every file member
// through OnMember.
#pragma once

#include <cstddef>
#include <cstdint>

#include "vtq/types.h"

namespace vtq {

// The extended mode as one call sees it.
struct Extension {
    bool on = false;       // VTQ_MODE_EXTENDED is set
    VtqExtension record{}; // the host's fields; zero where it has none

    bool list_only() const { return (record.Flags & VTQ_EXT_LIST_ONLY) != 0; }
    // Hands event to OnMember (Size filled in here); nothing without one.
    void Send(VtqMemberEvent &event) const {
        event.Size = sizeof event;
        if (on && record.OnMember != nullptr) record.OnMember(record.User, &event);
    }
};

// Reads the extended mode of opts.  Without VTQ_MODE_EXTENDED returns 0
// with out->on false and reads nothing past TxtOptions.MaxSize.  With it,
// returns 0 with out->on true and out->record holding the fields that lie
// wholly within the host record's Size (all zero when opts.Extension is
// null); 11 when that record's Size is below 8 or its Version is not
// VTQ_EXTENSION_VERSION (*out then unspecified).
uint32_t ReadExtension(const TxtOptions &opts, Extension *out);

// A one-line text of a fixed capacity, for reasons that hold numbers.
// Appends stop at the capacity; the text stays NUL-terminated.
class Line {
public:
    Line &Add(const char *text);
    Line &Add(uint64_t number); // in decimal
    const char *c_str() const { return text_; }
    void Clear() {
        len_ = 0;
        text_[0] = '\0';
    }

private:
    char text_[96] = {};
    size_t len_ = 0;
};

} // namespace vtq

// records.h - member events turned into one record per member, in directory order
//
// The filter sends BEGIN and END for every file member, with the host's
// DETAIL events and, for an archive member, its members' events between
// them; the host's text hooks send each member's text between its BEGIN and
// END.  A Collector keeps a stack of the members open, and hands a record
// to the caller when a member of the archive itself ends: an archive
// member's subtree is held until then, so that the archive member's record
// (whose code only its END tells) comes before the records of its members.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "vtq/standin.h"
#include "ziptext.h"

namespace ziptext {

struct Record {
    std::vector<std::string> path; // display names, outermost first
    std::string name;              // as stored
    uint64_t uncompressed_size = 0, compressed_size = 0;
    std::string method_name; // method_name(method)
    uint32_t method = 0, encryption = 0, crc32 = 0, dos_date_time = 0, general_flags = 0;
    uint32_t code = 0;
    std::optional<std::string> error, encoding, format, name_encoding;
    std::optional<std::string> host_reason; // a DETAIL event's reason
    std::string text;
    bool got_text = false;
    uint32_t nested = 0;
    bool failed = false;
};

class Collector {
public:
    // archive: the name records carry.  texts: members' texts are kept
    // (zt_members).  listing: a DETAIL event's encoding is the name's (no
    // member is extracted).  failed_only: on_member gets failed members
    // only.  The callbacks and user: the caller's, or null.
    Collector(const std::string &archive, bool texts, bool listing, bool failed_only,
              zt_member_fn on_member, zt_progress_fn on_progress, void *user);

    // For VtqExtension.OnMember and VTQ_TextHooks.OnText (user: this).
    static void on_event(void *user, const VtqMemberEvent *event);
    static void on_text(void *user, const void *data, size_t len);

    // The totals a progress report counts against (from a listing).
    void set_totals(uint64_t members, uint64_t bytes) {
        progress_.members_total = members;
        progress_.bytes_total = bytes;
    }

    // Tells the caller, through on_progress, that the directory is read
    // and holds members entries: nothing is done yet.
    void start(uint64_t members) {
        progress_.members_total = members;
        if (on_progress_ != nullptr) on_progress_(user_, &progress_);
    }

    // Hands r to the caller as a record of the archive itself.
    void deliver(const Record &r);

    uint64_t members() const { return members_; }
    uint64_t failed() const { return failed_; }
    uint64_t text_bytes() const { return text_bytes_; } // texts received, or END's counts
    // A record could not be kept (memory ran out in a callback, where no
    // exception may go): the records from then on are missing.
    bool broken() const { return broken_; }

private:
    struct Frame {
        Record record;
        // Finished members inside, in order: all of them, or with
        // failed_only the failed ones.
        std::vector<Record> inside;
        uint32_t inside_count = 0; // all of them, all levels
        bool inside_failed = false;
    };
    void begin(const VtqMemberEvent &e);
    void end(const VtqMemberEvent &e);

    std::string archive_;
    bool texts_, listing_, failed_only_;
    zt_member_fn on_member_;
    zt_progress_fn on_progress_;
    void *user_;
    std::vector<Frame> open_;
    uint64_t members_ = 0, failed_ = 0, text_bytes_ = 0;
    zt_progress progress_{sizeof(zt_progress), 0, 0, 0, 0, 0};
    bool broken_ = false;
};

// The method's name ("deflate"), or its number as text.
std::string method_name(uint32_t method);
// "zipcrypto", "aes128", ..., or null for none.
const char *encryption_name(uint32_t encryption);
// "YYYY-MM-DDTHH:MM:SS" from a DOS date and time (date in the high 16
// bits), or "" when they are no valid date.
std::string iso_time(uint32_t dos_date_time);

// The caller's view of a record: pointers into r and into *path, which
// the result must not outlive.
zt_member member_view(const Record &r, const std::string &archive, bool with_text,
                      std::vector<const char *> *path);

} // namespace ziptext

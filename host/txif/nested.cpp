// nested.cpp - hand an archive found inside an archive back to the filter
//
// The host finds the filter as any filter: by soname and exported name.
// The nested call gets the enclosing level's ParentInfo, so the running
// byte count, the log and the top-level path carry through every level.
//
// Depth: ParentInfo.Reserved[0] holds the number of archive levels above
// the current one (the filter zeroes the record at top level and never
// reads those bytes).  It is raised around the nested call and restored
// after it, so a self-including archive stops after kMaxArchiveLevels.
//
// Compose mode: the nested level writes into a memory file of its own,
// never into the enclosing output (it would open and truncate it), and its
// bytes are appended to the enclosing output afterwards.  The nested level counts on
// from the enclosing count, so the size limit is shared across levels.
#include <algorithm>
#include <cstring>
#include <memory>
#include <span>
#include <string>

#include "host/txif/filter_loader.h"
#include "host/txif/internal.h"

namespace vtq::txif {
namespace {

using GetText4Fn = decltype(GetText4WithErrCallback);

// Raises the level count for the duration of a nested call.
class LevelGuard {
public:
    explicit LevelGuard(uint8_t &levels) : levels_(levels), saved_(levels) { ++levels_; }
    LevelGuard(const LevelGuard &) = delete;
    LevelGuard &operator=(const LevelGuard &) = delete;
    ~LevelGuard() { levels_ = saved_; }

private:
    uint8_t &levels_;
    uint8_t saved_;
};

// A memory file for the nested level's output, named by the host's
// temporary names; removed on destruction.
class NestedOutput {
public:
    NestedOutput() {
        char name[VTQ_PATH_MAX];
        if (VTQ_ASC_tmpnam(name) != nullptr && std::strlen(name) + 4 < sizeof name)
            path_ = std::string(name) + ".txt";
    }
    NestedOutput(const NestedOutput &) = delete;
    NestedOutput &operator=(const NestedOutput &) = delete;
    ~NestedOutput() {
        if (!path_.empty()) VTQ_ASC_remove(path_.c_str());
    }
    // Empty when no temporary name could be had.
    const std::string &path() const { return path_; }

private:
    std::string path_;
};

// Copies the nested output into the enclosing sink, leaving out a leading
// byte-order mark unless keep_bom (the nested level's first label carries
// one, but inside an output that already started it would be noise).
// *appended gets the bytes written, *left_out those of the mark left out.
// 0, or 24 when the sink took fewer bytes or the nested level's writes did
// not all reach its output.
uint32_t append_file(const std::string &path, const Sink &sink, const std::string &bom,
                     std::size_t *appended, std::size_t *left_out) {
    *appended = 0;
    *left_out = 0;
    // Read a piece at a time, never viewed whole: a nested archive's text
    // can be far larger than any of its members.
    switch (VTQ_HostStoreState(path.c_str())) {
    case 1:
    case 2:
        break;
    case -1:
        return VTQ_E_SHORT_WRITE;
    default:
        return VTQ_OK; // nothing to read: the nested level produced no output
    }
    const HostFilePtr file(VTQ_FileOpen(path.c_str(), "rb"));
    if (!file) return VTQ_OK;
    const auto buffer = std::make_unique<char[]>(kChunk);
    char *piece = buffer.get();
    for (bool first = true;; first = false) {
        const std::size_t got = VTQ_FileRead(piece, 1, kChunk, file.get());
        if (got == 0) break;
        std::size_t skip = 0;
        if (first && !bom.empty() && got >= bom.size() &&
            std::memcmp(piece, bom.data(), bom.size()) == 0)
            skip = bom.size();
        if (!sink.put(piece + skip, got - skip)) return VTQ_E_SHORT_WRITE;
        *appended += got - skip;
        *left_out += skip;
    }
    return VTQ_OK;
}

} // namespace

uint32_t nested_archive(const NestedCall &call) {
    ParentInfo &parent = *call.parent;
    uint8_t &levels_above = parent.Reserved[0];
    // The current level is levels_above + 1; a ZIP member found at the
    // last allowed level gets the same answer as a member without filter.
    if (levels_above + 1 >= kMaxArchiveLevels) return VTQ_E_NO_FILTER;

    FilterLibrary filter;
    auto *get_text4 = filter.find<GetText4Fn>("GetText4WithErrCallback");
    if (get_text4 == nullptr) return VTQ_E_NO_FILTER;

    LevelGuard level(levels_above);
    // The nested level closes the log handle it takes from the parent at
    // its end; the enclosing level keeps using the same handle, so give
    // the nested level a reference of its own.
    VTQ_LOG *log_ref = vtq_logfretain(parent.Log);

    if (call.sink.file == nullptr && call.sink.stream == nullptr) {
        // File split mode: the nested level makes its own work directory
        // from the top-level path and leaves its texts there.
        uint32_t rc = get_text4(call.member_path, call.text_path, call.opts, nullptr, &parent,
                                call.user_data);
        if (rc == VTQ_E_REFUSED || rc == VTQ_E_NOT_ENABLED)
            vtq_logfclose(call.opts->FormatFlags, log_ref); // refused before taking it
        return rc;
    }

    NestedOutput out;
    if (out.path().empty()) {
        vtq_logfclose(call.opts->FormatFlags, log_ref);
        return VTQ_E_OPEN;
    }
    // Stream split mode: a member's text goes to the stream, so the
    // nested archive's members are composed (without labels) and appended
    // to it like one text.
    TxtOptions opts = *call.opts;
    if (call.mode == 1) opts.ModeFlags |= VTQ_MODE_COMPOSE | VTQ_MODE_NO_LABELS;

    std::string bom;
    if (!call.keep_bom) {
        Encoder encoder(opts);
        if (!encoder.byte_order_mark(bom)) bom.clear();
    }
    uint64_t before = parent.Written;
    uint32_t rc =
        get_text4(call.member_path, out.path().c_str(), &opts, nullptr, &parent, call.user_data);
    if (rc == VTQ_E_REFUSED || rc == VTQ_E_NOT_ENABLED)
        vtq_logfclose(call.opts->FormatFlags, log_ref);
    const uint64_t nested_count = parent.Written;
    std::size_t appended = 0, left_out = 0;
    const uint32_t appended_rc = append_file(out.path(), call.sink, bom, &appended, &left_out);
    // The running count is what really reached the enclosing output.
    // Under the size limit that equals the nested level's own count; a
    // nested level that failed and removed its output leaves nothing to
    // count.  With a text hook the members' texts went to the program, not
    // into that output: the nested level's count stands, less the mark
    // left out (labels of an output it removed stay counted, which only
    // makes the limit stricter).
    if (call.texts_to_hook && nested_count >= before + left_out)
        parent.Written = nested_count - left_out;
    else
        parent.Written = before + appended;
    if (appended_rc != VTQ_OK) return appended_rc;
    // An archive without file members gives no text, like an empty member.
    if (rc == VTQ_E_NO_TEXT) return VTQ_OK;
    return rc;
}

} // namespace vtq::txif

// entry_points.cpp - the exported entry points: set-up, extraction, clean-up, result
//
// Each call runs one whole extraction on a ZipBus on its own stack.  The
// three entry points differ only in where the output goes (a file, a file
// inside an enclosing extraction, a host stream), who owns the log, and a
// few rows of the final decision; everything from the log banner on is
// shared.
#include <cstring>

#include "archive/extension.h"
#include "entry/options.h"
#include "entry/workdir_path.h"
#include "output/count.h"
#include "vtq/host.h"
#include "vtq/zozaz.h"

namespace vtq::entry {

namespace {

// Archive damage found by the loop (structure, inflate, CRC) reaches the
// host as one code: 6003.  Every other code passes unchanged.  This is the
// only place where the loop's codes are translated.
constexpr uint32_t MapCode(uint32_t code) {
    return (code >= VTQ_E_STRUCTURE && code <= VTQ_E_CRC) ? VTQ_E_DAMAGED : code;
}

bool HasMode(const ZipBus &bus, uint32_t bit) { return (bus.Options->ModeFlags & bit) != 0; }
uint32_t FormatFlags(const ZipBus &bus) { return bus.Options->FormatFlags; }

// Split mode with a work directory of its own (neither compose nor flat),
// made by this very call: the only directory an entry point may remove.
bool OwnsWorkDir(const ZipBus &bus) {
    return !HasMode(bus, VTQ_MODE_COMPOSE) && !HasMode(bus, VTQ_MODE_FLAT) && bus.WorkDirMade != 0;
}

// Refused before enabled: a host that both enables and refuses archives
// gets 6006.  In extended mode an extension record the filter cannot read
// gives 11.  0 when the call may go on.
uint32_t Refusal(const TxtOptions &opts) {
    if ((opts.ModeFlags & VTQ_MODE_REFUSED) != 0) return VTQ_E_REFUSED;
    if ((opts.ModeFlags & VTQ_MODE_ENABLED) == 0) return VTQ_E_NOT_ENABLED;
    Extension extension;
    return ReadExtension(opts, &extension);
}

// Copies src into dst, cut to fit and always terminated.  A path that is
// cut here is refused right after the refusal checks, before it is used.
template <size_t N> void CopyBounded(char (&dst)[N], const char *src) {
    const size_t len = strnlen(src, N - 1);
    std::memcpy(dst, src, len);
    dst[len] = '\0';
}

// Gives back the call's log handle.  The top-level entry points close the
// log they opened.  A nested level releases the reference to the enclosing
// level's log that its caller took for it; the caller's ParentInfo.Log is
// left as it is, and stays valid for the enclosing level.
void CloseLog(ZipBus &bus, EntryKind kind) {
    if (bus.Log == nullptr) return;
    vtq_logfclose(FormatFlags(bus), bus.Log);
    bus.Log = nullptr;
    if (kind != EntryKind::kNested) bus.OwnParent.Log = nullptr;
}

// The text goes as the log's text argument, followed by 0, as the loop's
// lines do: a host's log may take the text literally.  The texts hold no
// '%'.
void LogText(const ZipBus &bus, const char *text) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-security"
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    if (bus.Log != nullptr) vtq_logfprintf(FormatFlags(bus), bus.Log, text, 0);
#pragma GCC diagnostic pop
}

// The loop hands over its records on success: every non-null name of the
// first count records, then the array itself (even when count is 0).
void FreeMembers(MemberRecord *members, uint32_t count) {
    if (members == nullptr) return;
    for (uint32_t i = 0; i < count; ++i)
        if (members[i].Name != nullptr) VTQ_free(members[i].Name);
    VTQ_free(members);
}

// Extended mode: an archive without file members, or a listing, is a
// success without text.
bool NothingToExtract(const ZipBus &bus, uint32_t count) {
    Extension extension;
    return ReadExtension(*bus.Options, &extension) == VTQ_OK && extension.on &&
           (count == 0 || extension.list_only());
}

void RemoveWorkDir(ZipBus &bus) {
    if (OwnsWorkDir(bus)) (void)Zip_deletepath(bus.DstFileTmp, &bus);
}

// The result of a finished extraction, from the loop's result r, the
// recorded member failure D (bus.DeferredError) and the member count.  The
// first rule that applies decides:
//  - the size limit stopped output: 3005, and whatever was written stays;
//  - extended mode, nothing failed, and no file member or a listing: 0;
//  - a top-level compose output that is empty is removed: 6002;
//  - D = 0 and r = 0: 6002 when no text came out (a nested split-mode level
//    is exempt: its texts are its enclosing level's business), else 0;
//  - D = 0, r failed: the work directory made here goes, r mapped;
//  - KeepGoing and the only member had no filter (6000): the work directory
//    would hold nothing of use, so it goes, 6000;
//  - D mapped; without KeepGoing a compose output file is removed, since
//    the extraction stopped part-way through it.
// A recorded member failure thus always outranks the loop's own result.
uint32_t Decide(ZipBus &bus, EntryKind kind, uint32_t r, uint32_t count) {
    const bool compose = HasMode(bus, VTQ_MODE_COMPOSE);
    const bool keep_going = HasMode(bus, VTQ_MODE_KEEP_GOING);
    const uint32_t d = bus.DeferredError;

    if (bus.LimitReached != 0) return VTQ_E_SIZE_LIMIT;
    if (d == 0 && r == 0 && NothingToExtract(bus, count)) return VTQ_OK;
    if (kind == EntryKind::kTop && compose && VTQ_GetFileSizeByPath(bus.OutPath) == 0) {
        (void)VTQ_ASC_remove(bus.OutPath);
        return VTQ_E_NO_TEXT;
    }
    if (d == 0) {
        if (r == 0) {
            const bool text_expected = kind != EntryKind::kNested || compose;
            return (text_expected && bus.TextWritten == 0) ? VTQ_E_NO_TEXT : VTQ_OK;
        }
        RemoveWorkDir(bus);
        return MapCode(r);
    }
    if (keep_going && count == 1 && d == VTQ_E_NO_FILTER) {
        RemoveWorkDir(bus);
        return VTQ_E_NO_FILTER;
    }
    if (!keep_going && compose && kind != EntryKind::kStream) (void)VTQ_ASC_remove(bus.OutPath);
    return MapCode(d);
}

// Clean-up after the loop returned r, then the result.
uint32_t Finish(ZipBus &bus, EntryKind kind, uint32_t r, uint32_t count, MemberRecord *members) {
    if (r != 0) LogText(bus, "error in unzip file.\r\n");
    CloseLog(bus, kind);
    FreeMembers(members, count);
    if (bus.OutFile != nullptr) {
        VTQ_FileClose(bus.OutFile);
        bus.OutFile = nullptr;
    }
    // A top-level work directory keeps only what the host produced: empty
    // leftovers go, and the directory too when nothing is left.  A nested
    // level leaves that to the top level, whose directory holds its own.
    if (kind != EntryKind::kNested && OwnsWorkDir(bus)) {
        uint32_t kept = 0;
        (void)Zip_deletenullpath(bus.DstFileTmp, &bus, &kept);
    }
    return Decide(bus, kind, r, count);
}

// Everything from the banner on, with the context filled, the work path
// formed and the log (if any) in bus.Log.  Consumes the log handle.
uint32_t Extract(ZipBus &bus, EntryKind kind, const char *archive) {
    LogText(bus,
            kind == EntryKind::kNested ? "vtq_zoZAZ gettext4().\r\n" : "vtq_zoZAZ gettext().\r\n");
    TransOption(bus.Option, FormatFlags(bus));
    if (!ProbeByteOrder(bus, archive)) {
        CloseLog(bus, kind);
        return VTQ_E_OPEN;
    }
    if (bus.Log != nullptr) {
        if (kind != EntryKind::kNested) LogText(bus, "bus.DstFileTmp=");
        vtq_logfprint_path(FormatFlags(bus), bus.Log, bus.DstFileTmp);
    }
    uint32_t count = 0;
    MemberRecord *members = nullptr;
    const uint32_t r = VtqZip_GetUnCompressFile(archive, &count, &members, &bus);
    return Finish(bus, kind, r, count, members);
}

// The two top-level entry points, once the call may go on: they own the
// ParentInfo and the log, whose name comes from log_key (the output path, or
// the archive path for a stream).
uint32_t RunTopLevel(ZipBus &bus, EntryKind kind, const char *archive, const char *log_key) {
    char log_name[VTQ_PATH_MAX];
    std::memset(log_name, 0, sizeof log_name);
    bus.Parent = &bus.OwnParent;
    GetLogFileName(log_key, "zip", log_name);
    bus.Log = vtq_logfopen(FormatFlags(bus), log_name);
    bus.OwnParent.Log = bus.Log;
    return Extract(bus, kind, archive);
}

// Paths that do not fit the fixed buffers are refused with 27 before
// anything is opened: every input path must be shorter than VTQ_PATH_MAX
// bytes, and so must the work directory path formed from them.
uint32_t PrepareWorkPath(ZipBus &bus, const WorkPathArgs &args) {
    if (!FitsIn(args.archive, VTQ_PATH_MAX)) return VTQ_E_PATH;
    if (args.kind != EntryKind::kStream && !FitsIn(args.out_path, VTQ_PATH_MAX)) return VTQ_E_PATH;
    if (args.kind == EntryKind::kNested && !FitsIn(args.parent_path, VTQ_PATH_MAX))
        return VTQ_E_PATH;
    return FormWorkPath(bus, args);
}

} // namespace

} // namespace vtq::entry

using vtq::entry::EntryKind;

// Returns 11 for a null archive, output path or options, and otherwise the
// result of the extraction (see Decide); 27 when a path is too long.  The
// log, when the host turns it on, lives from just after the refusal checks
// to the end of the call.
extern "C" VTQ_FILTER_API uint32_t GetTextWithErrCallback(const char *archive, const char *out_path,
                                                          const TxtOptions *opts, void *unused,
                                                          uint64_t user_data) {
    (void)unused;
    if (archive == nullptr || out_path == nullptr || opts == nullptr) return VTQ_E_NO_RECORD;

    ZipBus bus;
    std::memset(&bus, 0, sizeof bus);
    vtq::entry::CopyBounded(bus.OwnParent.Path, out_path);
    bus.SizeLimit = static_cast<uint32_t>(opts->MaxSize);
    bus.FileMode = 1;
    bus.UserData = user_data;
    bus.Options = opts;
    bus.OutPath = out_path;

    if (uint32_t refused = vtq::entry::Refusal(*opts); refused != VTQ_OK) return refused;
    if (vtq::entry::PrepareWorkPath(
            bus, {EntryKind::kTop, opts->ModeFlags, archive, out_path, nullptr}) != VTQ_OK)
        return VTQ_E_PATH;

    return vtq::entry::RunTopLevel(bus, EntryKind::kTop, archive, out_path);
}

// As GetTextWithErrCallback, inside the extraction that handed parent to
// the host.  The log is the enclosing level's: unless the call is refused
// (11, 6006, 3003), it releases one reference to parent->Log with
// vtq_logfclose before it returns, so a host that goes on using the handle
// takes a reference for the nested call beforehand (vtq_logfretain) and
// drops it itself after a refusal.  parent->Log is never changed.
extern "C" VTQ_FILTER_API uint32_t GetText4WithErrCallback(const char *archive,
                                                           const char *out_path,
                                                           const TxtOptions *opts, void *unused,
                                                           ParentInfo *parent, uint64_t user_data) {
    (void)unused;
    if (archive == nullptr || out_path == nullptr || opts == nullptr || parent == nullptr)
        return VTQ_E_NO_RECORD;

    ZipBus bus;
    std::memset(&bus, 0, sizeof bus);
    bus.SizeLimit = static_cast<uint32_t>(opts->MaxSize);
    bus.FileMode = 1;
    bus.UserData = user_data;
    bus.Options = opts;
    bus.OutPath = out_path;
    bus.Parent = parent;
    // Compose mode writes into the enclosing level's output, so the count
    // (and with it the size limit) goes on from there; split mode starts
    // every member afresh anyway.
    if ((opts->ModeFlags & VTQ_MODE_COMPOSE) != 0) vtq::TakeCountBack(bus);

    // A refusal comes before the log is taken, so it leaves the caller's
    // reference alone; from here on this call owns that reference.
    if (uint32_t refused = vtq::entry::Refusal(*opts); refused != VTQ_OK) return refused;
    bus.Log = parent->Log;
    if (vtq::entry::PrepareWorkPath(bus, {EntryKind::kNested, opts->ModeFlags, archive, out_path,
                                          parent->Path}) != VTQ_OK) {
        vtq::entry::CloseLog(bus, EntryKind::kNested);
        return VTQ_E_PATH;
    }
    return vtq::entry::Extract(bus, EntryKind::kNested, archive);
}

// As GetTextWithErrCallback, with the text going to stream and the log and
// the ParentInfo keyed to the archive path.  11 for a null archive or
// options; the stream is passed on unexamined.
extern "C" VTQ_FILTER_API uint32_t GetTextStreamWithErrCallback(const char *archive,
                                                                VTQ_STREAM *stream,
                                                                const TxtOptions *opts,
                                                                void *unused, uint64_t user_data) {
    (void)unused;
    if (archive == nullptr || opts == nullptr) return VTQ_E_NO_RECORD;

    ZipBus bus;
    std::memset(&bus, 0, sizeof bus);
    vtq::entry::CopyBounded(bus.OwnParent.Path, archive);
    bus.Stream = stream;
    bus.StreamMode = 1;
    bus.UserData = user_data;
    bus.Options = opts;
    bus.SizeLimit = static_cast<uint32_t>(opts->MaxSize);

    if (uint32_t refused = vtq::entry::Refusal(*opts); refused != VTQ_OK) return refused;
    if (vtq::entry::PrepareWorkPath(
            bus, {EntryKind::kStream, opts->ModeFlags, archive, nullptr, nullptr}) != VTQ_OK)
        return VTQ_E_PATH;

    return vtq::entry::RunTopLevel(bus, EntryKind::kStream, archive, archive);
}

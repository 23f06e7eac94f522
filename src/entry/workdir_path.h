// workdir_path.h - where an entry point's work directory goes
//
// Internal to the entry points; declared here so that the rules can be
// exercised without running an extraction.
#pragma once

#include <cstddef>
#include <cstdint>

#include "vtq/zozaz.h"

namespace vtq::entry {

// Which entry point forms the path: the rules differ in where the split
// mode directory comes from, and the stream entry point has no output path.
enum class EntryKind : uint32_t {
    kTop,    // GetTextWithErrCallback
    kNested, // GetText4WithErrCallback
    kStream, // GetTextStreamWithErrCallback
};

struct WorkPathArgs {
    EntryKind kind = EntryKind::kTop;
    uint32_t mode_flags = 0;           // TxtOptions.ModeFlags
    const char *archive = nullptr;     // archive path
    const char *out_path = nullptr;    // output path; ignored for kStream
    const char *parent_path = nullptr; // enclosing level's ParentInfo.Path; kNested only
};

// True when str ends (with its NUL) within cap bytes, so that it can be
// copied into a buffer of cap bytes.  Reads at most cap bytes.
bool FitsIn(const char *str, size_t cap);

// Forms bus.SrcDir, bus.SrcName and bus.DstFileTmp from the arguments.
// Split mode: the work directory beside the output (or, with Flat, the
// output's directory itself; for streams the current directory); compose
// mode: a path that is only logged.  The separator positions come from
// VTQ_getPathBreak.
//
// Every path in args must be non-null (out_path unless kStream, parent_path
// for kNested) and shorter than VTQ_PATH_MAX bytes; the caller checks that
// with FitsIn.  Returns 0, or VTQ_E_PATH when the formed DstFileTmp would
// not fit in its VTQ_PATH_MAX bytes; DstFileTmp is then left empty.  The
// buffers are never overrun.
uint32_t FormWorkPath(ZipBus &bus, const WorkPathArgs &args);

} // namespace vtq::entry

// member_text.cpp - the stand-in host's text extraction of one member file
//
// The filter hands every extracted member here (mode 1 split, 2 compose).
// Text members are converted to the output encoding and written to the
// compose output, to a text file beside the member (split mode) or to the
// host stream; ZIP members go back to the filter; everything else has no
// filter (6000).  The running byte count lives in ParentInfo.Written and
// is continued here, so the size limit holds across members and levels.
#include <cstring>
#include <optional>
#include <string>

#include "host/txif/charsets.h"
#include "host/txif/internal.h"
#include "host/txif/txif.h"

namespace vtq::txif {

namespace {

// Closes a host file on every exit.
struct HostFileCloser {
    void operator()(VTQ_FILE *f) const {
        if (f != nullptr) VTQ_FileClose(f);
    }
};
using HostFilePtr = std::unique_ptr<VTQ_FILE, HostFileCloser>;

// One hand-off: where the text goes is given by exactly one of out (a host
// file, compose mode) and stream; in file split mode both are null and the
// text file is made here.
uint32_t extract(const char *path, VTQ_FILE *out, VTQ_STREAM *stream, const TxtOptions *opts,
                 ParentInfo *parent, uint32_t mode, uint64_t user_data) {
    if (path == nullptr || opts == nullptr || parent == nullptr) return VTQ_E_NO_RECORD;
    if (mode != 1 && mode != 2) return VTQ_E_NO_RECORD;
    // Compose mode needs the filter's output; a null one means the filter
    // could not open it, and there is nowhere to write.
    if (mode == 2 && stream == nullptr && out == nullptr) return VTQ_E_OPEN;

    FileBytes member;
    switch (member.load(path)) {
    case FileBytes::Load::kOk:
        break;
    case FileBytes::Load::kOpenFailed:
        return VTQ_E_OPEN;
    case FileBytes::Load::kReadFailed:
    case FileBytes::Load::kIncomplete: // the filter's write of it fell short
        return VTQ_E_IO;
    }
    const CharsetGroup &group = source_group(*opts);
    const MemberKind kind = classify(member.bytes(), group.iconv_name);
    if (kind == MemberKind::kNoFilter) return VTQ_E_NO_FILTER;

    bool file_split = mode == 1 && stream == nullptr;
    std::string text_path;
    if (file_split && !split_text_path(path, text_path)) return VTQ_E_PATH;

    // A byte-order mark belongs at the start of an output only: every
    // split text file starts one; a composed file gets one when it is
    // still empty; a stream cannot be asked, so a composed stream gets one
    // when nothing has been counted and no label went before, and a stream
    // in split mode, where other members' text went before, gets none.
    bool at_start = false;
    if (file_split)
        at_start = true;
    else if (mode == 2 && out != nullptr)
        at_start = VTQ_FileTellSize(out) == 0;
    else if (mode == 2)
        at_start = parent->Written == 0 && (opts->ModeFlags & VTQ_MODE_NO_LABELS) != 0;

    if (kind == MemberKind::kZip) {
        member.release();
        NestedCall call{path,
                        opts,
                        parent,
                        mode,
                        user_data,
                        Sink{out, stream},
                        file_split ? text_path.c_str() : nullptr,
                        at_start};
        return nested_archive(call);
    }

    HostFilePtr text_file;
    Sink sink{out, stream};
    if (file_split) {
        uint32_t code = VTQ_OK;
        text_file.reset(create_text_file(text_path, &code));
        if (!text_file) return code;
        sink.file = text_file.get();
    }
    Encoder encoder(*opts);
    if (at_start) encoder.start_of_output();
    LimitedWriter writer(sink, *opts, parent->Written);
    uint32_t rc = write_text(member.bytes(), kind, group.iconv_name, encoder, writer);
    parent->Written = writer.count();
    // Bytes the file system takes back at the close (a full disk) are as
    // lost as a short write.
    if (text_file && VTQ_FileClose(text_file.release()) != 0) return VTQ_E_SHORT_WRITE;
    return rc;
}

} // namespace

uint32_t member_text(const char *path, VTQ_FILE *out, const TxtOptions *opts, ParentInfo *parent,
                     uint32_t mode, uint64_t user_data) {
    // Split mode writes a file of its own; the filter's null handle is
    // not used then.
    return extract(path, mode == 2 ? out : nullptr, nullptr, opts, parent, mode, user_data);
}

uint32_t member_text_stream(const char *path, VTQ_STREAM *stream, const TxtOptions *opts,
                            ParentInfo *parent, uint32_t mode, uint64_t user_data) {
    if (stream == nullptr) return VTQ_E_NO_RECORD;
    return extract(path, nullptr, stream, opts, parent, mode, user_data);
}

} // namespace vtq::txif

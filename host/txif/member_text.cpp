// member_text.cpp - the stand-in host's text extraction of one member file
//
// The filter hands every extracted member here (mode 1 split, 2 compose).
// Text members are converted to the output encoding and written to the
// compose output, to a text file beside the member (split mode) or to the
// host stream; ZIP members go back to the filter; everything else has no
// filter (6000).  The running byte count lives in ParentInfo.Written and
// is continued here, so the size limit holds across members and levels.
//
// In extended mode a member's encoding is detected (detect.h) instead of
// assumed, the program hears what each member was found to be (a DETAIL
// event), and its text hooks may take the texts, or the members' bytes
// untouched, instead of the outputs.
#include <cstring>
#include <optional>
#include <string>

#include "host/txif/charsets.h"
#include "host/txif/internal.h"
#include "host/txif/txif.h"

namespace vtq::txif {

namespace {

// A document's text on its way to the member's destination: converted to
// the output encoding and written under the size limit.  The first refusal
// is kept as the member's result.
class EncodedOut : public TextOut {
public:
    EncodedOut(Encoder &encoder, LimitedWriter &writer) : encoder_(encoder), writer_(writer) {}

    bool put(std::string_view utf8) override {
        if (rc_ != VTQ_OK) return false;
        std::string_view out = utf8;
        if (!encoder_.passthrough()) {
            encoded_.clear();
            if (!encoder_.convert(utf8.data(), utf8.size(), encoded_)) {
                rc_ = VTQ_E_NO_TEXT;
                return false;
            }
            out = encoded_;
        }
        switch (writer_.write(out.data(), out.size())) {
        case LimitedWriter::Result::kOk:
            return true;
        case LimitedWriter::Result::kCut:
            rc_ = VTQ_E_SIZE_LIMIT;
            return false;
        case LimitedWriter::Result::kWriteFailed:
            rc_ = VTQ_E_SHORT_WRITE;
            return false;
        }
        return false;
    }
    uint32_t rc() const { return rc_; }

private:
    Encoder &encoder_;
    LimitedWriter &writer_;
    std::string encoded_;
    uint32_t rc_ = VTQ_OK;
};

// Writes the text of a kDocument member through encoder and writer, as
// write_text() writes text: 0, 3005, 6002 or 24 as write_text() gives them,
// or 6000 with reason set when the document's parser gave up (the text
// before that point has gone out).  ctx carries the depth.
uint32_t write_document(const MemberFormat &format, std::span<const unsigned char> bytes,
                        const char *path, DocContext &ctx, Encoder &encoder, LimitedWriter &writer,
                        std::string &reason) {
    EncodedOut out(encoder, writer);
    TextBuilder builder(out);
    DocResult r = document_text(format, bytes, path, ctx, builder);
    builder.finish();
    // A full output or a failed write says more than a parser that was
    // stopped half-way and complained.
    if (out.rc() != VTQ_OK) return out.rc();
    if (r.ok) return VTQ_OK;
    reason = std::move(r.reason);
    return VTQ_E_NO_FILTER;
}

// What a member file is: in extended mode what decide_extended() finds,
// else the documented rule with the source set chosen from opts.
MemberDecision decide(std::span<const unsigned char> bytes, const TxtOptions &opts, bool extended) {
    if (extended)
        return decide_extended(bytes, field_text(opts.Charset, sizeof opts.Charset),
                               field_text(opts.Language, sizeof opts.Language));
    const CharsetGroup &group = source_group(opts);
    return {classify(bytes, group.iconv_name), group.iconv_name, 0, "", "", {}};
}

const char *null_if_empty(const std::string &s) { return s.empty() ? nullptr : s.c_str(); }

// One hand-off: where the text goes is given by exactly one of out (a host
// file, compose mode) and stream; in file split mode both are null and the
// text file is made here.  In extended mode a program's text hook takes
// the text instead of any of them.
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
    const Extended ext = read_extended(*opts);
    if (ext.raw_members()) {
        // The program reads the member itself: nothing is decided, opened
        // or written.  An empty member still comes with a valid pointer.
        const auto bytes = member.bytes();
        static constexpr unsigned char kNone[1] = {};
        if (ext.on_raw != nullptr)
            ext.on_raw(ext.hook_user, bytes.empty() ? kNone : bytes.data(), bytes.size());
        return VTQ_OK;
    }
    const MemberDecision what = decide(member.bytes(), *opts, ext.on);
    if (what.kind == MemberKind::kNoFilter) {
        // A kind known by its signature is named, for the program to say.
        const std::string why = what.format.empty() ? "" : "no text filter for " + what.format;
        send_detail(ext, null_if_empty(what.format), null_if_empty(what.encoding),
                    null_if_empty(why));
        return VTQ_E_NO_FILTER;
    }
    send_detail(ext, null_if_empty(what.format), null_if_empty(what.encoding));

    const bool to_hook = ext.on_text != nullptr;
    const bool file_split = mode == 1 && stream == nullptr;
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

    std::string text_path;
    if (file_split && (what.kind == MemberKind::kZip || !to_hook) &&
        !split_text_path(path, text_path))
        return VTQ_E_PATH;

    if (what.kind == MemberKind::kZip) {
        member.release();
        NestedCall call{path,
                        opts,
                        parent,
                        mode,
                        user_data,
                        Sink{out, stream},
                        file_split ? text_path.c_str() : nullptr,
                        at_start,
                        to_hook};
        return nested_archive(call);
    }

    HostFilePtr text_file;
    Sink sink{out, stream, ext.on_text, ext.hook_user};
    if (file_split && !to_hook) {
        uint32_t code = VTQ_OK;
        text_file.reset(create_text_file(text_path, &code));
        if (!text_file) return code;
        sink.file = text_file.get();
    }
    Encoder encoder(*opts);
    // A text hook gets texts without a mark: they are pieces, not an output.
    if (at_start && !to_hook) encoder.start_of_output();
    LimitedWriter writer(sink, *opts, parent->Written);
    uint32_t rc;
    if (what.kind == MemberKind::kDocument) {
        // A parser that gives up says why in a second DETAIL event: the
        // first one went out before its text.
        DocContext ctx{opts, parent};
        std::string why;
        rc = write_document(what.document, member.bytes(), path, ctx, encoder, writer, why);
        if (!why.empty())
            send_detail(ext, null_if_empty(what.format), null_if_empty(what.encoding), why.c_str());
    } else {
        rc = write_text(member.bytes().subspan(what.skip), what.kind, what.iconv_name.c_str(),
                        encoder, writer);
    }
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

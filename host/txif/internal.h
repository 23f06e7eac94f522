// internal.h - pieces of the per-member text extraction shared by its files
//
// The extraction of one member runs in two steps: classify the file
// (classify.cpp; in extended mode detect its encoding, extended.cpp), then
// convert it to the output encoding and write it to its destination under
// the size limit (sink.cpp).  A member that is itself a ZIP archive goes
// back to the filter instead (nested.cpp).  member_text.cpp ties the steps
// together.
#pragma once

#include <iconv.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "host/txif/documents.h"
#include "vtq/host.h"
#include "vtq/standin.h"
#include "vtq/zozaz.h"

namespace vtq::txif {

// ------------------------------------------------------------ classify

enum class MemberKind {
    kUtf8Text,   // empty, or no NUL byte and valid UTF-8
    kLegacyText, // no NUL byte and valid in the source character set
    kZip,        // starts with a local file header signature
    kDocument,   // extended mode: a format of documents.h (PDF, DOCX, HTML, ...)
    kNoFilter,   // anything else
};

// A file's bytes in memory, whole.  A memory file of the host's store (a
// compose-mode member, a nested level's output) is used where it is, no
// copy; a file on disk is read into a block of its own, never mapped: a
// mapped file that another process truncates while it is read would kill
// the reader with SIGBUS (two flat-mode runs into one folder did).  A
// member file is read once this way and then classified and converted
// from memory.
// Closes a host file on every exit.
struct HostFileCloser {
    void operator()(VTQ_FILE *f) const {
        if (f != nullptr) VTQ_FileClose(f);
    }
};
using HostFilePtr = std::unique_ptr<VTQ_FILE, HostFileCloser>;

class FileBytes {
public:
    FileBytes() = default;
    FileBytes(const FileBytes &) = delete;
    FileBytes &operator=(const FileBytes &) = delete;
    ~FileBytes() { release(); }

    // kIncomplete: a memory file a write to which failed; bytes() holds
    // what it has, which is not what its writer meant.
    enum class Load { kOk, kOpenFailed, kReadFailed, kIncomplete };
    // Reads the regular file at path (what it holds when read: a file that
    // shrinks meanwhile gives what is left).  A FIFO or a device is not
    // read: kOpenFailed.
    Load load(const char *path);
    // Memory files of this size or more are copied rather than viewed.
    static constexpr std::size_t kCopyFrom = std::size_t{1} << 20;
    // Gives the memory back; bytes() is empty afterwards.
    void release();
    std::span<const unsigned char> bytes() const { return {data_, size_}; }

private:
    Load copy_memory_file(const char *path);

    const unsigned char *data_ = nullptr;
    std::size_t size_ = 0;
    void *owned_ = nullptr; // from VTQ_malloc, when read from disk or copied
};

// Size of the chunks a member is checked and converted in: the size it was
// once read in, and still the unit of the size limit's cuts and of the
// host's writes.
inline constexpr std::size_t kChunk = 64 * 1024;

// True when bytes start with a local file header signature: the host's
// mark of a ZIP archive, in both modes.
bool starts_like_zip(std::span<const unsigned char> bytes);

// Decides the kind of a file's bytes; legacy_iconv_name is the character
// set tried when they are not UTF-8.  The documented mode's rule.
MemberKind classify(std::span<const unsigned char> bytes, const char *legacy_iconv_name);

// Decodes a legacy character set to UTF-8 with iconv, strictly: a byte
// sequence the set does not define is an error, not a substitution.  The
// six groups are all stateless, so input may come in pieces.
class LegacyDecoder {
public:
    explicit LegacyDecoder(const char *iconv_name);
    LegacyDecoder(const LegacyDecoder &) = delete;
    LegacyDecoder &operator=(const LegacyDecoder &) = delete;
    ~LegacyDecoder();
    bool ok() const;
    // Decodes the whole characters at the start of in[0..n), appending
    // UTF-8 to out (when out is null the text is checked, not kept).
    // Returns the bytes consumed; a character cut off by the end of the
    // buffer is left for the next call.  *bad is set on an invalid one.
    std::size_t decode(const char *in, std::size_t n, std::string *out, bool *bad);
    // Appends what the set kept back at the end of the input: windows-1255
    // and windows-1258 hold a base letter for the marks that may follow.
    void finish(std::string *out);

private:
    iconv_t cd_;
};

// Length of the longest prefix of p[0..n) made of complete, valid UTF-8
// sequences.  *bad is set when a sequence is invalid (as opposed to cut
// off by the end of the buffer).
std::size_t utf8_valid_prefix(const unsigned char *p, std::size_t n, bool *bad);

// True when all of p[0..n) is valid UTF-8 ending with a whole character,
// as utf8_valid_prefix() == n would say; faster where the processor allows.
bool utf8_all_valid(const unsigned char *p, std::size_t n);
#if defined(__x86_64__)
// The same answer with AVX2, for a processor that has it; false can also
// mean only "not shown valid" (utf8_all_valid then asks the byte-wise one).
bool utf8_all_valid_avx2(const unsigned char *p, std::size_t n);
// The same, with a NUL byte counted as invalid: true only for bytes that are
// UTF-8 text (no NUL, valid, complete); false decides nothing.
bool utf8_text_avx2(const unsigned char *p, std::size_t n);
#endif
// True when bytes are UTF-8 text: no NUL byte, valid, ending with a whole
// character; one vector pass where the processor allows.
bool utf8_text(std::span<const unsigned char> bytes);

// ------------------------------------------------------------ output

// Where a member's text goes: a program's text hook when one is set, else
// a host stream or a host file.
struct Sink {
    VTQ_FILE *file = nullptr;
    VTQ_STREAM *stream = nullptr;
    void (*on_text)(void *user, const void *data, std::size_t len) = nullptr;
    void *text_user = nullptr;
    // Writes all n bytes; false when the host file took fewer (neither a
    // stream's nor a hook's answer is examined: they report nothing).
    bool put(const char *p, std::size_t n) const;
};

// Writes text to a sink, continuing a running byte count and, when the
// format flags ask for it, stopping at the size limit without cutting a
// character of the output encoding (CutStr decides the cut).
class LimitedWriter {
public:
    LimitedWriter(const Sink &sink, const TxtOptions &opts, uint64_t start_count);

    enum class Result { kOk, kCut, kWriteFailed };
    // Writes what fits of p[0..n); n must be whole characters.  After kCut
    // every later call writes nothing and returns kCut.
    Result write(const char *p, std::size_t n);

    uint64_t count() const { return count_; }
    bool cut() const { return cut_; }
    // True when a write of any size goes out as one: no limit to cut at,
    // no hook that is handed the text in pieces.
    bool takes_any_size() const { return !limit_on_ && sink_.on_text == nullptr; }

private:
    Sink sink_;
    const TxtOptions &opts_;
    uint64_t count_;
    bool limit_on_;
    uint32_t limit_;
    bool cut_ = false;
};

// Converts UTF-8 text to the output encoding of opts.OutCode through the
// host's converter (libvtq_conf), one whole-character chunk at a time.
// OutCode 0 (UTF-8) passes bytes through untouched.
class Encoder {
public:
    explicit Encoder(const TxtOptions &opts);
    // The first chunk converted after this call carries the converter's
    // first-output flag (a byte-order mark where the encoding has one).
    void start_of_output() { first_ = true; }
    // Converts utf8[0..n) and appends to out.  False when the converter
    // could not be set up or failed.
    bool convert(const char *utf8, std::size_t n, std::string &out);
    // The bytes the converter puts before the first output (byte-order
    // mark), empty when it puts none.  False when the converter failed.
    bool byte_order_mark(std::string &bom);
    // True when convert() only copies (UTF-8 output): the text can go out
    // as it stands.
    bool passthrough() const { return opts_.OutCode == 0; }

private:
    bool run(const char *src, std::size_t n, bool first, std::string &out);
    const TxtOptions &opts_;
    bool first_ = false;
};

// Writes the text of a member file's bytes that classify() found to be
// text, kChunk bytes of the file at a time.  Returns 0, 3005 when the size
// limit cut it, 6002 when the converter failed, 24 when the host file took
// fewer bytes than given, 25 when the bytes turn out not to be the text
// classify() saw.  writer's count is the running count.
uint32_t write_text(std::span<const unsigned char> bytes, MemberKind kind,
                    const char *legacy_iconv_name, Encoder &encoder, LimitedWriter &writer);

// ------------------------------------------------------------ extended mode

// What VTQ_MODE_EXTENDED asks of a hand-off (see extended.cpp): the
// program's member-event callback and its text hooks, zero where the
// records do not have them.  Without the bit: all zero, on false.
struct Extended {
    bool on = false;
    VtqMemberCallback on_member = nullptr;
    void *member_user = nullptr;
    uint32_t hook_flags = 0; // VTQ_HOOK_*
    void (*on_text)(void *user, const void *data, std::size_t len) = nullptr;
    void (*on_raw)(void *user, const void *data, std::size_t len) = nullptr;
    void *hook_user = nullptr;
    bool raw_members() const { return (hook_flags & VTQ_HOOK_RAW_MEMBERS) != 0; }
};

// Reads opts->Extension (when the bit is set) and the VTQ_TextHooks its
// HostData points to; a field counts only when it lies wholly within its
// record's Size.
Extended read_extended(const TxtOptions &opts);

// Hands the member's DETAIL event to the program, when it has a callback;
// format, encoding and reason (why the member gives no text) are null or
// NUL-terminated.
void send_detail(const Extended &ext, const char *format, const char *encoding,
                 const char *reason = nullptr);

// What a member file is and how its text is read.
struct MemberDecision {
    MemberKind kind;
    std::string iconv_name; // kLegacyText: the encoding its bytes decode from
    std::size_t skip = 0;   // bytes of byte-order mark in front of the text
    std::string format;     // the DETAIL event's Format ("text", "zip", "pdf"); "": unknown
    std::string encoding;   // its Encoding, a display name; "": none
    MemberFormat document;  // kDocument: what sniff_member() found
};

// The extended mode's decision, by content (sniff_member): a ZIP archive
// (not an Office or OpenDocument package), text in the encoding
// detect_encoding() finds (charset: the user's, or "" / "auto" for none),
// a document, else no filter; Format then names the kind of file when its
// signature tells ("png").
MemberDecision decide_extended(std::span<const unsigned char> bytes, std::string_view charset,
                               std::string_view language);

// ------------------------------------------------------------ nested

// Where a nested archive's text goes.
struct NestedCall {
    const char *member_path;
    const TxtOptions *opts;
    ParentInfo *parent;
    uint32_t mode; // 1 split, 2 compose
    uint64_t user_data;
    Sink sink;             // compose mode (and stream split): the enclosing output
    const char *text_path; // file split mode: the member's text path
    bool keep_bom;         // the nested text starts the enclosing output
    // The program's text hook takes the members' texts: the nested level's
    // own count of them, not only what reaches the sink, is carried on.
    bool texts_to_hook;
};

// Hands a ZIP member back to the filter (GetText4WithErrCallback) and
// returns the code the member gets.  See nested.cpp for the rules.
uint32_t nested_archive(const NestedCall &call);

// The depth bound: a ZIP member found at this level (the top-level
// archive being level 1) is not opened.
inline constexpr uint8_t kMaxArchiveLevels = 16;

// ------------------------------------------------------------ paths

// The split-mode text path of a member file: its last extension replaced
// by ".txt", and ".txt" once more when that would name the member file
// itself.  False when the result would not fit in VTQ_PATH_MAX bytes.
bool split_text_path(const char *member_path, std::string &text_path);

// The bound on fresh text names: "x (2).txt" up to "x (10000).txt".
inline constexpr unsigned kMaxTextNames = 10000;

// Creates the text file at text_path, which ends in ".txt", when nothing
// has that name; else at the first free one of "<stem> (2).txt",
// "<stem> (3).txt", ... up to kMaxTextNames, and sets text_path to it.
// Nothing that exists is opened: a user's file of that name, a link
// planted there, the text of an earlier member all stay as they were.
// Returns the open file, or null with *code 27 (a fresh name would not fit
// in VTQ_PATH_MAX bytes) or 22 (no free name, or the host could not
// create the file for another reason).
VTQ_FILE *create_text_file(std::string &text_path, uint32_t *code);

} // namespace vtq::txif

// run.cpp - one archive through the filter and the stand-in host, to one kind of output
//
// Every call builds the filter's options record from the caller's settings,
// and in extended mode an extension record whose member events feed a
// Collector; the text hooks of the stand-in host (VTQ_TextHooks) bring each
// member's text when records with texts are asked for.  Composed text goes
// through the stream entry point, files through the file entry point.  What
// the host's failure records say about the result goes into the summary's
// lines, so that a message names the file and the reason, not only a code.
#include "lib/ziptext/run.h"

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "lib/ziptext/out_file.h"
#include "vtq/standin.h"

namespace ziptext {
namespace {

// A host stream onto a write callback, buffered so that the filter's many
// small writes (labels, line breaks) do not each become a call.  With no
// callback the text is counted and dropped.  After the callback's first
// error nothing more is written.
class Writer {
public:
    Writer(zt_write_fn write, void *user) : write_(write), user_(user) {
        stream_.Write = &Writer::write_cb;
        stream_.User = this;
    }
    VTQ_STREAM *stream() { return &stream_; }
    // Writes what is buffered; the first error, or 0.
    int finish() {
        flush();
        return error_;
    }
    uint64_t bytes() const { return bytes_; }

private:
    static constexpr std::size_t kBuffer = 64 * 1024;

    static int write_cb(void *user, const void *data, uint32_t len) {
        auto *self = static_cast<Writer *>(user);
        self->bytes_ += len;
        if (self->write_ == nullptr || self->error_ != 0) return self->error_ != 0 ? -1 : 0;
        const char *p = static_cast<const char *>(data);
        if (self->used_ + len > kBuffer) self->flush();
        if (len >= kBuffer) {
            self->put(p, len);
        } else {
            std::memcpy(self->buf_ + self->used_, p, len);
            self->used_ += len;
        }
        return self->error_ != 0 ? -1 : 0;
    }
    void flush() {
        if (used_ > 0) put(buf_, used_);
        used_ = 0;
    }
    void put(const char *p, std::size_t n) {
        if (write_ != nullptr && error_ == 0) error_ = write_(user_, p, n);
    }

    VTQ_STREAM stream_{};
    zt_write_fn write_;
    void *user_;
    char buf_[kBuffer];
    std::size_t used_ = 0;
    uint64_t bytes_ = 0;
    int error_ = 0;
};

// A path as the lines show it: the fresh file an output is written to goes
// by the output's own name.
struct ShownPath {
    std::string temp, shown;
    std::string operator()(const std::string &path) const {
        return !temp.empty() && path == temp ? shown : path;
    }
};

// verb: how to name the failed operation, or null for the record's own.
std::string cannot_line(const VTQ_HostFailure &rec, const ShownPath &shown,
                        const char *verb = nullptr) {
    std::string op = verb != nullptr ? verb : std::string(rec.Op, strnlen(rec.Op, sizeof rec.Op));
    if (op == "mkdir") op = "make directory";
    std::string path(rec.Path, strnlen(rec.Path, sizeof rec.Path));
    // The work directory is also asked for as "DIR/".
    if (path.size() > 1 && path.back() == '/') path.pop_back();
    return "cannot " + op + " '" + shown(path) + "': " + std::strerror(rec.Errno);
}

// The host failure record that explains a code of the host's services.
struct HostCause {
    uint32_t code;
    uint32_t kind;
};
constexpr HostCause kHostCauses[] = {
    {22, VTQ_HOST_FAIL_OPEN},   {24, VTQ_HOST_FAIL_WRITE}, {25, VTQ_HOST_FAIL_READ},
    {26, VTQ_HOST_FAIL_REMOVE}, {27, VTQ_HOST_FAIL_MKDIR},
};

// What failed behind a code of the host's services, or "".
std::string host_cause(uint32_t code, const ShownPath &shown) {
    for (const HostCause &c : kHostCauses) {
        VTQ_HostFailure rec, dir;
        if (c.code != code || !VTQ_HostFailureGet(c.kind, &rec)) continue;
        // Making a directory that exists is how the work directory is
        // named, and no cause of 27: that code then means a path too long.
        const bool mkdir_failed =
            VTQ_HostFailureGet(VTQ_HOST_FAIL_MKDIR, &dir) && dir.Errno != EEXIST;
        if (code == 27 && !mkdir_failed) break;
        // A file missing its folder: the folder that could not be made is
        // the cause.
        if (code == 22 && rec.Errno == ENOENT && mkdir_failed) rec = dir;
        return cannot_line(rec, shown);
    }
    return "";
}

// The host's record of data lost in a file, or "".
std::string lost_line(const ShownPath &shown) {
    VTQ_HostFailure rec;
    // Data was lost, whether the write, flush or close reported it.
    return VTQ_HostWriteFailure(&rec) ? cannot_line(rec, shown, "write") : std::string();
}

int discard(void *, const void *, size_t) { return 0; }

// The members and uncompressed bytes of the archive itself, from a listing.
struct Totals {
    uint64_t members = 0, bytes = 0;
    static void count(void *user, const zt_member *m) {
        auto *t = static_cast<Totals *>(user);
        if (m->depth != 0) return;
        ++t->members;
        t->bytes += m->uncompressed_size;
    }
};

Result run(const char *archive, const Destination &d, const zt_options *opts) {
    Result res;
    Settings s;
    if (!read_settings(opts, &s, &res.cause)) {
        res.code = VTQ_E_NO_RECORD;
        return res;
    }
    if (archive == nullptr || (d.kind >= Output::kPath && d.path == nullptr) ||
        (d.kind == Output::kWrite && d.write == nullptr)) {
        res.code = VTQ_E_NO_RECORD;
        res.cause = "no archive or no output given";
        return res;
    }
    const std::string name = s.archive_name != nullptr ? s.archive_name : archive;
    VTQ_HostFailureClear();
    Filter filter;
    std::string error;
    if (!filter.load(&error)) {
        res.code = VTQ_E_OPEN;
        res.cause = "cannot load the ZIP filter: " + error;
        return res;
    }
    const bool texts = d.kind == Output::kMembers, listing = d.kind == Output::kList;
    Collector c(name, texts, listing, s.failed_only, s.on_member, s.on_progress, s.user);
    if (s.strict && listing) {
        res.code = strict_list(filter, archive, s, c);
        res.members = c.members();
        return res;
    }
    if (s.strict && texts) {
        res.code = VTQ_E_NO_RECORD;
        res.cause = "records of members need the extended mode";
        return res;
    }
    if (s.on_progress != nullptr && !s.strict && !listing) {
        zt_options list_opts{};
        if (opts != nullptr)
            std::memcpy(&list_opts, opts, std::min<std::size_t>(opts->size, sizeof list_opts));
        list_opts.size = sizeof list_opts;
        Totals totals;
        list_opts.on_member = &Totals::count;
        list_opts.on_progress = nullptr;
        list_opts.user = &totals;
        Destination list_to;
        list_to.kind = Output::kList;
        if (run(archive, list_to, &list_opts).code == VTQ_OK)
            c.set_totals(totals.members, totals.bytes);
        VTQ_HostFailureClear();
    }

    VTQ_TextHooks hooks{sizeof hooks, 0, &Collector::on_text, nullptr, &c};
    VtqExtension ext{};
    ext.Size = sizeof ext;
    ext.Version = VTQ_EXTENSION_VERSION;
    ext.Password = s.password;
    ext.PasswordLen = s.password_len;
    ext.Flags = listing ? VTQ_EXT_LIST_ONLY : 0;
    ext.OnMember = &Collector::on_event;
    ext.User = &c;
    std::memcpy(ext.NameCharset, s.name_charset.data(),
                std::min(s.name_charset.size(), sizeof ext.NameCharset - 1));
    ext.HostData = texts ? &hooks : nullptr;

    uint32_t mode = VTQ_MODE_COMPOSE;
    if (d.kind == Output::kSplit) mode = 0;
    if (d.kind == Output::kFlat) mode = VTQ_MODE_FLAT;
    if (texts || listing) mode |= VTQ_MODE_NO_LABELS;
    TxtOptions txt = txt_options(s, mode);
    if (!s.strict) txt.Extension = &ext;

    ShownPath shown;
    std::string install_error;
    switch (d.kind) {
    case Output::kMembers:
    case Output::kList:
    case Output::kWrite: {
        auto writer =
            std::make_unique<Writer>(d.kind == Output::kWrite ? d.write : &discard, d.write_user);
        res.code = filter.get_text_stream(archive, writer->stream(), &txt, nullptr, 0);
        res.output_errno = writer->finish();
        res.bytes = d.kind == Output::kWrite ? writer->bytes() : c.text_bytes();
        break;
    }
    case Output::kPath: {
        OutFile out;
        if (!reserve_out_file(d.path, false, &out, &error)) {
            res.code = VTQ_E_OPEN;
            res.cause = error;
            VTQ_HostKeepCreated();
            return res;
        }
        shown = {out.temp, out.path};
        res.code = filter.get_text(archive, out.temp.c_str(), &txt, nullptr, 0);
        const int64_t size = VTQ_GetFileSizeByPath(out.temp.c_str());
        res.bytes = size > 0 ? static_cast<uint64_t>(size) : 0;
        // Lost data keeps the old output.
        VTQ_HostFailure lost;
        if (VTQ_HostWriteFailure(&lost) || !install_out_file(out, &install_error))
            discard_out_file(out);
        break;
    }
    case Output::kSplit:
    case Output::kFlat: {
        // The filter places nested split-mode work directories from the
        // directory of this path; a bare file name has none, and would put
        // them at the root of the file system.
        std::string out = d.path;
        if (out.find('/') == std::string::npos) out = "./" + out;
        res.code = filter.get_text(archive, out.c_str(), &txt, nullptr, 0);
        res.bytes = c.text_bytes();
        break;
    }
    }
    res.cause = host_cause(res.code, shown);
    // A short member write (24) names the same failure itself.
    const std::string lost = lost_line(shown);
    if (!lost.empty() && res.cause.rfind(lost, 0) != 0) res.message += lost + "\n";
    if (!install_error.empty()) res.message += install_error + "\n";
    VTQ_HostKeepCreated();
    res.members = c.members();
    res.failed = c.failed();
    if (c.broken()) {
        res.message += "memory ran out for the members' records; some are missing\n";
        if (res.code == VTQ_OK) res.code = VTQ_E_NO_MEMORY;
    }
    return res;
}

} // namespace

bool Filter::load(std::string *error) {
    if (!library) {
        *error = library.error();
        return false;
    }
    get_text = library.find<decltype(GetTextWithErrCallback)>("GetTextWithErrCallback");
    get_text_stream =
        library.find<decltype(GetTextStreamWithErrCallback)>("GetTextStreamWithErrCallback");
    format_chk = library.find<decltype(VtqZip_FormatChk)>("VtqZip_FormatChk");
    current_file_info =
        library.find<decltype(VtqZip_GetCurrentFileInfo)>("VtqZip_GetCurrentFileInfo");
    if (!get_text || !get_text_stream || !format_chk || !current_file_info) {
        *error = library.error();
        return false;
    }
    return true;
}

Result run_archive(const char *archive, const Destination &d, const zt_options *opts) noexcept {
    // The host keeps large buffers for the archive's next member; a program
    // that embeds the library must not hold them after the call.
    struct Release {
        ~Release() { VTQ_HostReleaseKept(); }
    } release;
    try {
        return run(archive, d, opts);
    } catch (...) {
        // Only memory can run out here.  What the call made stays recorded
        // by the host, for an interruption to remove.
        Result res;
        res.code = VTQ_E_NO_MEMORY;
        return res;
    }
}

} // namespace ziptext

// doc_parts.cpp - read a package's parts through the filter, in memory
//
// An Office Open XML or OpenDocument file is a ZIP archive; its parts are
// read by the filter itself, one archive level down, in extended mode, with
// the stand-in host's raw-member hook: every member's bytes come to OnRaw
// instead of being extracted as text, and the BEGIN event before it names
// the member.  The package is never opened as a nested archive, so none of
// its XML reaches the output, and the filter's own limits (member size,
// overlapping members, damaged entries passed over) hold for the parts as
// for any archive.
#include <cstring>

#include "host/txif/documents.h"
#include "host/txif/filter_loader.h"
#include "host/txif/internal.h"
#include "vtq/standin.h"

namespace vtq::txif {

namespace {

// The most bytes of parts kept for one package: a generous bound on the
// XML of one document, so that a package of many large parts cannot hold
// memory without end.
constexpr std::size_t kMaxPackageBytes = 256u << 20;

// A part carries text or leads to it when it is XML or a relationship
// part; images, fonts, embedded binaries are passed over.
bool wanted_part(std::string_view name) {
    const std::string lower = lower_ascii(name);
    return lower.ends_with(".xml") || lower.ends_with(".rels");
}

// Collects the parts from the filter's events and the raw-member hook.
struct Collector {
    PackageParts *parts = nullptr;
    std::string current; // the name of the member between BEGIN and END
    bool in_member = false;
    std::size_t kept = 0;
    bool over_budget = false;
};

void on_member(void *user, const VtqMemberEvent *event) {
    auto &c = *static_cast<Collector *>(user);
    if (event->Kind == VTQ_EVENT_BEGIN) {
        c.current = event->Name ? event->Name : "";
        c.in_member = true;
    } else if (event->Kind == VTQ_EVENT_END) {
        c.in_member = false;
    }
}

void on_raw(void *user, const void *data, size_t len) {
    auto &c = *static_cast<Collector *>(user);
    if (!c.in_member || !wanted_part(c.current)) return;
    if (len > kMaxPackageBytes - c.kept) {
        c.over_budget = true;
        return;
    }
    c.kept += len;
    (*c.parts)[c.current].assign(static_cast<const char *>(data), len);
}

// A memory file of the host's store, removed on destruction: the
// package's bytes when they have no file of their own, or the nested
// level's output.
class TempFile {
public:
    explicit TempFile(std::string_view suffix) {
        char name[VTQ_PATH_MAX];
        if (VTQ_ASC_tmpnam(name) != nullptr) path_ = std::string(name).append(suffix);
    }
    TempFile(const TempFile &) = delete;
    TempFile &operator=(const TempFile &) = delete;
    ~TempFile() {
        if (!path_.empty()) VTQ_ASC_remove(path_.c_str());
    }
    // False when no name could be had or the bytes were not all written.
    bool write(std::span<const unsigned char> bytes) {
        if (path_.empty()) return false;
        VTQ_FILE *f = VTQ_FileOpen(path_.c_str(), "wb");
        if (f == nullptr) return false;
        const bool ok =
            bytes.empty() || VTQ_FileWrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
        return VTQ_FileClose(f) == 0 && ok;
    }
    const std::string &path() const { return path_; }

private:
    std::string path_;
};

using GetText4Fn = decltype(GetText4WithErrCallback);

} // namespace

DocResult read_package(std::span<const unsigned char> bytes, const char *path, DocContext &ctx,
                       PackageParts &parts) {
    if (!document_level_free(*ctx.parent)) return doc_failed("documents nested too deeply");
    TempFile package(".zip");
    if (path == nullptr) {
        if (!package.write(bytes)) return doc_failed("no memory file for the package");
        path = package.path().c_str();
    }
    FilterLibrary filter;
    auto *get_text4 = filter.find<GetText4Fn>("GetText4WithErrCallback");
    if (get_text4 == nullptr) return doc_failed("the ZIP filter cannot be loaded");

    Collector collector;
    collector.parts = &parts;
    VTQ_TextHooks hooks{};
    hooks.Size = sizeof hooks;
    hooks.Flags = VTQ_HOOK_RAW_MEMBERS;
    hooks.OnRaw = on_raw;
    hooks.User = &collector;
    VtqExtension ext{};
    ext.Size = sizeof ext;
    ext.Version = VTQ_EXTENSION_VERSION;
    ext.OnMember = on_member;
    ext.User = &collector;
    ext.HostData = &hooks;

    // Composed, without labels, into a memory file that is thrown away:
    // raw members give no text, and what the filter writes between them
    // (line breaks) neither counts towards the size limit nor reaches any
    // output; no log lines for the parts of a document either.
    TxtOptions opts = *ctx.opts;
    opts.ModeFlags = VTQ_MODE_ENABLED | VTQ_MODE_COMPOSE | VTQ_MODE_NO_LABELS |
                     VTQ_MODE_KEEP_GOING | VTQ_MODE_EXTENDED;
    opts.FormatFlags &= ~(VTQ_FMT_SIZE_LIMIT | VTQ_FMT_LOG);
    opts.OutCode = 0;
    opts.Extension = &ext;
    ParentInfo parent = *ctx.parent;
    parent.Written = 0;
    parent.Log = nullptr;
    ++parent.Reserved[0]; // one archive level down, as a nested archive is

    TempFile out(".txt");
    if (out.path().empty()) return doc_failed("no memory file for the package");
    const uint32_t rc = get_text4(path, out.path().c_str(), &opts, nullptr, &parent, 0);
    if (collector.over_budget) return doc_failed("package parts larger than 256 MiB");
    if (parts.empty()) return doc_failed("damaged package (code " + std::to_string(rc) + ")");
    return {};
}

} // namespace vtq::txif

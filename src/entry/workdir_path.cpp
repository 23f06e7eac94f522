// workdir_path.cpp - forming the work directory path of an extraction
#include "entry/workdir_path.h"

#include <cstring>
#include <span>
#include <string_view>

#include "vtq/host.h"

namespace vtq::entry {

namespace {

// Builds a NUL-terminated path in a fixed buffer.  Once something does not
// fit, it stops writing and remembers the overflow; the buffer always stays
// terminated within its size.
class PathWriter {
public:
    explicit PathWriter(std::span<char, VTQ_PATH_MAX> buf) : buf_(buf) {
        std::memset(buf_.data(), 0, buf_.size());
    }

    void Append(std::string_view s) {
        if (overflow_ || buf_.size() - 1 - len_ < s.size()) {
            overflow_ = true;
            return;
        }
        if (!s.empty()) std::memcpy(buf_.data() + len_, s.data(), s.size());
        len_ += s.size();
        buf_[len_] = '\0';
    }

    // Writes s over the beginning of what is there, without a terminator:
    // a shorter s leaves the tail of the old text standing.
    void Overlay(std::string_view s) {
        if (overflow_ || buf_.size() - 1 < s.size()) {
            overflow_ = true;
            return;
        }
        if (!s.empty()) std::memcpy(buf_.data(), s.data(), s.size());
        if (s.size() > len_) {
            len_ = s.size();
            buf_[len_] = '\0';
        }
    }

    bool overflow() const { return overflow_; }

private:
    std::span<char, VTQ_PATH_MAX> buf_;
    size_t len_ = 0;
    bool overflow_ = false;
};

// Index of the last separator of path (0: no directory part).  A host that
// answers out of range is taken to mean "no directory part" rather than
// trusted with an index past the string.
size_t BreakOf(std::string_view path) {
    int32_t k = VTQ_getPathBreak(path.data());
    return (k > 0 && static_cast<size_t>(k) < path.size()) ? static_cast<size_t>(k) : 0;
}

// The first n bytes of s, and s from pos on; n and pos are within s.
// string_view::substr would check that again and throw, and nothing may be
// thrown in the filter.
std::string_view Head(std::string_view s, size_t n) { return {s.data(), n}; }
std::string_view Tail(std::string_view s, size_t pos) { return {s.data() + pos, s.size() - pos}; }

void Store(std::span<char, VTQ_PATH_MAX> dst, std::string_view s) {
    // The sources are substrings of paths already known to fit.
    std::memset(dst.data(), 0, dst.size());
    if (!s.empty())
        std::memcpy(dst.data(), s.data(), s.size() < dst.size() ? s.size() : dst.size() - 1);
}

} // namespace

bool FitsIn(const char *str, size_t cap) { return strnlen(str, cap) < cap; }

uint32_t FormWorkPath(ZipBus &bus, const WorkPathArgs &args) {
    const bool compose = (args.mode_flags & VTQ_MODE_COMPOSE) != 0;
    const bool flat = (args.mode_flags & VTQ_MODE_FLAT) != 0;
    const bool stream = args.kind == EntryKind::kStream;

    const std::string_view archive(args.archive);
    const std::string_view out = stream ? std::string_view() : std::string_view(args.out_path);
    const size_t ka = BreakOf(archive);
    const size_t ko = stream ? 0 : BreakOf(out);

    PathWriter dst(bus.DstFileTmp);
    std::memset(bus.SrcDir, 0, sizeof bus.SrcDir);
    std::memset(bus.SrcName, 0, sizeof bus.SrcName);

    // The directory the path is built from.  Compose mode takes the
    // archive's own directory, except that a separator right after a drive
    // colon ("c:/a.zip") keeps the whole archive path.  Split mode takes the
    // output's directory; a nested level prefers the top-level output's, so
    // that nested work directories gather beside the top-level one.  A
    // stream has no output, and its split mode starts from ".".
    std::string_view src_dir;
    if (compose) {
        src_dir = (ka > 0 && archive[ka - 1] == ':') ? archive : Head(archive, ka);
    } else if (args.kind == EntryKind::kTop) {
        src_dir = Head(out, ko);
    } else if (args.kind == EntryKind::kNested) {
        const std::string_view parent(args.parent_path);
        src_dir = parent.empty() ? Head(out, ko) : Head(parent, BreakOf(parent));
    }
    Store(bus.SrcDir, src_dir);
    if (ka > 0) Store(bus.SrcName, Tail(archive, ka + 1));

    if (!compose && !stream && ka == 0) {
        // Split mode, an archive named without a directory: its work
        // directory is named after it in the output's own directory (for a
        // nested level too, since there is no archive directory to go by).
        dst.Append(Head(out, ko));
        if (!flat) {
            if (ko > 0) dst.Append("/");
            dst.Append(archive);
        }
    } else {
        // An output without a directory part means the current directory.
        // The directory is laid over the "./" default rather than replacing
        // it, so a one-character directory x comes out as "x/".
        if (ko == 0) dst.Append("./");
        if (ka == 0) {
            dst.Append(archive);
        } else {
            dst.Overlay(src_dir);
        }
        // Split mode works in a directory named after the archive, unless
        // Flat asks for the directory itself.
        if (!compose && !stream && !flat) {
            dst.Append("/");
            dst.Append(Tail(archive, ka + 1));
        }
    }

    if (dst.overflow()) {
        std::memset(bus.DstFileTmp, 0, sizeof bus.DstFileTmp);
        return VTQ_E_PATH;
    }
    return VTQ_OK;
}

} // namespace vtq::entry

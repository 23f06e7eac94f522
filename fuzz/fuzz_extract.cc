// fuzz_extract.cc - whole extractions of any bytes, through the shipped
// filter and the stand-in host, in every mode
//
// Each input is written as in/a.zip inside a private directory and
// extracted eight times: composed into a file and into a stream, split into
// a work directory beside the output and through the current directory of
// a stream extraction, and flat; then in extended mode (every method,
// traditional and WinZip AES encryption with the password "vtq-secret", the
// password of tests/data and of the seeds in regressions/extract) composed
// into a file with KeepGoing, split through a stream without, and listed.  The stand-in host is the real one
// (libvtq_txif and friends), so nested archives come back into the filter
// as they do under ziptext.  After every extraction the harness checks:
//  - the result is one of the documented codes;
//  - nothing is left in the temporary directory, the archive's directory
//    holds only the archive, and a stream extraction leaves nothing in the
//    current directory;
//  - the output directory holds only directories, text files (*.txt) and
//    the log (*.log): extracted member files are always deleted;
//  - no file descriptor stays open;
//  - composed output, to a file or a stream, stays within the size limit;
//  - extended mode: every member event is a BEGIN, an END or a DETAIL of
//    the size the header gives, BEGIN and END pair up and nest (nested
//    archives inside their member) and name the same member, a DETAIL comes
//    only between a BEGIN and its END; a listing leaves the output
//    directory empty; and without the extended bit no event comes at all.
// Leaks are left to LeakSanitizer (the fuzz build) or valgrind.
//
// The host's allocation cap is lowered to 64 MiB (unless VTQ_MAX_ALLOC is
// set already), so that a member whose central entry claims gigabytes is
// refused with 12 instead of being allocated.
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz/fuzz_common.h"
#include "vtq/host.h"
#include "vtq/zozaz.h"

namespace {

namespace fs = std::filesystem;
using vtq::fuzz::Die;

enum class Entry { kFile, kStream };

struct Run {
    const char *label;
    Entry entry;
    uint32_t mode;     // ModeFlags besides Enabled
    uint32_t format;   // FormatFlags
    uint32_t out_code; // output encoding
    uint64_t max_size;
    const char *language;
    uint32_t ext_flags = 0; // VTQ_EXT_* of an extended run
};

constexpr uint32_t kLimit = VTQ_FMT_SIZE_LIMIT;
constexpr Run kRuns[] = {
    {"compose, file", Entry::kFile,
     VTQ_MODE_COMPOSE | VTQ_MODE_KEEP_GOING | VTQ_MODE_TEMP_IN_PARENT,
     VTQ_FMT_EOL_LF | kLimit | VTQ_FMT_LOG, 0, 1u << 20, ""},
    {"compose, stream", Entry::kStream, VTQ_MODE_COMPOSE, VTQ_FMT_EOL_CRLF | kLimit, 1, 1u << 20,
     "Japanese"},
    {"split, file", Entry::kFile, VTQ_MODE_KEEP_GOING, VTQ_FMT_EOL_LF | kLimit, 0, 1u << 20, ""},
    {"split, stream", Entry::kStream, 0, VTQ_FMT_EOL_LF | kLimit, 3, 1u << 20, "Japanese"},
    {"flat, file", Entry::kFile, VTQ_MODE_FLAT, VTQ_FMT_EOL_CR, 0, 0, ""},
    {"extended compose, file", Entry::kFile,
     VTQ_MODE_EXTENDED | VTQ_MODE_COMPOSE | VTQ_MODE_KEEP_GOING, VTQ_FMT_EOL_LF | kLimit, 0,
     1u << 20, ""},
    {"extended split, stream", Entry::kStream, VTQ_MODE_EXTENDED, VTQ_FMT_EOL_LF | kLimit, 0,
     1u << 20, ""},
    {"extended list, file", Entry::kFile, VTQ_MODE_EXTENDED | VTQ_MODE_KEEP_GOING, 0, 0, 0, "",
     VTQ_EXT_LIST_ONLY},
};
constexpr char kPassword[] = "vtq-secret";

// The member events of one extended run (see the file comment).
struct Events {
    std::string run;
    std::vector<std::string> open; // names between their BEGIN and END
    size_t count = 0;
    static void On(void *user, const VtqMemberEvent *e) {
        auto *self = static_cast<Events *>(user);
        const std::string what = self->run + ": member event ";
        if (e->Size != sizeof *e) Die(what + "of size " + std::to_string(e->Size));
        const std::string name = e->Name != nullptr ? e->Name : "(null)";
        if (e->Kind == VTQ_EVENT_BEGIN) {
            self->open.push_back(name);
        } else if (e->Kind == VTQ_EVENT_DETAIL) {
            // The host's word on the member being read: only inside one.
            if (self->open.empty()) Die(what + "DETAIL outside a member");
        } else if (e->Kind != VTQ_EVENT_END) {
            Die(what + "of kind " + std::to_string(e->Kind));
        } else if (self->open.empty() || self->open.back() != name) {
            Die(what + "END of " + name + " without its BEGIN");
        } else {
            self->open.pop_back();
        }
        ++self->count;
    }
};

struct Dirs {
    std::string root, in, out, tmp, cwd, archive, output;
};

// The open descriptors on files, as "fd -> path" lines.  Pipes and the
// like are left out: the sanitizer runtimes make some of their own.
std::string OpenFiles() {
    std::string list;
    for (const auto &e : fs::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        const std::string target = fs::read_symlink(e.path(), ec).string();
        if (ec || target.rfind("/", 0) != 0 || target.rfind("/proc/", 0) == 0) continue;
        list += e.path().filename().string() + " -> " + target + "\n";
    }
    return list;
}

const Dirs &Setup() {
    static const Dirs dirs = [] {
        Dirs d;
        d.root = vtq::fuzz::PrivateDir();
        d.in = d.root + "/in";
        d.out = d.root + "/out";
        d.tmp = d.root + "/tmp";
        d.cwd = d.root + "/cwd";
        for (const std::string *p : {&d.in, &d.out, &d.tmp, &d.cwd}) fs::create_directory(*p);
        d.archive = d.in + "/a.zip";
        d.output = d.out + "/a.txt";
        setenv("TMPDIR", d.tmp.c_str(), 1);
        setenv("VTQ_MAX_ALLOC", "67108864", 0);
        unsetenv("VTQ_LOG_FILE");
        return d;
    }();
    return dirs;
}

int CollectStream(void *user, const void *buf, uint32_t len) {
    static_cast<std::string *>(user)->append(static_cast<const char *>(buf), len);
    return 0;
}

bool EndsWith(const std::string &s, const char *tail) {
    const size_t n = std::strlen(tail);
    return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

// What an extraction may leave: see the file comment.
void CheckLeftovers(const Dirs &d, const Run &run, uint32_t code) {
    const std::string what = std::string(run.label) + " (code " + std::to_string(code) + "): ";
    for (const std::string &p : vtq::fuzz::Listing(d.root)) {
        if (p == "in/" || p == "in/a.zip" || p == "out/" || p == "tmp/" || p == "cwd/") continue;
        if (p.rfind("out/", 0) == 0 && run.entry == Entry::kFile &&
            (p.back() == '/' || EndsWith(p, ".txt") || EndsWith(p, ".log")))
            continue;
        Die(what + "left " + p);
    }
}

// Composed output under the size limit: never more than MaxSize bytes.
void CheckLimit(const Run &run, size_t written) {
    if ((run.mode & VTQ_MODE_COMPOSE) == 0 || (run.format & kLimit) == 0) return;
    if (written > run.max_size)
        Die(std::string(run.label) + ": " + std::to_string(written) + " bytes over a limit of " +
            std::to_string(run.max_size));
}

// After an extended run: no member left open, and a listing made nothing.
void CheckEvents(const Dirs &d, const Run &run, const Events &events) {
    if (!events.open.empty()) Die(std::string(run.label) + ": no END for " + events.open.back());
    if ((run.mode & VTQ_MODE_EXTENDED) == 0 && events.count != 0)
        Die(std::string(run.label) + ": member events without the extended mode");
    if ((run.ext_flags & VTQ_EXT_LIST_ONLY) != 0 && !vtq::fuzz::Listing(d.out).empty())
        Die(std::string(run.label) + ": a listing left " + vtq::fuzz::Listing(d.out)[0]);
}

uint32_t Extract(const Dirs &d, const Run &run) {
    Events events{run.label, {}, 0};
    VtqExtension ext;
    std::memset(&ext, 0, sizeof ext);
    ext.Size = sizeof ext;
    ext.Version = VTQ_EXTENSION_VERSION;
    ext.Password = reinterpret_cast<const unsigned char *>(kPassword);
    ext.PasswordLen = sizeof kPassword - 1;
    ext.Flags = run.ext_flags;
    ext.OnMember = Events::On;
    ext.User = &events;
    TxtOptions opts;
    std::memset(&opts, 0, sizeof opts);
    opts.Extension = &ext;
    std::strncpy(opts.Language, run.language, sizeof opts.Language - 1);
    opts.OutCode = run.out_code;
    opts.FormatFlags = run.format;
    opts.ModeFlags = VTQ_MODE_ENABLED | run.mode;
    opts.MaxSize = run.max_size;
    if (run.entry == Entry::kFile) {
        const uint32_t code =
            GetTextWithErrCallback(d.archive.c_str(), d.output.c_str(), &opts, nullptr, 7);
        std::error_code ec;
        const auto size = fs::file_size(d.output, ec);
        CheckLimit(run, ec ? 0 : static_cast<size_t>(size));
        CheckEvents(d, run, events);
        return code;
    }
    // A stream extraction works in the current directory: lend it cwd/
    // for the call, and keep the process's own (where libFuzzer writes
    // its findings) for everything else.
    std::string text;
    VTQ_Stream stream{CollectStream, &text};
    const fs::path home = fs::current_path();
    fs::current_path(d.cwd);
    const uint32_t code =
        GetTextStreamWithErrCallback(d.archive.c_str(), &stream, &opts, nullptr, 7);
    fs::current_path(home);
    CheckLimit(run, text.size());
    CheckEvents(d, run, events);
    return code;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const Dirs &d = Setup();
    static const std::string files = OpenFiles();
    vtq::fuzz::WriteBytes(d.archive, data, size);
    for (const Run &run : kRuns) {
        const uint32_t code = Extract(d, run);
        if (!vtq::fuzz::DocumentedCode(code))
            Die(std::string(run.label) + ": undocumented code " + std::to_string(code));
        CheckLeftovers(d, run, code);
        if (const std::string now = OpenFiles(); now != files)
            Die(std::string(run.label) + ": open files changed from\n" + files + "to\n" + now);
        vtq::fuzz::Empty(d.out);
        vtq::fuzz::Empty(d.cwd);
    }
    return 0;
}

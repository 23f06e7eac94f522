// fuzz_extract.cc - whole extractions of any bytes, in every mode, through the
// shipped filter and the stand-in host (fuzz/README.md lists the checks)
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

#include "fuzz/fuzz_common.h"
#include "vtq/host.h"
#include "vtq/zozaz.h"
#include "ziptext.h"

using namespace vtq::fuzz;
namespace fs = std::filesystem;

namespace {

constexpr uint32_t kLimit = VTQ_FMT_SIZE_LIMIT, kLf = VTQ_FMT_EOL_LF, kExt = VTQ_MODE_EXTENDED;
constexpr uint32_t kCompose = VTQ_MODE_COMPOSE, kKeepGoing = VTQ_MODE_KEEP_GOING;
constexpr char kPassword[] = "vtq-secret"; // that of tests/data and regressions/extract

// An output code other than 0 goes with Japanese; a size limit is 1 MiB.
struct Run {
    const char *label;
    bool stream;
    uint32_t mode, format, out_code, ext_flags;
};
constexpr Run kRuns[] = {
    {"compose, file", false, kCompose | kKeepGoing | VTQ_MODE_TEMP_IN_PARENT,
     kLf | kLimit | VTQ_FMT_LOG, 0, 0},
    {"compose, stream", true, kCompose, VTQ_FMT_EOL_CRLF | kLimit, 1, 0},
    {"split, file", false, kKeepGoing, kLf | kLimit, 0, 0},
    {"split, stream", true, 0, kLf | kLimit, 3, 0},
    {"flat, file", false, VTQ_MODE_FLAT, VTQ_FMT_EOL_CR, 0, 0},
    {"extended compose, file", false, kExt | kCompose | kKeepGoing, kLf | kLimit, 0, 0},
    {"extended split, stream", true, kExt, kLf | kLimit, 0, 0},
    {"extended list, file", false, kExt | kKeepGoing, 0, 0, VTQ_EXT_LIST_ONLY},
};

// Member events come only in the extended mode; BEGIN and END pair up, nest
// and name the same member, a DETAIL comes only inside a member.
struct Events {
    std::string what;
    bool extended;
    std::vector<std::string> open;
};
void OnEvent(void *user, const VtqMemberEvent *e) {
    auto &ev = *static_cast<Events *>(user);
    const std::string name = e->Name != nullptr ? e->Name : "(null)";
    const bool in = !ev.open.empty(),
               end = in && e->Kind == VTQ_EVENT_END && ev.open.back() == name;
    if (!ev.extended || e->Size != sizeof *e ||
        !(e->Kind == VTQ_EVENT_BEGIN || end || (in && e->Kind == VTQ_EVENT_DETAIL)))
        Die(ev.what + "event " + std::to_string(e->Kind) + " of " + name);
    if (e->Kind == VTQ_EVENT_BEGIN) ev.open.push_back(name);
    if (end) ev.open.pop_back();
}

// The descriptors open on files (not the sanitizer runtimes' pipes), as
// "fd -> device:inode" lines, and the paths too when asked.  Compared
// without the paths: a descriptor inherited from the test runner keeps its
// file when another process renames or removes it (ctest runs side by side
// in one build directory share Testing/Temporary/LastTest.log.tmp).
std::string OpenFiles(bool with_paths = false) {
    std::string list;
    for (const auto &e : fs::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        const std::string target = fs::read_symlink(e.path(), ec).string();
        struct stat st;
        if (ec || !target.starts_with("/") || target.starts_with("/proc/") ||
            ::stat(e.path().c_str(), &st) != 0)
            continue;
        list += e.path().filename().string() + " -> " + std::to_string(st.st_dev) + ":" +
                std::to_string(st.st_ino) + (with_paths ? " " + target : "") + "\n";
    }
    return list;
}

int Append(void *text, const void *buf, uint32_t len) {
    static_cast<std::string *>(text)->append(static_cast<const char *>(buf), len);
    return 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // An allocation cap of 64 MiB: an entry claiming gigabytes is refused (12).
    static const std::string root = [] {
        const std::string r = PrivateDir();
        for (const char *d : {"/in", "/out", "/tmp", "/cwd"}) fs::create_directory(r + d);
        setenv("TMPDIR", (r + "/tmp").c_str(), 1);
        setenv("VTQ_MAX_ALLOC", "67108864", 0);
        unsetenv("VTQ_LOG_FILE");
        return r;
    }();
    static const std::string files = OpenFiles();
    const std::string archive = root + "/in/a.zip", output = root + "/out/a.txt";
    WriteBytes(archive, data, size);
    for (const Run &run : kRuns) {
        Events events{std::string(run.label) + ": ", (run.mode & kExt) != 0, {}};
        VtqExtension ext{};
        ext.Size = sizeof ext;
        ext.Version = VTQ_EXTENSION_VERSION;
        ext.Password = reinterpret_cast<const unsigned char *>(kPassword);
        ext.PasswordLen = sizeof kPassword - 1;
        ext.Flags = run.ext_flags;
        ext.OnMember = OnEvent;
        ext.User = &events;
        TxtOptions opts{};
        std::strcpy(opts.Language, run.out_code != 0 ? "Japanese" : "");
        opts.OutCode = run.out_code;
        opts.FormatFlags = run.format;
        opts.ModeFlags = VTQ_MODE_ENABLED | run.mode;
        opts.MaxSize = run.format & kLimit ? 1u << 20 : 0;
        opts.Extension = &ext;
        // A stream extraction works in the current directory: lend it cwd/.
        std::string text;
        VTQ_Stream stream{Append, &text};
        const fs::path home = fs::current_path();
        if (run.stream) fs::current_path(root + "/cwd");
        const uint32_t code =
            run.stream ? GetTextStreamWithErrCallback(archive.c_str(), &stream, &opts, {}, 7)
                       : GetTextWithErrCallback(archive.c_str(), output.c_str(), &opts, {}, 7);
        fs::current_path(home);
        const std::string what = events.what + "code " + std::to_string(code) + ", ";
        if (zt_code_meaning(code) == nullptr) Die(what + "undocumented");
        const uintmax_t written = run.stream                    ? text.size()
                                  : fs::is_regular_file(output) ? fs::file_size(output)
                                                                : 0;
        if ((run.mode & kCompose) && (run.format & kLimit) && written > opts.MaxSize)
            Die(what + std::to_string(written) + " bytes over the limit");
        if (!events.open.empty()) Die(what + "no END for " + events.open.back());
        // Left: only texts, logs and directories beside a file output (a listing: none).
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::end(it);
             it.increment(ec)) {
            const std::string p = fs::relative(it->path(), root).string();
            const bool kept = (it->is_directory() && !it->is_symlink()) || p.ends_with(".txt") ||
                              p.ends_with(".log");
            if (p != "in" && p != "in/a.zip" && p != "out" && p != "tmp" && p != "cwd" &&
                !(p.starts_with("out/") && !run.stream && !run.ext_flags && kept))
                Die(what + "left " + p);
        }
        if (OpenFiles() != files)
            Die(what + "open files changed from\n" + files + "to\n" + OpenFiles(true));
        for (const char *d : {"/out", "/cwd"})
            for (const auto &e : fs::directory_iterator(root + d)) fs::remove_all(e.path(), ec);
    }
    return 0;
}

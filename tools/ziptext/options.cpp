// options.cpp - parse ziptext's command line
#include "tools/ziptext/options.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace ziptext {
namespace {

bool parse_u64(std::string_view s, uint64_t *v) {
    if (s.empty()) return false;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), *v);
    return ec == std::errc() && end == s.data() + s.size();
}

// Options that take a value.
enum class Opt {
    kOut,
    kMaxSize,
    kEncoding,
    kEol,
    kCharset,
    kLanguage,
    kLog,
    kMaxMemberSize,
    kJobs,
    kOutDir,
    kPassword,
    kPasswordFile,
    kPasswordFd,
};
struct ValueOption {
    const char *name;
    Opt opt;
};
constexpr ValueOption kValueOptions[] = {
    {"-o", Opt::kOut},
    {"--output", Opt::kOut},
    {"--max-size", Opt::kMaxSize},
    {"--encoding", Opt::kEncoding},
    {"--eol", Opt::kEol},
    {"--charset", Opt::kCharset},
    {"--language", Opt::kLanguage},
    {"--log", Opt::kLog},
    {"--max-member-size", Opt::kMaxMemberSize},
    {"--jobs", Opt::kJobs},
    {"--out-dir", Opt::kOutDir},
    {"--password", Opt::kPassword},
    {"--password-file", Opt::kPasswordFile},
    {"--password-fd", Opt::kPasswordFd},
};

struct Switch {
    const char *name;
    bool Options::*flag;
};
constexpr Switch kSwitches[] = {
    {"--split", &Options::split},
    {"--no-labels", &Options::no_labels},
    {"--stop-on-error", &Options::stop_on_error},
    {"--strict", &Options::strict},
    {"--json", &Options::json},
    {"--quiet", &Options::quiet},
    {"-q", &Options::quiet},
    {"--verbose", &Options::verbose},
    {"-v", &Options::verbose},
};

// One of --charset, --language and --encoding, asked of the library alone
// (the strict mode knows fewer character sets).
enum class Name { kCharset, kLanguage, kEncoding };
bool check_name(Name which, const std::string &value, bool strict, std::string *error) {
    zt_options o{};
    o.size = sizeof o;
    o.flags = strict ? ZT_STRICT : 0;
    const char *option = "--charset";
    char *field = o.charset;
    std::size_t cap = sizeof o.charset;
    if (which == Name::kLanguage) {
        option = "--language";
        field = o.language;
        cap = sizeof o.language;
    } else if (which == Name::kEncoding) {
        option = "--encoding";
        field = o.encoding;
        cap = sizeof o.encoding;
    }
    char why[256] = "";
    if (value.size() < cap) {
        std::memcpy(field, value.data(), value.size());
        if (zt_check_options(&o, why, sizeof why) == 0) return true;
    } else {
        std::snprintf(why, sizeof why, "longer than %zu bytes", cap - 1);
    }
    *error = std::string(option) + ": " + why + " (see --help)";
    return false;
}

bool apply(Opt opt, std::string_view name, std::string_view value, Options *o, std::string *error) {
    auto bad = [&](const char *what) {
        *error = std::string(name) + ": " + what + ": '" + std::string(value) + "'";
        return false;
    };
    uint64_t n = 0;
    switch (opt) {
    case Opt::kOut:
        if (value.empty()) return bad("empty path");
        o->out = std::string(value);
        return true;
    case Opt::kMaxSize:
        // The limit is a 32-bit byte count; a larger one cannot be kept.
        if (!parse_u64(value, &n) || n > 0xFFFFFFFFu)
            return bad("expected a byte count from 0 to 4294967295");
        o->max_size = static_cast<uint32_t>(n);
        return true;
    case Opt::kEncoding:
        o->encoding = value;
        return true;
    case Opt::kEol:
        if (value == "lf")
            o->eol = ZT_EOL_LF;
        else if (value == "crlf")
            o->eol = ZT_EOL_CRLF;
        else if (value == "cr")
            o->eol = ZT_EOL_CR;
        else
            return bad("expected lf, crlf or cr");
        return true;
    case Opt::kCharset:
        o->charset = value;
        return true;
    case Opt::kLanguage:
        o->language = value;
        return true;
    case Opt::kLog:
        if (value.empty()) return bad("empty path");
        o->log_file = std::string(value);
        return true;
    case Opt::kMaxMemberSize:
        if (!parse_u64(value, &n) || n == 0) return bad("expected a positive byte count");
        o->max_member_size = n;
        return true;
    case Opt::kJobs:
        if (!parse_u64(value, &n) || n == 0 || n > 256) return bad("expected 1 to 256");
        o->jobs = static_cast<unsigned>(n);
        return true;
    case Opt::kOutDir:
        if (value.empty()) return bad("empty path");
        o->out_dir = std::string(value);
        return true;
    case Opt::kPassword: // never echoed in a message
        o->password = std::string(value);
        return true;
    case Opt::kPasswordFile:
        if (value.empty()) return bad("empty path");
        o->password_file = std::string(value);
        return true;
    case Opt::kPasswordFd:
        if (!parse_u64(value, &n) || n > 0x7FFFFFFF) return bad("expected a descriptor number");
        o->password_fd = static_cast<int>(n);
        return true;
    }
    return false;
}

// Usage rules between options.
bool check_combination(const Options *o, std::string *error) {
    auto refuse = [&](const char *why) {
        *error = why;
        return false;
    };
    int sources =
        o->password.has_value() + o->password_file.has_value() + o->password_fd.has_value();
    if (sources > 1) return refuse("give the password one way only");
    if (o->strict && sources > 0)
        return refuse(
            "--strict takes no password (the documented behaviour reads no encrypted member)");
    if (o->strict && o->json) return refuse("--json needs the extended mode (leave out --strict)");
    int from_stdin = 0;
    for (const std::string &a : o->archives) from_stdin += a == "-";
    if (from_stdin > 1) return refuse("standard input can be read once");
    if (o->command == Command::kList) {
        if (o->archives.size() != 1) return refuse("list takes one archive");
        return true;
    }
    if (o->json && (o->split || o->out_dir))
        return refuse("--json writes one stream: no --split, --flat or --out-dir");
    if (o->json && !o->encoding.empty()) return refuse("--json writes UTF-8: no --encoding");
    if (from_stdin > 0 && (o->split || o->out_dir))
        return refuse("--split, --flat and --out-dir need archive files, not standard input");
    const bool many = o->archives.size() > 1 || o->jobs != 0 || o->out_dir;
    if (many && !o->out_dir && !o->json) return refuse("several archives need --out-dir DIR");
    if (o->out_dir && o->out) return refuse("-o cannot be combined with --out-dir");
    if (o->split && o->out && *o->out == "-")
        return refuse("--split and --flat write files; give -o a path, not '-'");
    return true;
}

} // namespace

bool parse_options(int argc, char **argv, bool stdin_is_terminal, Options *o, std::string *error) {
    int i = 1;
    if (argc > 1 && std::strcmp(argv[1], "list") == 0) {
        o->command = Command::kList;
        i = 2;
    }
    bool only_args = false;
    for (; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (only_args || arg.empty() || arg[0] != '-' || arg == "-") {
            o->archives.emplace_back(arg);
            continue;
        }
        if (arg == "--") {
            only_args = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            o->command = Command::kHelp;
            return true;
        }
        if (arg == "--version") {
            o->command = Command::kVersion;
            return true;
        }
        if (arg == "--flat") {
            o->split = o->flat = true;
            continue;
        }
        const Switch *sw = nullptr;
        for (const Switch &s : kSwitches)
            if (arg == s.name) sw = &s;
        if (sw != nullptr) {
            o->*(sw->flag) = true;
            continue;
        }
        // "--name=value" or "--name value".
        std::string_view name = arg, value;
        bool inline_value = false;
        if (std::size_t eq = arg.find('='); eq != std::string_view::npos && arg[1] == '-') {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
            inline_value = true;
        }
        const ValueOption *found = nullptr;
        for (const ValueOption &v : kValueOptions)
            if (name == v.name) found = &v;
        if (found == nullptr) {
            *error = "unknown option '" + std::string(name) + "' (see --help)";
            return false;
        }
        if (!inline_value) {
            if (i + 1 >= argc) {
                *error = std::string(name) + " needs a value";
                return false;
            }
            value = argv[++i];
        }
        if (!apply(found->opt, name, value, o, error)) return false;
    }
    if (o->archives.empty()) {
        if (stdin_is_terminal) {
            *error = "no archive given (see --help)";
            return false;
        }
        o->archives.emplace_back("-");
    }
    return check_name(Name::kCharset, o->charset, o->strict, error) &&
           check_name(Name::kLanguage, o->language, o->strict, error) &&
           check_name(Name::kEncoding, o->encoding, o->strict, error) &&
           check_combination(o, error);
}

bool read_password(const Options &o, std::optional<std::string> *password, std::string *error) {
    password->reset();
    std::string text;
    if (o.password) {
        text = *o.password;
    } else if (o.password_file || o.password_fd) {
        const int fd =
            o.password_fd ? *o.password_fd : ::open(o.password_file->c_str(), O_RDONLY | O_CLOEXEC);
        const std::string what = o.password_fd ? "descriptor " + std::to_string(*o.password_fd)
                                               : "'" + *o.password_file + "'";
        if (fd < 0) {
            *error = "cannot open the password file " + what + ": " + std::strerror(errno);
            return false;
        }
        // The first line is enough: read up to its end and no further, so
        // that a descriptor shared with more input is left there.
        char c;
        ssize_t n;
        while ((n = ::read(fd, &c, 1)) == 1 && c != '\n') text += c;
        const int err = errno;
        if (!o.password_fd) ::close(fd);
        if (n < 0) {
            *error = "cannot read the password from " + what + ": " + std::strerror(err);
            return false;
        }
    } else if (const char *env = std::getenv("ZIPTEXT_PASSWORD"); env != nullptr && !o.strict) {
        text = env;
    } else {
        return true;
    }
    // Only the line break goes, not the other spaces: they may be the password's.
    if (!text.empty() && text.back() == '\n') text.pop_back();
    if (!text.empty() && text.back() == '\r') text.pop_back();
    *password = std::move(text);
    return true;
}

zt_options make_zt_options(const Options &o, const std::optional<std::string> &password) {
    zt_options z{};
    z.size = sizeof z;
    if (o.strict) z.flags |= ZT_STRICT;
    if (o.stop_on_error) z.flags |= ZT_STOP_ON_ERROR;
    if (o.no_labels) z.flags |= ZT_NO_LABELS;
    if (o.log_file) z.flags |= ZT_LOG;
    if (o.max_size) {
        z.flags |= ZT_SIZE_LIMIT;
        z.max_size = *o.max_size;
    }
    if (password) {
        z.password = reinterpret_cast<const unsigned char *>(password->data());
        z.password_len = static_cast<uint32_t>(password->size());
    }
    z.eol = o.eol;
    // parse_options checked that each fits its field.
    std::memcpy(z.charset, o.charset.data(), o.charset.size());
    std::memcpy(z.language, o.language.data(), o.language.size());
    std::memcpy(z.encoding, o.encoding.data(), o.encoding.size());
    return z;
}

std::string text_name_in(const std::string &dir, const std::string &archive) {
    std::size_t slash = archive.rfind('/');
    std::string base = slash == std::string::npos ? archive : archive.substr(slash + 1);
    if (std::size_t dot = base.rfind('.'); dot != std::string::npos && dot > 0) base.resize(dot);
    if (base.empty()) base = "archive";
    std::string d = dir.empty() ? "." : dir;
    if (d.back() != '/') d += '/';
    return d + base + ".txt";
}

const char *usage_text() {
    return R"(usage: ziptext [OPTIONS] ARCHIVE             composed text to standard output
       ziptext [OPTIONS] ARCHIVE -o OUT      composed text to the file OUT
       ziptext --split|--flat [-o OUT] ARCHIVE   one text file per member
       ziptext [OPTIONS] [--jobs N] --out-dir DIR ARCHIVE...   each to DIR/<name>.txt
       ziptext --json [OPTIONS] [--jobs N] ARCHIVE...   JSON Lines, one object per member
       ziptext list [--verbose] [--charset NAME] [--language NAME] ARCHIVE
       ziptext --help | --version

Text of every member of a ZIP archive; archives inside the archive are
opened too (up to 16 levels).  ARCHIVE "-", or none with standard input not
a terminal: the archive is read from standard input (into memory up to the
member-size cap, beyond it into an unnamed file in TMPDIR or /tmp).

By default ziptext reads what common ZIP tools read (data before the
archive, ZIP64, bzip2, LZMA, zstd, xz, Deflate64, encrypted members), goes
on past members it cannot read and names each on standard error:
  ziptext: a.zip: docs/b.pdf: no text filter (code 6000)
  ziptext: a.zip: 1 of 40 members failed

  --strict            the documented behaviour exactly: stored and deflate
                      only, no password, one line for the whole archive
  -q, --quiet         leave out the lines of single members (the summary stays)

Modes:
  (default)           compose: all members' text in one output, each after a
                      "Filename: NAME" and a "Content: " line
  --split             each member's text in a file of its own, under a work
                      directory named after the archive beside OUT (default
                      OUT: ./<archive name>.txt)
  --flat              like --split, without member subdirectories: the texts
                      land in OUT's directory itself
  --json              one JSON object per member (path, sizes, method, time,
                      encoding, code, error, text), then one per archive
  -o, --output OUT    output file ("-": standard output)
  --out-dir DIR       several archives: each to DIR/<archive name>.txt
  --jobs N            run N archives at a time (1 to 256; default 1)

Output:
  --no-labels         compose without the Filename:/Content: lines
  --encoding NAME     utf-8 (default, no byte-order mark), utf-8-bom,
                      utf-16le, utf-16be, utf-32le, utf-32be, shift_jis
                      (cp932), euc-jp, gbk, big5, euc-kr (cp949), iso-8859-1
  --eol lf|crlf|cr    line breaks the tool writes (default lf); member texts
                      keep their own
  --max-size BYTES    stop the output at BYTES bytes (0 to 4294967295)

Input:
  --charset NAME      character set of member names and texts that are not
                      UTF-8: any name iconv knows (shift-jis, gbk, big5,
                      euc-kr, cp437, cp866, koi8-r, cp1252, latin1, ...), or
                      auto (default: detected per member).  --strict: only
                      iso-8859-1, gbk, big5, euc-kr, shift_jis, cp932
  --language NAME     English, Japanese, Korean, "Simplified Chinese",
                      "Traditional Chinese", Russian (default: from LC_ALL,
                      LC_CTYPE or LANG; --strict: Japanese rules, no Russian)
  --password-file FILE   the password of encrypted members: FILE's first line
  --password-fd N     the same, from descriptor N
  --password WORD     the same; other users can see WORD in the process list.
                      Without these: the environment variable ZIPTEXT_PASSWORD
  --stop-on-error     stop at the first member that fails (default: go on and
                      report the last failure)
  --max-member-size BYTES   largest member held in memory (default 512 MiB)

Diagnostics:
  --log FILE          write the extraction log to FILE
  list --verbose      also the character set of each name, where known

OUT is replaced only when the extraction leaves an output and no write failed;
a FIFO or device is written as standard output would be; an input archive
is never an output.

Exit status: 0 when every member gave text, 1 when a member, the archive or a
write failed (messages on standard error), 2 usage error or refused output.
SIGINT, SIGTERM, SIGHUP and a closed pipe remove what the run made, then end
it as the signal does.
)";
}

} // namespace ziptext

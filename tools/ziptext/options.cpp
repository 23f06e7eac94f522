// options.cpp - parse ziptext's command line
#include "tools/ziptext/options.h"

#include <strings.h>

#include <charconv>
#include <cstring>
#include <string_view>

namespace ziptext {
namespace {

// Output encodings: names accepted by --encoding (case-insensitive) and the
// converter's OutCode for each.
struct NamedCode {
    const char *name;
    uint32_t code;
};
constexpr NamedCode kEncodings[] = {
    {"utf-8", 0},      {"utf8", 0},        {"utf-16le", 1},    {"utf16le", 1},
    {"utf-16be", 2},   {"utf16be", 2},     {"shift_jis", 3},   {"sjis", 3},
    {"cp932", 3},      {"windows-31j", 3}, {"euc-jp", 4},      {"eucjp", 4},
    {"gbk", 5},        {"cp936", 5},       {"big5", 6},        {"euc-kr", 7},
    {"euckr", 7},      {"cp949", 7},       {"iso-8859-1", 8},  {"latin1", 8},
    {"latin-1", 8},    {"utf-8-bom", 9},   {"utf-8-sig", 9},   {"utf8bom", 9},
    {"utf-32le", 10},  {"utf32le", 10},    {"utf-32be", 11},   {"utf32be", 11},
};

// --charset: aliases (case-insensitive) of the six source character set
// groups; "auto" and "utf-8" leave Charset empty, which reads names that
// are valid UTF-8 as UTF-8 and the rest by --language.
struct Alias {
    const char *alias;
    const char *canonical;
};
constexpr Alias kCharsets[] = {
    {"iso-8859-1", "ISO-8859-1"}, {"latin1", "ISO-8859-1"},   {"latin-1", "ISO-8859-1"},
    {"chinesegbk", "ChineseGBK"}, {"gbk", "ChineseGBK"},      {"cp936", "ChineseGBK"},
    {"chinesebig5", "ChineseBIG5"}, {"big5", "ChineseBIG5"},  {"koreanksc", "KoreanKSC"},
    {"euc-kr", "KoreanKSC"},      {"cp949", "KoreanKSC"},     {"shift_jis", "Shift_JIS"},
    {"sjis", "Shift_JIS"},        {"windows31j", "WINDOWS31J"}, {"windows-31j", "WINDOWS31J"},
    {"cp932", "WINDOWS31J"},      {"auto", ""},               {"utf-8", ""},
    {"utf8", ""},
};
constexpr Alias kLanguages[] = {
    {"english", "English"},
    {"en", "English"},
    {"japanese", "Japanese"},
    {"ja", "Japanese"},
    {"korean", "Korean"},
    {"ko", "Korean"},
    {"simplified chinese", "Simplified Chinese"},
    {"zh-cn", "Simplified Chinese"},
    {"zh-hans", "Simplified Chinese"},
    {"traditional chinese", "Traditional Chinese"},
    {"zh-tw", "Traditional Chinese"},
    {"zh-hant", "Traditional Chinese"},
};

bool same(std::string_view a, const char *b) {
    return a.size() == std::strlen(b) && strncasecmp(a.data(), b, a.size()) == 0;
}

bool parse_u64(std::string_view s, uint64_t *v) {
    if (s.empty()) return false;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), *v);
    return ec == std::errc() && end == s.data() + s.size();
}

// Options that take a value.
enum class Opt {
    kOut, kMaxSize, kEncoding, kEol, kCharset, kLanguage, kLog, kMaxMemberSize, kJobs, kOutDir,
};
struct ValueOption {
    const char *name;
    Opt opt;
};
constexpr ValueOption kValueOptions[] = {
    {"-o", Opt::kOut},           {"--output", Opt::kOut},
    {"--max-size", Opt::kMaxSize}, {"--encoding", Opt::kEncoding},
    {"--eol", Opt::kEol},        {"--charset", Opt::kCharset},
    {"--language", Opt::kLanguage}, {"--log", Opt::kLog},
    {"--max-member-size", Opt::kMaxMemberSize}, {"--jobs", Opt::kJobs},
    {"--out-dir", Opt::kOutDir},
};

bool apply(Opt opt, std::string_view name, std::string_view value, Options *o,
           std::string *error) {
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
        for (const NamedCode &e : kEncodings)
            if (same(value, e.name)) {
                o->out_code = e.code;
                return true;
            }
        return bad("unknown encoding (see --help)");
    case Opt::kEol:
        if (same(value, "lf")) o->eol_flag = VTQ_FMT_EOL_LF;
        else if (same(value, "crlf")) o->eol_flag = VTQ_FMT_EOL_CRLF;
        else if (same(value, "cr")) o->eol_flag = VTQ_FMT_EOL_CR;
        else return bad("expected lf, crlf or cr");
        return true;
    case Opt::kCharset:
        for (const Alias &a : kCharsets)
            if (same(value, a.alias)) {
                o->charset = a.canonical;
                return true;
            }
        return bad("unknown character set (see --help)");
    case Opt::kLanguage:
        for (const Alias &a : kLanguages)
            if (same(value, a.alias)) {
                o->language = a.canonical;
                return true;
            }
        return bad("unknown language (see --help)");
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
    }
    return false;
}

} // namespace

bool parse_options(int argc, char **argv, Options *o, std::string *error) {
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
        if (arg == "--split") { o->split = true; continue; }
        if (arg == "--flat") { o->split = o->flat = true; continue; }
        if (arg == "--no-labels") { o->no_labels = true; continue; }
        if (arg == "--stop-on-error") { o->stop_on_error = true; continue; }
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
            *error = "unknown option '" + std::string(arg) + "' (see --help)";
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
        *error = "no archive given (see --help)";
        return false;
    }
    if (o->command == Command::kList) {
        if (o->archives.size() != 1) {
            *error = "list takes one archive";
            return false;
        }
        return true;
    }
    bool many = o->archives.size() > 1 || o->jobs != 0 || o->out_dir;
    if (many && !o->out_dir) {
        *error = "several archives need --out-dir DIR";
        return false;
    }
    if (many && o->out) {
        *error = "-o cannot be combined with --out-dir";
        return false;
    }
    if (o->split && o->out && *o->out == "-") {
        *error = "--split and --flat write files; give -o a path, not '-'";
        return false;
    }
    return true;
}

TxtOptions make_txt_options(const Options &o) {
    TxtOptions t{};
    // Both names come from the tables above, far below 256 bytes.
    std::memcpy(t.Charset, o.charset.data(), o.charset.size());
    std::memcpy(t.Language, o.language.data(), o.language.size());
    t.OutCode = o.out_code;
    t.FormatFlags = o.eol_flag;
    if (o.max_size) {
        t.FormatFlags |= VTQ_FMT_SIZE_LIMIT;
        t.MaxSize = *o.max_size;
    }
    if (o.log_file) t.FormatFlags |= VTQ_FMT_LOG;
    t.ModeFlags = VTQ_MODE_ENABLED;
    if (!o.split) t.ModeFlags |= VTQ_MODE_COMPOSE;
    if (!o.stop_on_error) t.ModeFlags |= VTQ_MODE_KEEP_GOING;
    if (o.flat) t.ModeFlags |= VTQ_MODE_FLAT;
    if (o.no_labels) t.ModeFlags |= VTQ_MODE_NO_LABELS;
    return t;
}

std::string text_name_in(const std::string &dir, const std::string &archive) {
    std::size_t slash = archive.rfind('/');
    std::string base = slash == std::string::npos ? archive : archive.substr(slash + 1);
    if (std::size_t dot = base.rfind('.'); dot != std::string::npos && dot > 0)
        base.resize(dot);
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
       ziptext list [--charset NAME] [--language NAME] ARCHIVE
       ziptext --help | --version

Text of every member of a ZIP archive; archives inside the archive are
opened too (up to 16 levels).

Modes:
  (default)           compose: all members' text in one output, each after a
                      "Filename: NAME" and a "Content: " line
  --split             each member's text in a file of its own, under a work
                      directory named after the archive beside OUT (default
                      OUT: ./<archive name>.txt)
  --flat              like --split, without member subdirectories: the texts
                      land in OUT's directory itself
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
  --charset NAME      character set of member names and non-UTF-8 texts:
                      iso-8859-1, gbk, big5, euc-kr, shift_jis, cp932; or auto
                      (default: UTF-8 names as UTF-8, the rest by --language)
  --language NAME     English, Japanese, Korean, "Simplified Chinese",
                      "Traditional Chinese" (default: Japanese rules)
  --stop-on-error     stop at the first member that fails (default: go on and
                      report the last failure)
  --max-member-size BYTES   largest member held in memory (default 512 MiB)

Diagnostics:
  --log FILE          write the extraction log to FILE

OUT is replaced only when the extraction leaves an output and no write failed;
a FIFO or device is written as standard output would be; an input archive
is never an output.

Exit status: 0 success, 1 extraction or a write failed (message on standard
error), 2 usage error or refused output.  SIGINT, SIGTERM, SIGHUP and a
closed pipe remove what the run made, then end it as the signal does.
)";
}

} // namespace ziptext

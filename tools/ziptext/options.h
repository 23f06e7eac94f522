// options.h - ziptext's command line, and the zt_options it turns into
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ziptext.h"

namespace ziptext {

enum class Command { kExtract, kList, kHelp, kVersion };

struct Options {
    Command command = Command::kExtract;
    std::vector<std::string> archives;       // "-": standard input
    std::optional<std::string> out;          // -o OUT ("-" is standard output)
    bool split = false;                      // --split or --flat
    bool flat = false;                       // --flat
    bool no_labels = false;                  // --no-labels
    bool stop_on_error = false;              // --stop-on-error
    bool strict = false;                     // --strict
    bool json = false;                       // --json
    bool quiet = false;                      // --quiet
    bool verbose = false;                    // list --verbose
    std::optional<uint32_t> max_size;        // --max-size BYTES
    std::string encoding;                    // --encoding NAME, "" for UTF-8
    uint32_t eol = ZT_EOL_LF;                // --eol
    std::string charset;                     // --charset NAME, "" for the default
    std::string language;                    // --language NAME, "" for the default
    std::optional<std::string> log_file;     // --log FILE
    std::optional<uint64_t> max_member_size; // --max-member-size BYTES
    unsigned jobs = 0;                       // --jobs N (0: not given)
    std::optional<std::string> out_dir;      // --out-dir DIR
    // Where the password comes from: at most one of these, else the
    // environment's ZIPTEXT_PASSWORD.
    std::optional<std::string> password;      // --password WORD
    std::optional<std::string> password_file; // --password-file FILE
    std::optional<int> password_fd;           // --password-fd N
};

// Parses argv.  stdin_is_terminal: with no archive named, standard input is
// read as the archive unless it is a terminal.  On a usage error returns
// false with a one-line message in *error (without the "ziptext: " prefix).
bool parse_options(int argc, char **argv, bool stdin_is_terminal, Options *opts,
                   std::string *error);

// Reads the password from the source the options name, or from
// ZIPTEXT_PASSWORD (not with --strict): its first line, without the line
// break.  False with a message when the file or descriptor cannot be read;
// *password stays absent when there is no source.
bool read_password(const Options &opts, std::optional<std::string> *password, std::string *error);

// The library's options for these options.  password: the bytes, when
// one was given; it must outlive the result's use.
zt_options make_zt_options(const Options &opts, const std::optional<std::string> &password);

// The output path for an archive written into dir ("" for the current
// directory as "./"): its base name with the last extension replaced by
// ".txt", e.g. "in/a.zip" -> "dir/a.txt".
std::string text_name_in(const std::string &dir, const std::string &archive);

// The --help text.
const char *usage_text();

} // namespace ziptext

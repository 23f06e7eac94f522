// options.h - ziptext's command line, and the TxtOptions it turns into
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "vtq/types.h"

namespace ziptext {

enum class Command { kExtract, kList, kHelp, kVersion };

struct Options {
    Command command = Command::kExtract;
    std::vector<std::string> archives;
    std::optional<std::string> out;     // -o OUT ("-" is standard output)
    bool split = false;                 // --split or --flat
    bool flat = false;                  // --flat
    bool no_labels = false;             // --no-labels
    bool stop_on_error = false;         // --stop-on-error
    std::optional<uint32_t> max_size;   // --max-size BYTES
    uint32_t out_code = 0;              // --encoding NAME, as an OutCode
    uint32_t eol_flag = VTQ_FMT_EOL_LF; // --eol
    std::string charset;                // --charset, canonical group name or ""
    std::string language;               // --language, canonical name or ""
    std::optional<std::string> log_file;     // --log FILE
    std::optional<uint64_t> max_member_size; // --max-member-size BYTES
    unsigned jobs = 0;                  // --jobs N (0: not given)
    std::optional<std::string> out_dir; // --out-dir DIR
};

// Parses argv.  On a usage error returns false with a one-line message in
// *error (without the "ziptext: " prefix).
bool parse_options(int argc, char **argv, Options *opts, std::string *error);

// The host options record for an extraction with these options.
TxtOptions make_txt_options(const Options &opts);

// The output path for an archive written into dir ("" for the current
// directory as "./"): its base name with the last extension replaced by
// ".txt", e.g. "in/a.zip" -> "dir/a.txt".
std::string text_name_in(const std::string &dir, const std::string &archive);

// The --help text.
const char *usage_text();

} // namespace ziptext

// commands.h - the things ziptext does, one per file
#pragma once

#include <string>

#include "tools/ziptext/filter_api.h"
#include "tools/ziptext/options.h"

namespace ziptext {

// Each returns the process exit status and prints its own messages.

// One archive: composed text to standard output (stream entry point) or to
// a file, or the split-mode text tree.
int run_single(const FilterApi &api, const Options &opts);

// Several archives, each to DIR/<name>.txt, on --jobs worker threads.
int run_jobs(const FilterApi &api, const Options &opts);

// One line per central directory entry.
int run_list(const FilterApi &api, const Options &opts);

// "ziptext: ARCHIVE: <meaning> (code N)" on standard error.
void report_failure(const std::string &archive, uint32_t code);

// A member name as stored, shown as UTF-8: names that are valid UTF-8 stay
// as they are (unless --charset names a character set), others are read in
// the character set chosen from the options; undecodable bytes become "?"
// and control characters are shown as \xNN.
std::string display_name(const std::string &raw, const TxtOptions &opts);

} // namespace ziptext

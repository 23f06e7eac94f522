// commands.h - the things ziptext does, one per file
#pragma once

#include <string>
#include <vector>

#include "tools/ziptext/filter_api.h"
#include "tools/ziptext/options.h"
#include "tools/ziptext/target.h"

namespace ziptext {

// Each returns the process exit status and prints its own messages.

// One archive: composed text to standard output (stream entry point) or to
// a file, or the split-mode text tree.
int run_single(const FilterApi &api, const Options &opts);

// Several archives, each to DIR/<name>.txt, on --jobs worker threads.
int run_jobs(const FilterApi &api, const Options &opts);

// One line per central directory entry.
int run_list(const FilterApi &api, const Options &opts);

// What the extraction of one archive ended with: the lines for standard
// error, in order; none when it succeeded.
struct Outcome {
    std::vector<std::string> lines;
};

// Extracts archive to t, a target planned and checked against the inputs,
// on the calling thread: opens t, runs the filter, installs or removes the
// output, and tells the host to keep what the archive made.  A failed
// result code, a failed write recorded by the host, a failed write to the
// stream and a failed install each give a line.
Outcome extract_archive(const FilterApi &api, const std::string &archive, Target &t,
                        const TxtOptions &txt);

// The failure line for code (see messages.h) on standard error.
void report_failure(const std::string &archive, uint32_t code);

// A member name as stored, shown as UTF-8: names that are valid UTF-8 stay
// as they are (unless --charset names a character set), others are read in
// the character set chosen from the options; undecodable bytes become "?"
// and control characters are shown as \xNN.
std::string display_name(const std::string &raw, const TxtOptions &opts);

} // namespace ziptext

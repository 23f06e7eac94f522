// commands.h - the things ziptext does, one per file
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "tools/ziptext/options.h"
#include "tools/ziptext/target.h"
#include "ziptext.h"

namespace ziptext {

class Progress;
class JsonOut;

// An archive as the run names it, and as the library reads it: the same
// path, or the memory file standard input was read into.
struct Input {
    std::string name; // in messages and records ("-" for standard input)
    std::string path; // for the library
    int fd = -1;      // the unnamed temporary file standard input is in, if any
};

// Reads standard input whole into a memory file of the host, up to the
// member-size cap, and beyond it into an unnamed temporary file in TMPDIR
// (or /tmp).  False with a message line (with "ziptext: ") when it cannot
// be read or held; in->path then stays empty.
bool read_standard_input(Input *in, std::string *error);
// Frees the memory file or closes the temporary file standard input was
// read into, if in is that input.
void release_input(const Input &in);

// Everything the library's callbacks reach while one archive runs, and the
// lines for standard error it gives, in order.
struct ArchiveRun {
    std::string archive;            // as messages name it
    bool quiet = false;             // no lines of single members
    bool live = false;              // lines to standard error at once (else kept in lines)
    JsonOut *json = nullptr;        // --json: each member as an object
    Progress *progress = nullptr;   // a progress line to clear before a line
    std::vector<std::string> lines; // with "ziptext: ", without the line break
    bool failed = false;            // exit status 1

    // For zt_options.on_member and on_progress (user: the ArchiveRun).
    static void on_member(void *user, const zt_member *m);
    static void on_progress(void *user, const zt_progress *p);
    // A line for standard error.
    void line(const std::string &text);
    // What the summary adds after the members' lines: the summary's own
    // lines, the result code's line (unless members' lines said it), and
    // "N of M members failed".
    void close(const zt_summary &s);
};

// Each returns the process exit status and prints its own messages.

// One archive: composed text to standard output or a file, or the
// split-mode text tree.
int run_single(const Options &opts, const zt_options &base);

// Several archives, each to DIR/<name>.txt, on --jobs worker threads.
int run_jobs(const Options &opts, const zt_options &base);

// --json: the archives' members as JSON Lines, on --jobs worker threads.
int run_json(const Options &opts, const zt_options &base);

// One line per member.
int run_list(const Options &opts, const zt_options &base);

// Extracts in to t, a target planned and checked against the inputs, on the
// calling thread; run's lines and failed flag tell the outcome.
void extract_archive(const Input &in, Target &t, const Options &opts, const zt_options &base,
                     ArchiveRun &run);

// Why the result is not 0, said of the archive: what the host recorded as
// failing, else the code's meaning; "" for 0.
std::string result_text(const zt_summary &s);

// A member name (or a path of names) as one line shows it: control
// characters as \xNN.
std::string shown(const std::string &text);

// Runs fn(0) .. fn(count - 1) on up to workers threads with stacks for the
// deepest nesting (the calling thread when none can be started).
void run_pool(std::size_t count, unsigned workers, void (*fn)(void *user, std::size_t i),
              void *user);

// A descriptor written whole; a reader that closed the pipe ends the run as
// SIGPIPE would (die_of).  For zt_compose_callback.
struct FdWriter {
    int fd;
    int error = 0; // the first errno, after which nothing is written
    static int write(void *user, const void *data, size_t len);
};

} // namespace ziptext

// main.cpp - ziptext: the text of the members of ZIP archives
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "tools/ziptext/commands.h"
#include "tools/ziptext/interrupt.h"

#ifndef VTQ_VERSION
#define VTQ_VERSION "unknown"
#endif

int main(int argc, char **argv) {
    using namespace ziptext;
    Options opts;
    std::string error;
    if (!parse_options(argc, argv, isatty(STDIN_FILENO) == 1, &opts, &error)) {
        std::fprintf(stderr, "ziptext: %s\n", error.c_str());
        return 2;
    }
    if (opts.command == Command::kHelp) {
        std::fputs(usage_text(), stdout);
        return 0;
    }
    if (opts.command == Command::kVersion) {
        std::printf("ziptext %s\n", VTQ_VERSION);
        return 0;
    }
    if (opts.log_file) {
        const Inputs inputs(opts.archives);
        if (const auto *in = inputs.find(*opts.log_file)) {
            std::fprintf(stderr, "ziptext: refusing to write over the input archive '%s'\n",
                         in->path.c_str());
            return 2;
        }
    }
    std::optional<std::string> password;
    if (!read_password(opts, &password, &error)) {
        std::fprintf(stderr, "ziptext: %s\n", error.c_str());
        return 2;
    }
    // The host reads these once per extraction; set them before the first
    // one, and before any worker thread exists (setenv is not thread-safe).
    if (opts.max_member_size) zt_set_member_size_cap(*opts.max_member_size);
    if (opts.log_file) setenv("VTQ_LOG_FILE", opts.log_file->c_str(), 1);

#if defined(__GLIBC__)
    // Each member brings buffers of some KiB to some hundred KiB, freed
    // before the next.  glibc's moving thresholds make it give such memory
    // back to the kernel after one member and fault it in afresh for the
    // next (about 5% of the nested benchmark's time).  Keep up to
    // 8 MiB of freed heap instead; blocks of 2 MiB and more are mapped by
    // the host's allocator itself and go back whole.  The tool owns its
    // process, so this is its choice to make, not the library's.
    mallopt(M_MMAP_THRESHOLD, 2 << 20);
    mallopt(M_TRIM_THRESHOLD, 8 << 20);
#endif
    // Before the first thread and the first file: an interrupted run
    // removes what it made.
    if (!watch_interruptions()) {
        std::fprintf(stderr, "ziptext: cannot start the signal thread\n");
        return 1;
    }
    const zt_options base = make_zt_options(opts, password);
    if (opts.command == Command::kList) return run_list(opts, base);
    if (opts.json) return run_json(opts, base);
    if (opts.out_dir) return run_jobs(opts, base);
    return run_single(opts, base);
}

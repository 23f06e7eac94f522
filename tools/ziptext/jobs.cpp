// jobs.cpp - several archives, each to DIR/<name>.txt, on worker threads
//
// The filter and the host keep no global state, so extractions run side by
// side in one process.  Each worker takes the next archive from a shared
// index until none is left.  A nested archive is a nested call on the same
// thread, so a worker's stack must hold the deepest nesting the host
// allows; see kWorkerStack.
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>
#include <vector>

#include "tools/ziptext/commands.h"
#include "tools/ziptext/interrupt.h"
#include "tools/ziptext/messages.h"
#include "vtq/host.h"
#include "vtq/standin.h"

namespace ziptext {
namespace {

// Measured with ulimit -s on a debug build: one archive level needs about
// 35 KiB of stack (71 KiB for a plain archive, 579 KiB for sixteen nested
// levels, the bound); removing a work directory 2000 levels deep needs
// under 80 KiB.  8 MiB, the usual main-thread size, leaves more than ten
// times that, enough for sanitizer builds, iconv and zlib underneath.
constexpr std::size_t kWorkerStack = 8u * 1024 * 1024;

struct Job {
    std::string archive;
    Target target;
};

// Shared by the workers of one run; lives on run_jobs' stack.
struct Run {
    const FilterApi *api;
    const TxtOptions *txt;
    std::vector<Job> *jobs;
    std::atomic<std::size_t> next{0};
    std::atomic<bool> any_failed{false};
    std::mutex print_lock; // status lines and the progress line
    std::size_t done = 0;  // under print_lock
    bool progress = false; // stderr is a terminal
};

void finish_one(Run &run, const Job &job, const Outcome &o) {
    std::lock_guard<std::mutex> lock(run.print_lock);
    ++run.done;
    if (run.progress) std::fputs("\r\033[K", stderr); // clear the progress line
    if (o.lines.empty()) {
        std::fprintf(stdout, "%s: ok (%s)\n", job.archive.c_str(), job.target.path.c_str());
        flush_stdout();
    } else {
        run.any_failed = true;
        for (const std::string &line : o.lines) std::fprintf(stderr, "%s\n", line.c_str());
    }
    if (run.progress) {
        std::fprintf(stderr, "ziptext: %zu/%zu archives done", run.done, run.jobs->size());
        std::fflush(stderr);
    }
}

void *worker(void *arg) {
    Run &run = *static_cast<Run *>(arg);
    for (;;) {
        std::size_t i = run.next.fetch_add(1);
        if (i >= run.jobs->size()) break;
        Job &job = (*run.jobs)[i];
        finish_one(run, job, extract_archive(*run.api, job.archive, job.target, *run.txt));
    }
    return nullptr;
}

} // namespace

int run_jobs(const FilterApi &api, const Options &opts) {
    const std::string &dir = *opts.out_dir;
    std::vector<Job> jobs;
    std::set<std::string> seen;
    const Inputs inputs(opts.archives);
    for (const std::string &archive : opts.archives) {
        Job job{archive, {}};
        const std::string out_path = text_name_in(dir, archive);
        // Two archives with one base name would write one output file
        // from two threads at once.
        if (!seen.insert(out_path).second) {
            std::fprintf(stderr, "ziptext: %s: a second archive would also write %s\n",
                         archive.c_str(), out_path.c_str());
            return 2;
        }
        std::string error;
        if (!plan_target(&out_path, archive, opts.split, &job.target, &error) ||
            !refuse_inputs(api, job.target, archive, opts.flat, inputs, &error)) {
            std::fprintf(stderr, "ziptext: %s\n", error.c_str());
            return 2;
        }
        jobs.push_back(std::move(job));
    }
    // Made through the host, so that an interruption removes it again
    // when it is still empty.
    struct stat st;
    if (VTQ_MkDir(dir.c_str()) != 0 && (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))) {
        VTQ_HostFailure rec;
        const int err = VTQ_HostFailureGet(VTQ_HOST_FAIL_MKDIR, &rec) ? rec.Errno : ENOTDIR;
        std::fprintf(stderr, "ziptext: %s: cannot make the output directory: %s\n", dir.c_str(),
                     std::strerror(err));
        return 1;
    }

    TxtOptions txt = make_txt_options(opts);
    Run run;
    run.api = &api;
    run.txt = &txt;
    run.jobs = &jobs;
    run.progress = ::isatty(STDERR_FILENO) == 1;

    std::size_t workers = opts.jobs == 0 ? 1 : opts.jobs;
    if (workers > jobs.size()) workers = jobs.size();
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, kWorkerStack);
    std::vector<pthread_t> threads;
    for (std::size_t i = 0; i < workers; ++i) {
        pthread_t t;
        if (pthread_create(&t, &attr, worker, &run) != 0) break;
        threads.push_back(t);
    }
    pthread_attr_destroy(&attr);
    // With no thread at all, the main thread does the work itself.
    if (threads.empty()) worker(&run);
    for (pthread_t t : threads) pthread_join(t, nullptr);
    {
        std::lock_guard<std::mutex> lock(install_lock());
        VTQ_HostKeepCreated(); // the output directory
    }
    if (run.progress) std::fputs("\n", stderr);
    return run.any_failed ? 1 : 0;
}

} // namespace ziptext

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
#include "tools/ziptext/messages.h"

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
    std::string out_path;
};

// Shared by the workers of one run; lives on run_jobs' stack.
struct Run {
    const FilterApi *api;
    const TxtOptions *txt;
    const std::vector<Job> *jobs;
    std::atomic<std::size_t> next{0};
    std::atomic<bool> any_failed{false};
    std::mutex print_lock; // status lines and the progress line
    std::size_t done = 0;  // under print_lock
    bool progress = false; // stderr is a terminal
};

void finish_one(Run &run, const Job &job, uint32_t code) {
    std::lock_guard<std::mutex> lock(run.print_lock);
    ++run.done;
    if (run.progress) std::fputs("\r\033[K", stderr); // clear the progress line
    if (code == VTQ_OK) {
        std::fprintf(stdout, "%s: ok (%s)\n", job.archive.c_str(), job.out_path.c_str());
        std::fflush(stdout);
    } else {
        run.any_failed = true;
        report_failure(job.archive, code);
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
        const Job &job = (*run.jobs)[i];
        uint32_t code =
            run.api->get_text(job.archive.c_str(), job.out_path.c_str(), run.txt, nullptr, 0);
        finish_one(run, job, code);
    }
    return nullptr;
}

} // namespace

int run_jobs(const FilterApi &api, const Options &opts) {
    const std::string &dir = *opts.out_dir;
    if (::mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST) {
        std::fprintf(stderr, "ziptext: %s: cannot make the output directory: %s\n", dir.c_str(),
                     std::strerror(errno));
        return 1;
    }
    std::vector<Job> jobs;
    std::set<std::string> seen;
    for (const std::string &archive : opts.archives) {
        Job job{archive, text_name_in(dir, archive)};
        // Two archives with one base name would write one output file
        // from two threads at once.
        if (!seen.insert(job.out_path).second) {
            std::fprintf(stderr, "ziptext: %s: a second archive would also write %s\n",
                         archive.c_str(), job.out_path.c_str());
            return 2;
        }
        jobs.push_back(std::move(job));
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
    if (run.progress) std::fputs("\n", stderr);
    return run.any_failed ? 1 : 0;
}

} // namespace ziptext

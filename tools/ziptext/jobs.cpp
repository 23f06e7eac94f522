// jobs.cpp - several archives, each to DIR/<name>.txt, on worker threads
//
// The filter, the host and libziptext keep no global state, so extractions
// run side by side in one process.  Each worker takes the next archive from
// a shared index until none is left.  A nested archive is a nested call on
// the same thread, so a worker's stack must hold the deepest nesting the
// host allows; see kWorkerStack.
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

struct Pool {
    std::size_t count;
    void (*fn)(void *, std::size_t);
    void *user;
    std::atomic<std::size_t> next{0};
};

void *worker(void *arg) {
    Pool &pool = *static_cast<Pool *>(arg);
    for (std::size_t i; (i = pool.next.fetch_add(1)) < pool.count;) pool.fn(pool.user, i);
    return nullptr;
}

struct Job {
    Input input;
    Target target;
};

// Shared by the workers of one run; lives on run_jobs' stack.
struct Run {
    const Options *opts;
    const zt_options *base;
    std::vector<Job> *jobs;
    std::atomic<bool> any_failed{false};
    std::mutex print_lock; // status lines and the progress line
    std::size_t done = 0;  // under print_lock
    bool progress = false; // stderr is a terminal
};

void one_archive(void *user, std::size_t i) {
    Run &run = *static_cast<Run *>(user);
    Job &job = (*run.jobs)[i];
    ArchiveRun a;
    a.archive = job.input.name;
    a.quiet = run.opts->quiet;
    extract_archive(job.input, job.target, *run.opts, *run.base, a);
    std::lock_guard<std::mutex> lock(run.print_lock);
    ++run.done;
    if (run.progress) std::fputs("\r\033[K", stderr); // clear the progress line
    if (!a.failed) {
        std::fprintf(stdout, "%s: ok (%s)\n", job.input.name.c_str(), job.target.path.c_str());
        flush_stdout();
    } else {
        run.any_failed = true;
        for (const std::string &line : a.lines) std::fprintf(stderr, "%s\n", line.c_str());
    }
    if (run.progress) {
        std::fprintf(stderr, "ziptext: %zu/%zu archives done", run.done, run.jobs->size());
        std::fflush(stderr);
    }
}

} // namespace

void run_pool(std::size_t count, unsigned workers, void (*fn)(void *, std::size_t), void *user) {
    Pool pool{count, fn, user};
    std::size_t n = workers == 0 ? 1 : workers;
    if (n > count) n = count;
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, kWorkerStack);
    std::vector<pthread_t> threads;
    for (std::size_t i = 0; i < n; ++i) {
        pthread_t t;
        if (pthread_create(&t, &attr, worker, &pool) != 0) break;
        threads.push_back(t);
    }
    pthread_attr_destroy(&attr);
    // With no thread at all, the calling thread does the work itself.
    if (threads.empty()) worker(&pool);
    for (pthread_t t : threads) pthread_join(t, nullptr);
}

int run_jobs(const Options &opts, const zt_options &base) {
    const std::string &dir = *opts.out_dir;
    std::vector<Job> jobs;
    std::set<std::string> seen;
    const Inputs inputs(opts.archives);
    for (const std::string &archive : opts.archives) {
        Job job{{archive, archive}, {}};
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
            !refuse_inputs(job.target, archive, opts.flat, inputs, opts.strict, &error)) {
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

    Run run;
    run.opts = &opts;
    run.base = &base;
    run.jobs = &jobs;
    run.progress = ::isatty(STDERR_FILENO) == 1 && !opts.quiet;
    run_pool(jobs.size(), opts.jobs, &one_archive, &run);
    {
        std::lock_guard<std::mutex> lock(install_lock());
        VTQ_HostKeepCreated(); // the output directory
    }
    if (run.progress) std::fputs("\n", stderr);
    return run.any_failed ? 1 : 0;
}

} // namespace ziptext

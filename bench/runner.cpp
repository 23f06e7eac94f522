// runner.cpp - run one command and report its wall time and peak RSS
//
//   vtq_bench_run OUT COMMAND [ARG...]
//
// Runs COMMAND with its standard output in the file OUT (made or
// truncated) and prints "SECONDS PEAK_RSS_KIB EXIT_STATUS" on standard
// output.  The child is forked from this small process rather than from
// the timing script: the kernel counts the memory a child had before exec
// in its peak RSS, and a forked interpreter would dwarf unzip's.  The peak
// covers the command's own children too (a shell loop), as wait4 reports.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>

int main(int argc, char **argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: vtq_bench_run OUT COMMAND [ARG...]\n");
        return 2;
    }
    timespec start{}, end{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    const pid_t pid = fork();
    if (pid < 0) return 2;
    if (pid == 0) {
        const int fd = open(argv[1], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0 || dup2(fd, STDOUT_FILENO) < 0) _exit(126);
        execvp(argv[2], argv + 2);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) return 2;
    clock_gettime(CLOCK_MONOTONIC, &end);
    const double secs = static_cast<double>(end.tv_sec - start.tv_sec) +
                        static_cast<double>(end.tv_nsec - start.tv_nsec) / 1e9;
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::printf("%.6f %ld %d\n", secs, usage.ru_maxrss, code);
    return 0;
}

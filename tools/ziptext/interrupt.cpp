// interrupt.cpp - remove what the run made, then die of the signal
#include "tools/ziptext/interrupt.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "vtq/standin.h"

namespace ziptext {
namespace {

// The stop signals the process was not started ignoring: under nohup a
// hangup, in a shell's background job an interrupt, must not stop the run.
sigset_t stop_signals() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction now {};
        if (sigaction(sig, nullptr, &now) == 0 && now.sa_handler == SIG_IGN) continue;
        sigaddset(&set, sig);
    }
    return set;
}

void *wait_for_signal(void *) {
    const sigset_t set = stop_signals();
    for (;;) {
        int sig = 0;
        if (sigwait(&set, &sig) == 0) die_of(sig);
    }
}

} // namespace

std::mutex &install_lock() {
    static std::mutex lock;
    return lock;
}

bool watch_interruptions() {
    const sigset_t set = stop_signals();
    sigset_t old;
    if (pthread_sigmask(SIG_BLOCK, &set, &old) != 0) return false;
    pthread_t thread;
    if (pthread_create(&thread, nullptr, wait_for_signal, nullptr) != 0) {
        pthread_sigmask(SIG_SETMASK, &old, nullptr);
        return false;
    }
    pthread_detach(thread);
    signal(SIGPIPE, SIG_IGN);
    return true;
}

bool flush_stdout() {
    if (std::fflush(stdout) == 0) return true;
    if (errno == EPIPE) die_of(SIGPIPE);
    return false;
}

void die_of(int sig) {
    // Never released: the process ends below, and an output must not be
    // installed once its clean-up has begun.
    install_lock().lock();
    VTQ_HostRemoveCreated();
    signal(sig, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    raise(sig);
    _exit(128 + sig); // not reached: the default action of all four ends the process
}

} // namespace ziptext

// interrupt.h - ziptext's answer to SIGINT, SIGTERM, SIGHUP and SIGPIPE
//
// A run that is stopped leaves nothing it made: the files and directories
// the host created for it are removed first, and then the process dies of
// the signal, so that the shell sees the usual status (130, 143, 129, 141).
#pragma once

#include <mutex>

namespace ziptext {

// Blocks SIGINT, SIGTERM and SIGHUP in the calling thread (threads started
// later inherit the mask), ignores SIGPIPE, so that a write to a closed pipe
// fails with EPIPE instead of killing the process before the clean-up, and
// starts a thread that waits for the three blocked signals and answers one
// with die_of.  Call it in main before any other thread exists.  False when
// the thread cannot be started; the signals are then left as they were.
bool watch_interruptions();

// Removes every file and directory the host created in this process and
// not yet kept, then dies of sig: its default action restored, unblocked,
// raised.  Safe from any thread; a second caller waits for the first.
[[noreturn]] void die_of(int sig);

// Flushes standard output.  A reader that closed the pipe ends the run as
// SIGPIPE would (die_of); false on any other failure.
bool flush_stdout();

// Held while an output is installed and the host told to keep what the
// archive made, so that an interruption sees either none or all of it.
std::mutex &install_lock();

} // namespace ziptext

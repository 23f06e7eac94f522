// progress.h - a progress line on standard error for one long archive
#pragma once

#include <chrono>
#include <string>

#include "ziptext.h"

namespace ziptext {

// "ziptext: a.zip: 12/40 members, 3.1/10.0 MiB, 2.3 MiB/s, 0:03 left",
// rewritten in place.  Shown only once the archive has run a second, and
// redrawn at most five times a second: short runs never see it.
class Progress {
public:
    explicit Progress(std::string archive);
    void update(const zt_progress &p);
    // Erases the line, if it is shown, so that a message can take its place.
    void clear();

private:
    using Clock = std::chrono::steady_clock;
    std::string archive_;
    Clock::time_point start_, last_;
    bool shown_ = false;
};

} // namespace ziptext

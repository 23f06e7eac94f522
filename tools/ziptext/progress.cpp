// progress.cpp - a progress line on standard error for one long archive
#include "tools/ziptext/progress.h"

#include <cstdio>

namespace ziptext {

Progress::Progress(std::string archive) : archive_(std::move(archive)), start_(Clock::now()) {}

void Progress::update(const zt_progress &p) {
    const Clock::time_point now = Clock::now();
    if (now - start_ < std::chrono::seconds(1) || now - last_ < std::chrono::milliseconds(200))
        return;
    last_ = now;
    constexpr double kMiB = 1024.0 * 1024.0;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    const double rate = static_cast<double>(p.bytes_done) / seconds;
    std::fprintf(stderr, "\r\033[Kziptext: %s: %llu", archive_.c_str(),
                 static_cast<unsigned long long>(p.members_done));
    if (p.members_total > 0)
        std::fprintf(stderr, "/%llu", static_cast<unsigned long long>(p.members_total));
    std::fprintf(stderr, " members, %.1f", static_cast<double>(p.bytes_done) / kMiB);
    if (p.bytes_total > 0) std::fprintf(stderr, "/%.1f", static_cast<double>(p.bytes_total) / kMiB);
    std::fprintf(stderr, " MiB, %.1f MiB/s", rate / kMiB);
    if (p.bytes_total > p.bytes_done && rate > 0) {
        const auto left = static_cast<unsigned long long>(
            static_cast<double>(p.bytes_total - p.bytes_done) / rate);
        std::fprintf(stderr, ", %llu:%02llu left", left / 60, left % 60);
    }
    std::fflush(stderr);
    shown_ = true;
}

void Progress::clear() {
    if (!shown_) return;
    std::fputs("\r\033[K", stderr);
    shown_ = false;
}

} // namespace ziptext

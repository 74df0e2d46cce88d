#include "tools/common/progress.h"

#include <cstdio>
#include <mutex>

#include <unistd.h>

#include "tools/common/text.h"

namespace g729::tool {

namespace {

// Short jobs finish before a bar would be worth reading.
constexpr std::chrono::milliseconds kBarDelay{1000};
constexpr std::chrono::milliseconds kRedrawInterval{100};
constexpr int kBarWidth = 30;
constexpr double kSecondsPerFrame = 0.01;

std::mutex stderr_lines;

double seconds_since(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

} // namespace

reporter::reporter(bool quiet, std::string command, bool bar)
    : quiet_(quiet), bar_allowed_(bar && !quiet && isatty(STDERR_FILENO)), command_(std::move(command)),
      start_(clock::now()), last_draw_(start_) {}

void reporter::notice(const std::string& file, const std::string& text) {
    if (quiet_) return;
    const std::lock_guard<std::mutex> lock(stderr_lines);
    clear_bar();
    std::fprintf(stderr, "g729a: %s: %s\n", file.c_str(), text.c_str());
}

void reporter::warning(const std::string& file, const std::string& text) {
    const std::lock_guard<std::mutex> lock(stderr_lines);
    clear_bar();
    std::fprintf(stderr, "g729a: %s: warning: %s\n", file.c_str(), text.c_str());
}

void reporter::line(const std::string& text) {
    if (quiet_) return;
    const std::lock_guard<std::mutex> lock(stderr_lines);
    clear_bar();
    std::fprintf(stderr, "g729a: %s\n", text.c_str());
}

void reporter::failure(const std::string& text) {
    const std::lock_guard<std::mutex> lock(stderr_lines);
    clear_bar();
    std::fprintf(stderr, "g729a: %s\n", text.c_str());
}

double reporter::elapsed() const { return seconds_since(start_); }

void reporter::progress(double fraction, std::size_t frames) {
    if (!bar_allowed_) return;
    const clock::time_point now = clock::now();
    if (now - start_ < kBarDelay || now - last_draw_ < kRedrawInterval) return;
    last_draw_ = now;
    const double elapsed = seconds_since(start_);
    const double speed = frames * kSecondsPerFrame / elapsed;
    if (fraction >= 0.0) {
        if (fraction > 1.0) fraction = 1.0;
        const int filled = int(fraction * kBarWidth);
        std::fprintf(stderr, "\r%s [%-*s] %3d%%  %.1f s of audio  %.0fx real time ", command_.c_str(), kBarWidth,
                     std::string(std::size_t(filled), '#').c_str(), int(fraction * 100.0), frames * kSecondsPerFrame,
                     speed);
    } else {
        std::fprintf(stderr, "\r%s  %.1f s of audio  %.0fx real time ", command_.c_str(), frames * kSecondsPerFrame, speed);
    }
    std::fflush(stderr);
    bar_shown_ = true;
}

void reporter::clear_bar() {
    if (!bar_shown_) return;
    std::fprintf(stderr, "\r\033[K");
    bar_shown_ = false;
}

void reporter::summary(std::size_t frames) { summary(frames, frames * kSecondsPerFrame); }

void reporter::summary(std::size_t frames, double audio, bool timed) {
    if (quiet_) {
        clear_bar();
        return;
    }
    const std::lock_guard<std::mutex> lock(stderr_lines);
    clear_bar();
    const std::string counted = plural(frames, "frame", "frames");
    if (!timed) {
        std::fprintf(stderr, "g729a: %s: %s, %.2f s of audio\n", command_.c_str(), counted.c_str(), audio);
        return;
    }
    const double elapsed = seconds_since(start_);
    // A job done within the clock's resolution still gets a finite ratio.
    const double ratio = audio / (elapsed > 1e-6 ? elapsed : 1e-6);
    std::fprintf(stderr, "g729a: %s: %s, %.2f s of audio in %.2f s (%.0fx real time)\n", command_.c_str(), counted.c_str(),
                 audio, elapsed, ratio);
}

} // namespace g729::tool

// What a command tells the user on standard error while and after it works:
// notices, warnings, a progress bar on a terminal, and one summary line.
// Lines from several workers of a batch never interleave.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace g729::tool {

class reporter {
public:
    // quiet silences notices, the bar and the summary (not warnings); the
    // bar also needs a terminal and `bar`.
    reporter(bool quiet, std::string command, bool bar = true);

    void notice(const std::string& file, const std::string& text);
    // Shown even when quiet: something the user most likely did not mean.
    void warning(const std::string& file, const std::string& text);
    // fraction in [0, 1], or negative when the total is unknown.
    void progress(double fraction, std::size_t frames);
    // "encode: 530 frames, 5.30 s of audio in 0.08 s (66x real time)"; the
    // audio is 10 ms per frame unless given (untransmitted frames have none).
    // Untimed for commands that only read frames: "info: 530 frames, 5.30 s of audio".
    void summary(std::size_t frames);
    void summary(std::size_t frames, double audio_seconds, bool timed = true);
    // One line as it is, with "g729a: " in front, unless quiet.
    void line(const std::string& text);
    // The same, even when quiet: a file that failed.
    void failure(const std::string& text);
    double elapsed() const;
    bool quiet() const { return quiet_; }

private:
    using clock = std::chrono::steady_clock;
    bool quiet_;
    bool bar_allowed_;
    bool bar_shown_ = false;
    std::string command_;
    clock::time_point start_;
    clock::time_point last_draw_;

    void clear_bar();
};

} // namespace g729::tool

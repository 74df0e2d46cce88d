// What a command tells the user on standard error while and after it works:
// notices, a progress bar on a terminal, and one summary line.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace g729::tool {

class reporter {
public:
    // quiet silences everything here; the bar also needs a terminal.
    reporter(bool quiet, std::string command);

    void notice(const std::string& file, const std::string& text);
    // fraction in [0, 1], or negative when the total is unknown.
    void progress(double fraction, std::size_t frames);
    // "encode: 530 frames, 5.30 s of audio in 0.08 s (66x real time)"; the
    // audio is 10 ms per frame unless given (untransmitted frames have none).
    void summary(std::size_t frames);
    void summary(std::size_t frames, double audio_seconds);

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

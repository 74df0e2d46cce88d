// Playout through a receiver's jitter buffer: which packets of a stream a
// phone with a given buffer would have played, and which arrived after
// their playout time and were dropped as late (and then concealed like
// lost ones), and which arrived so early that the buffer was full and
// discarded them. A fixed buffer holds every packet for the same delay
// after the stream's first packet, and at most that delay and one packet;
// an adaptive one sets its delay from the arrival delays it has seen, and
// changes it only at the start of a talk spurt, never within one; it holds
// at most its largest delay.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tools/common/command_options.h"

namespace g729::tool {

// The adaptive buffer's limits.
constexpr double kAdaptiveMinDelayMs = 20.0;
constexpr double kAdaptiveMaxDelayMs = 500.0;

// A packet as the buffer sees it, in arrival order.
struct playout_packet {
    int64_t arrival_ns = 0;
    uint32_t timestamp = 0;
    bool marker = false;
    int frames = 1; // 10 ms frames the packet carries
};

struct playout_result {
    std::vector<bool> late;         // per packet, in the order given
    std::vector<bool> discarded;    // per packet: arrived so early that it would have waited longer than the buffer holds
    std::size_t late_packets = 0;
    std::size_t discarded_packets = 0;
    std::size_t played_packets = 0;
    double mean_delay_ms = 0.0;     // buffer delay over the played packets: playout minus the fastest played packet's arrival
    double max_delay_ms = 0.0;
    std::size_t delay_changes = 0;  // adaptive: talk spurts that started with another delay
};

// `max_step_ticks`: a timestamp step larger than this (a restart, or a jump
// that is not believed), or an arrival step as long, starts the buffer
// afresh.
playout_result play_out(const std::vector<playout_packet>& packets, const jitter_buffer_setting& setting,
                        int64_t max_step_ticks);

} // namespace g729::tool

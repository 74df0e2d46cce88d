// Playout through a receiver's jitter buffer: which packets of a stream a
// phone with a given buffer would have played, and which arrived after
// their playout time and were dropped as late (and then concealed like
// lost ones), and which arrived so early that the buffer was full and
// discarded them. A fixed buffer holds every packet for the same delay
// after the stream's first packet, and at most that delay and one packet.
// An adaptive one behaves as phones' and media servers' buffers do: it
// grows at once when a packet in sequence comes late (concealing the
// frames it waits for), gives delay back slowly (a frame a second at most,
// dropped within a talk spurt or left out in a silence), aims at four
// smoothed variations above the smoothed delay, stays between 20 and
// 500 ms above the fastest packet, and holds at most 500 ms. Reordered
// packets and copies neither move it nor start a talk spurt.
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
    uint16_t sequence = 0;
};

// The buffer's delay above the fastest packet, from a packet's arrival on.
struct delay_point {
    int64_t arrival_ns = 0;
    double delay_ms = 0.0;
    // The playout time less sender time, against the first packet (or the
    // one after a restart): a packet whose relative transit (as the arrival
    // analysis measures it) lies above this came too late.
    double playout_ms = 0.0;
};

// Delay changes listed at most; a crafted capture could make one a packet.
constexpr std::size_t kMaxDelayPoints = 10000;

// A change of the adaptive buffer's delay within a talk spurt, which the
// listener hears: at the packet (its index in the order given) the buffer
// grew by `frames` frames (it waited, concealing, for that long before
// playing on), or shrank by one (`frames` is -1: a frame was dropped).
// Changes in a silence cut no audio and are not listed.
struct resync_point {
    std::size_t packet = 0;
    int frames = 0;
};

struct playout_result {
    std::vector<bool> late;         // per packet, in the order given
    std::vector<bool> discarded;    // per packet: arrived so early that it would have waited longer than the buffer holds
    std::size_t late_packets = 0;
    std::size_t discarded_packets = 0;
    std::size_t played_packets = 0;
    double mean_delay_ms = 0.0;     // buffer delay over the played packets: playout minus the fastest played packet's arrival
    double max_delay_ms = 0.0;
    std::size_t delay_changes = 0;  // adaptive: times the delay moved
    // The delay at the start and after each change (and restart), at most
    // kMaxDelayPoints of them; the rest counted.
    std::vector<delay_point> delay_series;
    std::size_t delay_points_not_listed = 0;
    // The changes within talk spurts, at most kMaxDelayPoints of them; the
    // rest counted (and not played).
    std::vector<resync_point> resyncs;
    std::size_t resyncs_not_listed = 0;
};

// `max_step_ticks`: a timestamp step larger than this (a restart, or a jump
// that is not believed), or an arrival step as long, starts the buffer
// afresh.
playout_result play_out(const std::vector<playout_packet>& packets, const jitter_buffer_setting& setting,
                        int64_t max_step_ticks);

} // namespace g729::tool

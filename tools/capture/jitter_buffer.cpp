#include "tools/capture/jitter_buffer.h"

#include "tools/capture/rtp_stream.h"

#include <algorithm>
#include <cmath>

namespace g729::tool {

namespace {

constexpr double kTicksPerMs = 8.0;
// The smoothing of the delay and variation estimates: the gain of 1/16
// that receivers use for interarrival jitter, so a buffer follows a change
// in the network within a few dozen packets; and how many variations of
// margin the buffer keeps above the smoothed delay.
constexpr double kSmoothing = 15.0 / 16.0;
constexpr double kVariationMargin = 4.0;

} // namespace

playout_result play_out(const std::vector<playout_packet>& packets, const jitter_buffer_setting& setting,
                        int64_t max_step_ticks) {
    playout_result out;
    out.late.assign(packets.size(), false);
    out.discarded.assign(packets.size(), false);

    // Times in ms: the sender's time of a packet from its timestamp
    // (unwrapped), and its transit, arrival minus sender time, relative to
    // the first packet.
    bool started = false;
    int64_t first_arrival_ns = 0;
    double sender_ms = 0.0;
    uint32_t last_timestamp = 0;
    int64_t last_arrival_ns = 0;
    double last_end_ms = 0.0;     // sender time at which the previous packet's audio ends
    double smallest_transit = 0.0; // the fastest packet's transit, played or not
    double fastest_played = 0.0;   // the fastest played packet's: the reference of the buffer's delay
    double delay_estimate = 0.0;  // smoothed transit
    double variation = 0.0;       // smoothed deviation from it
    double playout_offset = 0.0;  // playout time = sender time + offset
    double current_delay = setting.delay_ms;
    double delay_sum = 0.0;

    for (std::size_t i = 0; i < packets.size(); ++i) {
        const playout_packet& p = packets[i];
        bool spurt_start = false;
        if (!started) {
            started = true;
            first_arrival_ns = p.arrival_ns;
            sender_ms = 0.0;
            spurt_start = true;
        } else {
            const int64_t step = int32_t(p.timestamp - last_timestamp);
            const double arrival_step_ms = time_difference_ns(p.arrival_ns, last_arrival_ns) / 1e6;
            if (step < -max_step_ticks || step > max_step_ticks ||
                std::fabs(arrival_step_ms) * kTicksPerMs > double(max_step_ticks)) {
                // Nothing to follow across a jump: the buffer starts over.
                first_arrival_ns = p.arrival_ns;
                sender_ms = 0.0;
                smallest_transit = fastest_played = 0.0;
                delay_estimate = variation = 0.0;
                spurt_start = true;
            } else {
                sender_ms += double(step) / kTicksPerMs;
                // A talk spurt starts at a marker bit or after a silence in
                // which the sender sent nothing.
                spurt_start = p.marker || sender_ms > last_end_ms + 0.5;
            }
        }
        last_timestamp = p.timestamp;
        last_arrival_ns = p.arrival_ns;
        const double arrival_ms = time_difference_ns(p.arrival_ns, first_arrival_ns) / 1e6;
        const double transit = arrival_ms - sender_ms;
        if (spurt_start && sender_ms == 0.0) {
            smallest_transit = fastest_played = transit;
            delay_estimate = transit;
            variation = 0.0;
            playout_offset = transit + setting.delay_ms;
            current_delay = setting.delay_ms;
        } else if (spurt_start && setting.adaptive) {
            const double target =
                std::clamp(delay_estimate + kVariationMargin * variation - smallest_transit, kAdaptiveMinDelayMs,
                           kAdaptiveMaxDelayMs);
            if (target != current_delay) ++out.delay_changes;
            current_delay = target;
            playout_offset = smallest_transit + current_delay;
        }
        smallest_transit = std::min(smallest_transit, transit);
        delay_estimate = kSmoothing * delay_estimate + (1.0 - kSmoothing) * transit;
        variation = kSmoothing * variation + (1.0 - kSmoothing) * std::fabs(delay_estimate - transit);

        const double playout_ms = sender_ms + playout_offset;
        const double packet_ms = 10.0 * double(std::max(p.frames, 1));
        const double end_ms = sender_ms + packet_ms;
        if (end_ms > last_end_ms || spurt_start) last_end_ms = end_ms;
        if (arrival_ms > playout_ms) {
            out.late[i] = true;
            ++out.late_packets;
            continue;
        }
        // A buffer holds so much audio: a fixed one its delay and the
        // packet being played, an adaptive one its largest delay. A packet
        // that would wait longer finds it full and is discarded, as a
        // phone's buffer does, rather than held without limit.
        const double capacity_ms = setting.adaptive ? kAdaptiveMaxDelayMs : setting.delay_ms + packet_ms;
        if (playout_ms - arrival_ms > capacity_ms) {
            out.discarded[i] = true;
            ++out.discarded_packets;
            continue;
        }
        ++out.played_packets;
        fastest_played = std::min(fastest_played, transit);
        const double delay = playout_ms - (sender_ms + fastest_played);
        delay_sum += delay;
        out.max_delay_ms = std::max(out.max_delay_ms, delay);
    }
    if (out.played_packets > 0) out.mean_delay_ms = delay_sum / double(out.played_packets);
    return out;
}

} // namespace g729::tool

#include "tools/capture/jitter_buffer.h"

#include "tools/capture/rtp_stream.h"

#include <algorithm>
#include <cmath>

namespace g729::tool {

namespace {

constexpr double kTicksPerMs = 8.0;
constexpr double kFrameMs = 10.0;
// The smoothing of the delay and variation estimates: the gain of 1/16
// that receivers use for interarrival jitter, so a buffer follows a change
// in the network within a few dozen packets; and how many variations of
// margin the buffer keeps above the smoothed delay.
constexpr double kSmoothing = 15.0 / 16.0;
constexpr double kVariationMargin = 4.0;
// The buffer gives back delay slowly: a frame a second at most, so that a
// passing burst of jitter does not make it shrink and grow again and again;
// the same second is the window of the fastest transit it measures from.
constexpr double kShrinkIntervalMs = 1000.0;

// The extended sequence number nearest the highest so far.
int64_t extend_sequence(int64_t highest, uint16_t sequence) {
    return highest + int16_t(uint16_t(uint16_t(sequence) - uint16_t(highest)));
}

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
    int64_t highest_sequence = 0;  // extended, of the newest packet in sequence order
    double highest_end_ms = 0.0;   // sender time at which that packet's audio ends
    double fastest_played = 0.0;   // the fastest played packet's: the reference of the buffer's delay
    double delay_estimate = 0.0;   // smoothed transit
    double variation = 0.0;        // smoothed deviation from it
    double playout_offset = 0.0;   // playout time = sender time + offset
    double last_change_ms = 0.0;   // sender time of the last change of the offset
    double delay_sum = 0.0;

    // The fastest transit of the packets in sequence over the last one to
    // two seconds: the floor the buffer's delay is measured from, which
    // follows the network (a route change, a sender clock racing) instead
    // of remembering one fast packet for ever.
    double window_start_ms = 0.0;
    double window_min = 0.0, previous_window_min = 0.0;
    auto recent_min = [&] { return std::min(window_min, previous_window_min); };
    // The least time a packet in sequence waited in the buffer since the
    // last change: while even the quickest waited a frame and a margin for
    // a whole second, the buffer holds more than it needs.
    double least_wait = HUGE_VAL;

    auto record = [&](int64_t arrival_ns, bool change) {
        if (change) ++out.delay_changes;
        if (out.delay_series.size() < kMaxDelayPoints)
            out.delay_series.push_back({arrival_ns, playout_offset - recent_min(), playout_offset});
        else
            ++out.delay_points_not_listed;
    };

    for (std::size_t i = 0; i < packets.size(); ++i) {
        const playout_packet& p = packets[i];
        bool restart = !started;
        if (started) {
            const int64_t step = int32_t(p.timestamp - last_timestamp);
            const double arrival_step_ms = time_difference_ns(p.arrival_ns, last_arrival_ns) / 1e6;
            // Nothing to follow across a jump: the buffer starts over.
            restart = step < -max_step_ticks || step > max_step_ticks ||
                      std::fabs(arrival_step_ms) * kTicksPerMs > double(max_step_ticks);
            if (!restart) sender_ms += double(step) / kTicksPerMs;
        }
        started = true;
        last_timestamp = p.timestamp;
        last_arrival_ns = p.arrival_ns;
        if (restart) {
            first_arrival_ns = p.arrival_ns;
            sender_ms = 0.0;
            highest_sequence = p.sequence;
        }
        const double arrival_ms = time_difference_ns(p.arrival_ns, first_arrival_ns) / 1e6;
        const double transit = arrival_ms - sender_ms;
        const double packet_ms = kFrameMs * double(std::max(p.frames, 1));

        // Where the packet stands in the sequence: the next one, a later one
        // (packets lost before it), or one that comes after a later one
        // (reordered, or a copy). Only packets in sequence order tell the
        // buffer about the network; a reordered packet's delay is its own.
        const int64_t sequence = restart ? highest_sequence : extend_sequence(highest_sequence, p.sequence);
        const bool in_order = restart || sequence > highest_sequence;
        // A talk spurt starts at a marker bit, or where the next packet in
        // sequence follows a silence in which the sender sent nothing.
        const bool spurt_start = !restart && in_order &&
                                 (p.marker || (sequence == highest_sequence + 1 && sender_ms > highest_end_ms + 0.5));
        if (in_order) {
            highest_sequence = sequence;
            highest_end_ms = sender_ms + packet_ms;
        }

        if (restart) {
            fastest_played = transit;
            delay_estimate = transit;
            variation = 0.0;
            playout_offset = transit + setting.delay_ms;
            last_change_ms = window_start_ms = sender_ms;
            window_min = previous_window_min = transit;
            least_wait = HUGE_VAL;
            record(p.arrival_ns, false);
        }
        if (in_order) {
            delay_estimate = kSmoothing * delay_estimate + (1.0 - kSmoothing) * transit;
            variation = kSmoothing * variation + (1.0 - kSmoothing) * std::fabs(delay_estimate - transit);
            if (sender_ms - window_start_ms >= kShrinkIntervalMs) {
                previous_window_min = window_min;
                window_min = transit;
                window_start_ms = sender_ms;
            }
            window_min = std::min(window_min, transit);
        }

        bool missed_its_time = false;
        if (setting.adaptive && !restart && in_order) {
            const double floor = recent_min() + kAdaptiveMinDelayMs, ceiling = recent_min() + kAdaptiveMaxDelayMs;
            const double margin = kVariationMargin * variation;
            const double waited_ms = sender_ms - last_change_ms;
            const double wait = sender_ms + playout_offset - arrival_ms;
            double next = playout_offset;
            if (wait < 0) {
                // Late while in sequence: the network's delay grew. The late
                // packet's time has passed (its audio was concealed), and the
                // buffer grows at once by as many frames as it missed by, so
                // that the packets after it are in time.
                missed_its_time = true;
                next = std::max(playout_offset, std::min(playout_offset + kFrameMs * std::ceil(-wait / kFrameMs), ceiling));
            } else if (spurt_start) {
                // A silence lets the delay move without cutting audio: up to
                // four variations above the smoothed delay at once; down
                // towards it by a frame for every second since the last
                // change, as far as the packets' least wait allows.
                const double target = std::clamp(delay_estimate + margin, floor, ceiling);
                const double spare = std::max(0.0, std::min(least_wait, wait) - margin);
                next = target >= playout_offset
                           ? target
                           : std::max({target, playout_offset - kFrameMs * std::floor(waited_ms / kShrinkIntervalMs),
                                       playout_offset - spare});
            } else if (waited_ms >= kShrinkIntervalMs && std::min(least_wait, wait) >= kFrameMs + margin &&
                       playout_offset - kFrameMs >= floor) {
                // Every packet for a second waited a frame more than needed:
                // one frame is dropped.
                next = playout_offset - kFrameMs;
            }
            least_wait = std::min(least_wait, wait);
            if (next != playout_offset) {
                // Within a spurt the change is heard: frames waited for, or
                // one dropped. In a silence the silence absorbs it.
                // (A growth held at the ceiling may be less than a frame.)
                const int frames = next > playout_offset ? int(std::lround((next - playout_offset) / kFrameMs)) : -1;
                if (!spurt_start && frames != 0) {
                    if (out.resyncs.size() < kMaxDelayPoints)
                        out.resyncs.push_back({i, frames});
                    else
                        ++out.resyncs_not_listed;
                }
                playout_offset = next;
                last_change_ms = sender_ms;
                least_wait = HUGE_VAL;
                record(p.arrival_ns, true);
            }
        }

        const double playout_ms = sender_ms + playout_offset;
        if (missed_its_time || arrival_ms > playout_ms) {
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

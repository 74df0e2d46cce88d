#include "tools/capture/stream_analysis.h"

#include <cmath>
#include <set>

namespace g729::tool {

arrival_analysis analyse_arrivals(const std::vector<packet_observation>& packets, int64_t max_step_ticks) {
    arrival_analysis out;
    std::set<uint16_t> seen;
    const packet_observation* previous = nullptr;
    double jitter = 0.0; // in RTP ticks, as receivers keep it
    double jitter_sum = 0.0;
    std::size_t jitter_count = 0;

    // Least squares of arrival time against sender time: the sender's
    // timestamps are exact and the arrivals carry the jitter, so the fit
    // runs that way round (the other way the jitter would flatten the
    // slope). Sums are kept relative to the first packet so they stay
    // exact enough over hours.
    const packet_observation* first = nullptr;
    int64_t unwrapped = 0;
    uint32_t last_timestamp = 0;
    double sum_a = 0, sum_s = 0, sum_ss = 0, sum_as = 0;
    std::size_t n = 0;
    int64_t span_ns = 0;

    for (const packet_observation& p : packets) {
        if (!seen.insert(p.sequence).second) continue;
        ++out.packets;
        if (p.marker) ++out.markers;
        ++out.payload_types[p.payload_type];
        if (p.frames > 0) ++out.frames_per_packet[p.frames];

        if (previous) {
            const int64_t arrival_step = p.arrival_ns - previous->arrival_ns;
            const double delta_ms = double(arrival_step) / 1e6;
            if (delta_ms > out.max_delta_ms) {
                out.max_delta_ms = delta_ms;
                out.max_delta_at_ns = p.arrival_ns;
            }
            const int64_t ticks = int32_t(p.timestamp - previous->timestamp);
            if (ticks >= -max_step_ticks && ticks <= max_step_ticks) {
                // D(i-1, i) = (R_i - R_{i-1}) - (S_i - S_{i-1}), in ticks.
                const double d = double(arrival_step) * kRtpClockHz / 1e9 - double(ticks);
                jitter += (std::fabs(d) - jitter) / 16.0;
            }
            const double jitter_ms = jitter * 1000.0 / kRtpClockHz;
            jitter_sum += jitter_ms;
            ++jitter_count;
            if (jitter_ms > out.max_jitter_ms) out.max_jitter_ms = jitter_ms;
            out.series.push_back({p.arrival_ns, delta_ms, jitter_ms});
        }

        if (!first) {
            first = &p;
            last_timestamp = p.timestamp;
        } else {
            const int64_t step = int32_t(p.timestamp - last_timestamp);
            last_timestamp = p.timestamp;
            if (step < -max_step_ticks || step > max_step_ticks) {
                // The sender's clock cannot be followed across a jump:
                // start the fit again from here.
                first = &p;
                unwrapped = 0;
                sum_a = sum_s = sum_ss = sum_as = 0;
                n = 0;
            } else {
                unwrapped += step;
            }
        }
        const double a = double(p.arrival_ns - first->arrival_ns) / 1e9;
        const double s = double(unwrapped) / kRtpClockHz;
        sum_a += a;
        sum_s += s;
        sum_ss += s * s;
        sum_as += a * s;
        ++n;
        span_ns = p.arrival_ns - first->arrival_ns;
        previous = &p;
    }
    if (jitter_count > 0) out.mean_jitter_ms = jitter_sum / double(jitter_count);
    if (n >= 2 && span_ns >= 1000000000) {
        const double denominator = double(n) * sum_ss - sum_s * sum_s;
        if (denominator > 0.0) {
            // Seconds of capture clock per second of the sender's clock.
            const double slope = (double(n) * sum_as - sum_a * sum_s) / denominator;
            if (slope > 0.0) {
                out.skew_ppm = (1.0 / slope - 1.0) * 1e6;
                out.skew_known = true;
            }
        }
    }
    return out;
}

} // namespace g729::tool

#include "tools/capture/stream_analysis.h"

#include "tools/capture/rtp_stream.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <utility>

namespace g729::tool {

namespace {

// Timestamps may run ahead of the capture clock by this much (a burst of
// late packets, a stalled capture) before a step is called a jump.
constexpr double kJumpSlackSeconds = 2.0;

// Beyond a tenth of its rate a sender's clock is not an 8 kHz clock that
// drifts: its timestamps follow something else (another rate, a counter),
// and a fit through them measures no skew.
constexpr double kMaxMeasurableSkewPpm = 100000.0;

// Adds a point, or folds it into the last one when both fall into the same
// stretch of arrival time; when the series is full, halves its resolution.
void add_point(std::vector<jitter_point>& series, int64_t& stretch_ns, const jitter_point& p) {
    if (stretch_ns > 0 && !series.empty() && p.arrival_ns / stretch_ns == series.back().arrival_ns / stretch_ns) {
        jitter_point& last = series.back();
        last.delta_ms = std::max(last.delta_ms, p.delta_ms);
        last.jitter_ms = p.jitter_ms;
        last.transit_ms = std::max(last.transit_ms, p.transit_ms);
        last.arrival_ns = p.arrival_ns;
        return;
    }
    series.push_back(p);
    if (series.size() < kMaxSeriesPoints) return;
    stretch_ns = stretch_ns == 0 ? 40 * 1000 * 1000 : stretch_ns * 2;
    std::vector<jitter_point> folded;
    folded.reserve(kMaxSeriesPoints);
    for (const jitter_point& q : series) {
        if (!folded.empty() && q.arrival_ns / stretch_ns == folded.back().arrival_ns / stretch_ns) {
            folded.back().delta_ms = std::max(folded.back().delta_ms, q.delta_ms);
            folded.back().jitter_ms = q.jitter_ms;
            folded.back().transit_ms = std::max(folded.back().transit_ms, q.transit_ms);
            folded.back().arrival_ns = q.arrival_ns;
        } else {
            folded.push_back(q);
        }
    }
    series.swap(folded);
}

// The least-squares line through the fastest transits, with the standard
// error of its slope from the scatter about it. Fewer than three seconds
// leave no scatter to judge the line by; a skew whose error is larger than
// itself says nothing of the clock.
void fit_skew(const std::map<double, double>& fastest, arrival_analysis& out) {
    if (fastest.size() < 3) {
        out.skew_too_short = true;
        return;
    }
    const double n = double(fastest.size());
    double mean_x = 0, mean_y = 0;
    for (const auto& [x, y] : fastest) {
        mean_x += x;
        mean_y += y;
    }
    mean_x /= n;
    mean_y /= n;
    double sxx = 0, sxy = 0;
    for (const auto& [x, y] : fastest) {
        sxx += (x - mean_x) * (x - mean_x);
        sxy += (x - mean_x) * (y - mean_y);
    }
    if (!(sxx > 0.0)) {
        out.skew_too_short = true;
        return;
    }
    const double slope = sxy / sxx;
    double residuals = 0;
    for (const auto& [x, y] : fastest) {
        const double r = y - mean_y - slope * (x - mean_x);
        residuals += r * r;
    }
    const double slope_error = std::sqrt(residuals / (n - 2.0) / sxx);
    // Transit changes by -e / (1 + e) a second when the sender's clock runs
    // fast by e; the error follows through the derivative, 1 / (1 + slope)^2.
    const double skew = slope > -1.0 ? -slope / (1.0 + slope) * 1e6 : HUGE_VAL;
    if (!(std::fabs(skew) <= kMaxMeasurableSkewPpm)) {
        out.skew_beyond_range = true;
        return;
    }
    out.skew_fit_ppm = skew;
    out.skew_stderr_ppm = slope_error / ((1.0 + slope) * (1.0 + slope)) * 1e6;
    out.skew_known = !(out.skew_stderr_ppm > std::fabs(skew));
    if (out.skew_known) out.skew_ppm = skew;
}

void add_event(arrival_analysis& out, int64_t arrival_ns, packet_event_kind kind) {
    if (out.events.size() < kMaxListedEvents) out.events.push_back({arrival_ns, kind});
    else ++out.events_not_listed;
}

} // namespace

bool sequence_filter::first_time(uint16_t sequence) {
    // The extended number nearest the highest so far.
    const int64_t extended = highest_ < 0 ? sequence : highest_ + int16_t(uint16_t(sequence - highest_as_sent_));
    if (extended > highest_) {
        highest_ = extended;
        highest_as_sent_ = sequence;
    }
    last_extended_ = extended;
    int64_t& slot = lap_[sequence];
    if (slot == extended) return false;
    slot = extended;
    return true;
}

arrival_analysis analyse_arrivals(const std::vector<packet_observation>& packets, int64_t max_step_ticks,
                                  std::vector<packet_timing>* timings) {
    arrival_analysis out;
    sequence_filter seen;
    int64_t series_stretch_ns = 0; // arrival time one point stands for, 0: a point a packet
    const packet_observation* previous = nullptr;
    double jitter = 0.0; // in RTP ticks, as receivers keep it
    double jitter_sum = 0.0;
    std::size_t jitter_count = 0;

    // The sender's clock against the capture clock: the transit time
    // (arrival less sender time) of the fastest packet in each second of
    // sender time, fitted by least squares over the seconds. Queues only
    // ever add delay, so the fastest packets trace the clocks' drift while
    // jitter and late packets stay above them. Times are kept relative to
    // the first packet so they stay exact over hours.
    const packet_observation* first = nullptr;
    int64_t unwrapped = 0;
    uint32_t last_timestamp = 0;
    // Sender second -> least transit in it. A packet joins its own second
    // whatever order it arrives in: one held back past the next second's
    // first packet is still a packet of its second, and not the fastest.
    std::map<double, double> fastest;
    bool counting = false;
    int64_t base_extended = 0;
    const std::size_t timed = timings ? std::min(timings->size(), packets.size()) : 0;
    for (std::size_t i = 0; i < packets.size(); ++i) {
        const packet_observation& p = packets[i];
        // RFC 3550's counts take every packet received, copies included,
        // against the numbers from the first one received to the highest.
        const bool new_number = seen.first_time(p.sequence);
        ++out.received;
        if (!counting) {
            counting = true;
            base_extended = seen.last_extended();
        }
        out.expected = std::size_t(std::max<int64_t>(0, seen.highest() - base_extended + 1));
        if (!new_number) {
            if (i < timed) {
                packet_timing& t = (*timings)[i];
                t = {};
                t.jitter_ms = jitter * 1000.0 / kRtpClockHz;
                if (previous) t.delta_ms = time_difference_ns(p.arrival_ns, previous->arrival_ns) / 1e6;
                if (first) {
                    // Against the sender time of the newest packet counted.
                    const double ticks = double(unwrapped) + double(int32_t(p.timestamp - last_timestamp));
                    t.transit_ms = (time_difference_ns(p.arrival_ns, first->arrival_ns) / 1e9 - ticks / kRtpClockHz) * 1000.0;
                }
            }
            add_event(out, p.arrival_ns, packet_event_kind::duplicate);
            continue;
        }
        if (seen.last_extended() < seen.highest()) add_event(out, p.arrival_ns, packet_event_kind::reordered);
        ++out.packets;
        if (p.marker) {
            ++out.markers;
            add_event(out, p.arrival_ns, packet_event_kind::marker);
        }
        ++out.payload_types[p.payload_type];
        if (p.frames > 0) ++out.frames_per_packet[p.frames];

        // A step of the capture clock too large to follow, like one of the
        // timestamps, starts the differences afresh: two packets centuries
        // apart on the capture clock but 20 ms apart in sender time are no
        // measure of jitter or drift.
        double arrival_step = 0.0; // ns; two capture times may lie further apart than 64 bits hold
        bool arrival_followed = true;
        jitter_point point; // drawn once the packet's transit is known
        bool has_point = false;
        if (previous) {
            arrival_step = time_difference_ns(p.arrival_ns, previous->arrival_ns);
            arrival_followed = std::fabs(arrival_step) * kRtpClockHz / 1e9 <= double(max_step_ticks);
            const double delta_ms = arrival_step / 1e6;
            if (delta_ms > out.max_delta_ms) {
                out.max_delta_ms = delta_ms;
                out.max_delta_at_ns = p.arrival_ns;
            }
            const int64_t ticks = int32_t(p.timestamp - previous->timestamp);
            if (ticks >= -max_step_ticks && ticks <= max_step_ticks && arrival_followed) {
                // D(i-1, i) = (R_i - R_{i-1}) - (S_i - S_{i-1}), in ticks.
                const double d = arrival_step * kRtpClockHz / 1e9 - double(ticks);
                jitter += (std::fabs(d) - jitter) / 16.0;
            }
            const double jitter_ms = jitter * 1000.0 / kRtpClockHz;
            jitter_sum += jitter_ms;
            ++jitter_count;
            if (jitter_ms > out.max_jitter_ms) out.max_jitter_ms = jitter_ms;
            point = {p.arrival_ns, delta_ms, jitter_ms, 0.0};
            has_point = true;
            // Timestamps that run away from the capture clock between two
            // packets in sequence.
            if (int16_t(uint16_t(p.sequence - previous->sequence)) > 0) {
                const double claimed = double(ticks) / kRtpClockHz;
                const double seen_s = arrival_step / 1e9;
                if (std::fabs(claimed - seen_s) > kJumpSlackSeconds && out.jumps.size() < kMaxListedJumps)
                    out.jumps.push_back({p.arrival_ns, p.number, claimed, seen_s});
            }
        }

        if (!first) {
            first = &p;
            last_timestamp = p.timestamp;
        } else {
            const int64_t step = int32_t(p.timestamp - last_timestamp);
            last_timestamp = p.timestamp;
            if (step < -max_step_ticks || step > max_step_ticks || !arrival_followed) {
                // The sender's clock cannot be followed across a jump:
                // start the fit again from here.
                first = &p;
                unwrapped = 0;
                fastest.clear();
            } else {
                unwrapped += step;
            }
        }
        const double s = double(unwrapped) / kRtpClockHz;
        const double transit = time_difference_ns(p.arrival_ns, first->arrival_ns) / 1e9 - s;
        const auto [slot, added] = fastest.emplace(std::floor(s), transit);
        if (!added) slot->second = std::min(slot->second, transit);
        if (i < timed)
            (*timings)[i] = {previous ? time_difference_ns(p.arrival_ns, previous->arrival_ns) / 1e6 : 0.0, transit * 1000.0,
                             jitter * 1000.0 / kRtpClockHz, true};
        if (has_point) {
            point.transit_ms = transit * 1000.0;
            add_point(out.series, series_stretch_ns, point);
        }
        previous = &p;
    }
    if (jitter_count > 0) out.mean_jitter_ms = jitter_sum / double(jitter_count);
    fit_skew(fastest, out);
    return out;
}

} // namespace g729::tool

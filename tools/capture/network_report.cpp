#include "tools/capture/network_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "g729a.h"

namespace g729::tool {

namespace {

constexpr int64_t kTicksPerFrame = 80;
// The codec's own delay: a 10 ms frame and 5 ms of look-ahead.
constexpr double kCodingDelayMs = 15.0;
// Past this step the jitter and skew figures restart rather than take the
// step for seconds of jitter: an hour of RTP clock.
constexpr int64_t kMaxFollowedStepTicks = int64_t(3600) * 8000;

// Frames a G.729 payload carries: whole 10-byte frames and a final SID.
int payload_frames(const std::vector<uint8_t>& payload) {
    const std::size_t n = payload.size();
    return int(n / G729A_SPEECH_FRAME_BYTES + (n % G729A_SPEECH_FRAME_BYTES == G729A_SID_FRAME_BYTES ? 1 : 0));
}

std::string format(const char* f, double v) {
    char text[64];
    std::snprintf(text, sizeof text, f, v);
    return text;
}

std::string json_number(double v, const char* f = "%.3f") { return std::isfinite(v) ? format(f, v) : "null"; }

std::string ssrc_text(uint32_t ssrc) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", ssrc);
    return text;
}

// Where the quality estimate's one-way delay came from, after it.
std::string one_way_delay_parts(const stream_network& n) {
    if (n.one_way_delay_given) return " given with --one-way-delay";
    return format(": %.0f ms packets, ", n.packetization_ms) + format("%.0f ms coding, ", kCodingDelayMs) +
           (n.buffered ? format("%.1f ms buffer, ", n.playout.mean_delay_ms) : "") +
           (n.network_delay_known ? format("%.1f ms network (half the RTCP round trip)", n.network_delay_ms)
                                  : std::string("network unknown"));
}

// RFC 3550's cumulative number of packets lost: expected less received,
// below zero when copies outnumber the losses.
long long cumulative_lost(const arrival_analysis& a) { return (long long)a.expected - (long long)a.received; }

} // namespace

stream_network analyse_network(std::vector<rtp_packet>& packets, const std::optional<jitter_buffer_setting>& buffer,
                               packet_table* table) {
    stream_network n;
    std::vector<packet_observation> observed;
    observed.reserve(packets.size());
    for (const rtp_packet& p : packets)
        observed.push_back(
            {p.arrival_ns, p.sequence, p.timestamp, p.marker, p.payload_type, p.audio ? payload_frames(p.payload) : 0, p.number});
    const std::size_t rows = table ? std::min(packets.size(), kMaxPacketRows) : 0;
    std::vector<packet_timing> timings(rows);
    n.arrivals = analyse_arrivals(observed, kMaxFollowedStepTicks, &timings);
    if (table) {
        table->rows.clear();
        table->rows.reserve(rows);
        table->not_listed = packets.size() - rows;
        for (std::size_t i = 0; i < rows; ++i) {
            const rtp_packet& p = packets[i];
            const packet_timing& t = timings[i];
            // The skew is where the sender's clock put it less where it
            // came: early is positive.
            table->rows.push_back({p.number, p.arrival_ns, p.sequence, p.timestamp, p.marker, p.payload_type, p.payload_size,
                                   t.delta_ms, t.transit_ms, t.jitter_ms, 0.0 - t.transit_ms});
        }
    }

    std::size_t most = 0;
    for (const auto& [frames, count] : n.arrivals.frames_per_packet)
        if (count > most) {
            most = count;
            n.packetization_ms = 10.0 * frames;
        }

    if (buffer) {
        std::vector<playout_packet> playout;
        playout.reserve(packets.size());
        for (const rtp_packet& p : packets)
            playout.push_back(
                {p.arrival_ns, p.timestamp, p.marker, std::max(1, p.audio ? payload_frames(p.payload) : 1), p.sequence});
        playout_result r = play_out(playout, *buffer, kMaxFollowedStepTicks);
        // Either way the phone did not play it: its audio is concealed.
        for (std::size_t i = 0; i < packets.size(); ++i) packets[i].late = r.late[i] || r.discarded[i];
        for (const resync_point& c : r.resyncs) packets[c.packet].resync_frames = c.frames;
        for (std::size_t i = 0; i < rows; ++i) {
            table->rows[i].late = r.late[i];
            table->rows[i].discarded = r.discarded[i];
        }
        n.buffered = true;
        n.buffer = *buffer;
        n.playout = std::move(r);
        // The packets carry their marks now.
        std::vector<bool>().swap(n.playout.late);
        std::vector<bool>().swap(n.playout.discarded);
    }
    return n;
}

void finish_network(stream_network& n, const rebuilt_stream& stream, uint32_t ssrc,
                    const std::vector<const rtcp_report*>& from_sender, const std::vector<const rtcp_report*>& from_receiver,
                    std::size_t& budget, const std::optional<double>& one_way_delay_ms) {
    const stream_stats& st = stream.stats;
    const std::size_t received = st.packets - st.duplicates - st.stale;
    const std::size_t expected = received + st.lost_packets;
    const std::size_t dropped = st.lost_packets + st.late_packets;
    n.loss_percent = expected > 0 ? 100.0 * double(dropped) / double(expected) : 0.0;

    // Runs of lost or late frames on the timeline, in packets.
    std::size_t runs = 0;
    bool in_run = false;
    for (const timeline_entry& e : stream.timeline) {
        const bool lost = e.kind == slot_kind::lost || e.kind == slot_kind::late;
        if (lost && !in_run) ++runs;
        in_run = lost;
    }
    n.mean_loss_burst = runs > 0 ? double(dropped) / double(runs) : 0.0;

    for (const rtcp_report* r : from_sender) {
        if (!r->sender_report || r->reporter != ssrc) continue;
        if (n.sender_reports.size() < kMaxRtcpReportsPerStream && budget > 0) {
            n.sender_reports.push_back(r);
            --budget;
        } else {
            ++n.rtcp_not_listed;
        }
    }
    for (const rtcp_report* r : from_receiver) {
        // A receiver reports once on each source; a report that names the
        // stream again and again shows its first block only.
        const rtcp_report_block* first = nullptr;
        for (const rtcp_report_block& b : r->blocks) {
            if (b.source != ssrc) continue;
            if (first) {
                ++n.rtcp_blocks_not_shown;
                continue;
            }
            first = &b;
        }
        if (!first) continue;
        if (n.receiver_reports.size() < kMaxRtcpReportsPerStream && budget > 0) {
            n.receiver_reports.push_back({r, first});
            --budget;
        } else {
            ++n.rtcp_not_listed;
        }
    }

    // The network's one-way delay: half the round trip the RTCP reports
    // measured, when they measured one (the mean over those listed).
    double rtt_sum = 0.0;
    std::size_t rtts = 0;
    for (const auto& [r, b] : n.receiver_reports)
        if (b->rtt_known) {
            rtt_sum += b->rtt_ms;
            ++rtts;
        }
    n.network_delay_known = rtts > 0;
    n.network_delay_ms = rtts > 0 ? rtt_sum / double(rtts) / 2.0 : 0.0;
    // Mouth to ear as far as the capture shows it: a packet's audio, the
    // encoder's look-ahead and frame, the network when RTCP measured it,
    // and the jitter buffer.
    n.one_way_delay_ms = n.packetization_ms + kCodingDelayMs + n.network_delay_ms + (n.buffered ? n.playout.mean_delay_ms : 0.0);
    // Unless the user knows it better: measured end to end, or the delay of
    // a network the capture saw only one side of.
    n.one_way_delay_given = one_way_delay_ms.has_value();
    if (one_way_delay_ms) n.one_way_delay_ms = *one_way_delay_ms;
    n.quality = estimate_quality({n.one_way_delay_ms, n.loss_percent, burst_ratio(n.loss_percent / 100.0, n.mean_loss_burst)});
}

std::string buffer_name(const jitter_buffer_setting& b) { return b.adaptive ? std::string("adaptive") : format("%.0f ms", b.delay_ms); }

std::string network_text(const stream_network& n, const std::string& indent,
                         const std::function<std::string(int64_t)>& time_text) {
    const arrival_analysis& a = n.arrivals;
    std::string t;
    t += indent + "RFC 3550:      expected " + std::to_string(a.expected) + ", received " + std::to_string(a.received) +
         ", cumulative lost " + std::to_string(cumulative_lost(a)) + "\n";
    t += indent + "max delta:     " + format("%.2f ms", a.max_delta_ms) +
         (a.max_delta_at_ns ? " (before the packet at " + time_text(a.max_delta_at_ns) + ")" : "") + "\n";
    t += indent + "jitter:        " + format("mean %.2f ms", a.mean_jitter_ms) + format(", max %.2f ms", a.max_jitter_ms) + "\n";
    const std::string skew_fit = format("%+.1f ppm", a.skew_fit_ppm) + format(" \u00b1 %.1f", a.skew_stderr_ppm);
    t += indent + "clock skew:    " +
         (a.skew_known          ? skew_fit
          : a.skew_beyond_range ? std::string("n/a (the timestamps follow no 8 kHz clock)")
          : a.skew_too_short    ? std::string("n/a (under three seconds to fit)")
                                : "n/a (" + skew_fit + ": the uncertainty is larger than the value)") +
         "\n";
    t += indent + "marker bits:   " + std::to_string(a.markers) + "\n";
    std::string types;
    for (const auto& [pt, count] : a.payload_types) types += (types.empty() ? "" : ", ") + std::to_string(pt) + " (" + std::to_string(count) + ")";
    t += indent + "payload types: " + types + "\n";
    std::string sizes;
    for (const auto& [frames, count] : a.frames_per_packet)
        sizes += (sizes.empty() ? "" : ", ") + std::to_string(frames * 10) + " ms (" + std::to_string(count) + ")";
    t += indent + "packetization: " + (sizes.empty() ? "none" : sizes) + "\n";
    for (const timestamp_jump& j : n.arrivals.jumps)
        t += indent + "timestamp jump: " + format("%.2f s", j.claimed_s) + " claimed, " + format("%.2f s", j.seen_s) +
             " seen, not believed (packet " + std::to_string(j.packet) + ", " + time_text(j.arrival_ns) + ")\n";
    if (n.buffered) {
        t += indent + "jitter buffer: " + buffer_name(n.buffer) + ", " +
             std::to_string(n.playout.late_packets) + (n.playout.late_packets == 1 ? " late packet" : " late packets") + " dropped, " +
             std::to_string(n.playout.discarded_packets) + (n.playout.discarded_packets == 1 ? " early packet" : " early packets") +
             " discarded (buffer full), delay " + format("mean %.1f ms", n.playout.mean_delay_ms) +
             format(", max %.1f ms", n.playout.max_delay_ms) +
             (n.buffer.adaptive ? ", " + std::to_string(n.playout.delay_changes) + " changes" : std::string()) + "\n";
    }
    t += indent + "loss:          " + format("%.2f%%", n.loss_percent) + (n.buffered ? " (lost and late)" : "") +
         format(", mean burst %.2f packets", n.mean_loss_burst) + "\n";
    t += indent + "quality:       " + format("R %.1f", n.quality.r) + format(", MOS %.2f", n.quality.mos) + " (E-model estimate: " +
         (n.buffered ? "loss with the buffer's late and discarded packets" : "network loss only, no jitter buffer modelled") +
         format("; one-way delay %.1f ms", n.one_way_delay_ms) + one_way_delay_parts(n) + ")\n";
    for (const rtcp_report* r : n.sender_reports)
        t += indent + "RTCP SR:       " + time_text(r->arrival_ns) + ": " + std::to_string(r->packets_sent) + " packets, " +
             std::to_string(r->octets_sent) + " octets sent\n";
    for (const auto& [r, b] : n.receiver_reports) {
        t += indent + "RTCP RR:       " + time_text(r->arrival_ns) + " from " + ssrc_text(r->reporter) + ": " +
             format("fraction lost %.1f%%", 100.0 * b->fraction_lost) + ", cumulative lost " + std::to_string(b->cumulative_lost) +
             format(", jitter %.2f ms", double(b->jitter_ticks) / 8.0) +
             (b->rtt_known ? format(", round trip %.1f ms", b->rtt_ms) : std::string(", round trip n/a")) + "\n";
    }
    if (n.rtcp_not_listed > 0)
        t += indent + "RTCP:          " + std::to_string(n.rtcp_not_listed) + (n.rtcp_not_listed == 1 ? " more report" : " more reports") +
             " about the stream not listed (the limit is " + std::to_string(kMaxRtcpReportsPerStream) +
             " sender and receiver reports a stream)\n";
    if (n.rtcp_blocks_not_shown > 0)
        t += indent + "RTCP:          " + std::to_string(n.rtcp_blocks_not_shown) +
             (n.rtcp_blocks_not_shown == 1 ? " more block" : " more blocks") +
             " about the stream in the same reports not shown (one a report)\n";
    return t;
}

std::string network_json(const stream_network& n) {
    const arrival_analysis& a = n.arrivals;
    std::string j;
    j += ", \"expected_packets\": " + std::to_string(a.expected) + ", \"received_packets\": " + std::to_string(a.received) +
         ", \"cumulative_lost\": " + std::to_string(cumulative_lost(a));
    j += ", \"max_delta_ms\": " + json_number(a.max_delta_ms);
    j += ", \"max_delta_at\": " + json_number(double(a.max_delta_at_ns) / 1e9, "%.6f");
    j += ", \"jitter_mean_ms\": " + json_number(a.mean_jitter_ms);
    j += ", \"jitter_max_ms\": " + json_number(a.max_jitter_ms);
    j += ", \"skew_ppm\": " + (a.skew_known ? json_number(a.skew_ppm, "%.2f") : std::string("null"));
    j += ", \"skew_ppm_stderr\": " +
         (a.skew_too_short || a.skew_beyond_range ? std::string("null") : json_number(a.skew_stderr_ppm, "%.2f"));
    j += ", \"marker_bits\": " + std::to_string(a.markers);
    j += ", \"payload_types\": {";
    bool first = true;
    for (const auto& [pt, count] : a.payload_types) {
        j += std::string(first ? "" : ", ") + "\"" + std::to_string(pt) + "\": " + std::to_string(count);
        first = false;
    }
    j += "}, \"packetization_ms\": {";
    first = true;
    for (const auto& [frames, count] : a.frames_per_packet) {
        j += std::string(first ? "" : ", ") + "\"" + std::to_string(frames * 10) + "\": " + std::to_string(count);
        first = false;
    }
    j += "}, \"timestamp_jumps\": [";
    for (std::size_t i = 0; i < n.arrivals.jumps.size(); ++i)
        j += std::string(i ? ", " : "") + "{\"packet\": " + std::to_string(n.arrivals.jumps[i].packet) + ", \"time\": " +
             json_number(double(n.arrivals.jumps[i].arrival_ns) / 1e9, "%.6f") + ", \"claimed_s\": " + json_number(n.arrivals.jumps[i].claimed_s) +
             ", \"seen_s\": " + json_number(n.arrivals.jumps[i].seen_s) + "}";
    j += "]";
    if (n.buffered) {
        j += ", \"jitter_buffer\": {\"kind\": " + std::string(n.buffer.adaptive ? "\"adaptive\"" : "\"fixed\"") +
             ", \"delay_ms\": " + json_number(n.buffer.delay_ms) + ", \"late_packets\": " + std::to_string(n.playout.late_packets) +
             ", \"discarded_packets\": " + std::to_string(n.playout.discarded_packets) +
             ", \"mean_delay_ms\": " + json_number(n.playout.mean_delay_ms) + ", \"max_delay_ms\": " + json_number(n.playout.max_delay_ms) +
             ", \"delay_changes\": " + std::to_string(n.playout.delay_changes) + ", \"delay_over_time\": [";
        for (std::size_t i = 0; i < n.playout.delay_series.size(); ++i)
            j += std::string(i ? ", " : "") + "[" + json_number(double(n.playout.delay_series[i].arrival_ns) / 1e9, "%.6f") + ", " +
                 json_number(n.playout.delay_series[i].delay_ms, "%.1f") + "]";
        j += "], \"delay_points_not_listed\": " + std::to_string(n.playout.delay_points_not_listed) + "}";
    }
    j += ", \"loss_percent\": " + json_number(n.loss_percent);
    j += ", \"mean_loss_burst\": " + json_number(n.mean_loss_burst);
    j += ", \"r_factor\": " + json_number(n.quality.r, "%.2f") + ", \"mos\": " + json_number(n.quality.mos, "%.3f");
    j += ", \"one_way_delay_ms\": " + json_number(n.one_way_delay_ms, "%.1f") +
         ", \"one_way_delay_source\": " +
         (n.one_way_delay_given ? "\"given\"" : n.network_delay_known ? "\"rtcp\"" : "\"without network\"") +
         ", \"network_delay_ms\": " + (n.network_delay_known ? json_number(n.network_delay_ms, "%.1f") : std::string("null")) +
         ", \"quality_loss\": " + (n.buffered ? "\"network and buffer\"" : "\"network only\"");
    j += ", \"rtcp_sender_reports\": [";
    for (std::size_t i = 0; i < n.sender_reports.size(); ++i)
        j += std::string(i ? ", " : "") + "{\"time\": " + json_number(double(n.sender_reports[i]->arrival_ns) / 1e9, "%.6f") +
             ", \"packets\": " + std::to_string(n.sender_reports[i]->packets_sent) + ", \"octets\": " +
             std::to_string(n.sender_reports[i]->octets_sent) + "}";
    j += "], \"rtcp_receiver_reports\": [";
    for (std::size_t i = 0; i < n.receiver_reports.size(); ++i) {
        const auto& [r, b] = n.receiver_reports[i];
        j += std::string(i ? ", " : "") + "{\"time\": " + json_number(double(r->arrival_ns) / 1e9, "%.6f") + ", \"reporter\": \"" +
             ssrc_text(r->reporter) + "\", \"fraction_lost\": " + json_number(b->fraction_lost, "%.4f") + ", \"cumulative_lost\": " +
             std::to_string(b->cumulative_lost) + ", \"jitter_ms\": " + json_number(double(b->jitter_ticks) / 8.0) +
             ", \"rtt_ms\": " + (b->rtt_known ? json_number(b->rtt_ms) : std::string("null")) + "}";
    }
    j += "], \"rtcp_reports_not_listed\": " + std::to_string(n.rtcp_not_listed);
    j += ", \"rtcp_blocks_not_shown\": " + std::to_string(n.rtcp_blocks_not_shown);
    return j;
}

} // namespace g729::tool

// g729a info CAPTURE: the streams of a capture and their figures, as text
// or one JSON object.
#include "tools/capture/capture_commands.h"

#include <cstdio>
#include <cstdlib>

#include "tools/capture/call.h"
#include "tools/capture/capture_input.h"
#include "tools/common/json.h"
#include "tools/common/progress.h"
#include "tools/common/text.h"
#include "tools/common/tool_error.h"

namespace g729::tool {

namespace {

// Seconds since the epoch to the microsecond, from the integer count (a
// double would blur the last digits).
std::string seconds(int64_t ns) {
    const int64_t micros = ns / 1000;
    char text[40];
    std::snprintf(text, sizeof text, "%s%lld.%06lld", micros < 0 ? "-" : "", static_cast<long long>(std::llabs(micros) / 1000000),
                  static_cast<long long>(std::llabs(micros) % 1000000));
    return text;
}


std::string rtcp_not_read_text(const capture_contents& c) {
    return plural(c.rtcp_packets_not_read, "packet", "packets") + " after the first " + std::to_string(kMaxRtcpReports) +
           " reports not read (the limit of reports kept from one capture)";
}

void print_info_text(const std::string& path, const capture_contents& c) {
    std::printf("file:          %s\n", path.c_str());
    std::printf("format:        %s, %s\n", c.format.c_str(), c.link.c_str());
    std::printf("packets:       %zu\n", c.packets);
    std::printf("G.729 streams: %zu\n", c.streams.size());
    const std::string skipped = skipped_text(c.skipped);
    std::printf("skipped:       %s\n", skipped.empty() ? "none" : (std::to_string(c.skipped.total()) + " (" + skipped + ")").c_str());
    std::printf("other traffic: %s\n", plural(c.other_traffic, "packet", "packets").c_str());
    if (!c.problem.empty()) std::printf("malformed:     %s\n", cut_short_text(c).c_str());
    if (c.rtcp_packets_not_read > 0) std::printf("RTCP:          %s\n", rtcp_not_read_text(c).c_str());
    for (std::size_t i = 0; i < c.streams.size(); ++i) {
        const g729_stream& s = c.streams[i];
        const stream_stats& st = s.rebuilt.stats;
        std::printf("\nstream %zu:\n", i + 1);
        std::printf("  SSRC:          %s\n", hex_ssrc(s.key.ssrc).c_str());
        std::printf("  source:        %s\n", s.key.source.text().c_str());
        std::printf("  destination:   %s\n", s.key.destination.text().c_str());
        std::printf("  payload type:  %d%s\n", s.payload_type,
                    s.payload_type == kG729PayloadType ? "" : (std::string(" (G.729 by ") + s.payload_source + ")").c_str());
        std::printf("  packets:       %zu\n", st.packets);
        std::printf("  frames:        %zu (%zu speech, %zu SID)\n", st.speech_frames + st.sid_frames, st.speech_frames,
                    st.sid_frames);
        std::printf("  lost:          %s (%s)\n", plural(st.lost_packets, "packet", "packets").c_str(),
                    plural(st.lost_frames, "frame", "frames").c_str());
        std::printf("  duplicated:    %zu\n", st.duplicates);
        std::printf("  reordered:     %zu\n", st.reordered);
        std::printf("  stale:         %zu (dropped: far from the sequence, not a restart)\n", st.stale);
        std::printf("  restarts:      %zu\n", st.restarts);
        std::printf("  DTX gaps:      %zu (%s)\n", st.dtx_gaps, plural(st.dtx_frames, "frame", "frames").c_str());
        if (st.unusable + st.other_payload > 0)
            std::printf("  unused:        %zu without a whole frame, %zu other payload types (%s)\n", st.unusable, st.other_payload,
                        plural(st.skipped_frames, "frame", "frames").c_str());
        if (st.remainders > 0)
            std::printf("  remainders:    %s with bytes after the whole frames (first: packet %llu; those bytes left out)\n",
                        plural(st.remainders, "packet", "packets").c_str(), static_cast<unsigned long long>(st.first_remainder_packet));
        if (!s.rebuilt.shortened.empty())
            std::printf("  shortened:     %s\n", shortened_text(s.rebuilt).c_str());
        std::printf("  first packet:  %s\n", capture_time(st.first_arrival_ns).c_str());
        std::printf("  last packet:   %s\n", capture_time(st.last_arrival_ns).c_str());
        std::printf("  duration:      %.2f s\n", duration_s(st));
        if (st.late_packets > 0) std::printf("  late:          %s (%s concealed)\n", plural(st.late_packets, "packet", "packets").c_str(),
                                             plural(st.late_frames, "frame", "frames").c_str());
        std::fputs(network_text(s.network, "  ", capture_time).c_str(), stdout);
        std::fputs(events_text(s.events, st.first_arrival_ns, "  ").c_str(), stdout);
        for (std::size_t k = 0; k < i; ++k)
            if (c.streams[k].key.source == s.key.source && c.streams[k].key.destination == s.key.destination)
                std::printf("  SSRC change:   from %s at %s\n", hex_ssrc(c.streams[k].key.ssrc).c_str(),
                            capture_time(st.first_arrival_ns).c_str());
    }
    if (!c.others.empty()) {
        std::printf("\nother RTP streams (not read as G.729):\n");
        for (const other_stream& o : c.others)
            std::printf("  %s %s -> %s, payload type %d, %s\n", hex_ssrc(o.key.ssrc).c_str(), o.key.source.text().c_str(),
                        o.key.destination.text().c_str(), o.payload_type, plural(o.packets, "packet", "packets").c_str());
    }
}

void print_info_json(const std::string& path, const capture_contents& c) {
    std::string j = "{\n";
    j += "  \"file\": " + json_string(path) + ",\n";
    j += "  \"format\": " + json_string(c.format) + ",\n";
    j += "  \"link_type\": " + json_string(c.link) + ",\n";
    j += "  \"packets\": " + std::to_string(c.packets) + ",\n";
    j += "  \"skipped\": {\"truncated\": " + std::to_string(c.skipped.truncated) +
         ", \"ip_fragments\": " + std::to_string(c.skipped.fragments) +
         ", \"wrong_version\": " + std::to_string(c.skipped.wrong_version) +
         ", \"other_payload_types\": " + std::to_string(c.skipped.other_payload) +
         ", \"unusable_payloads\": " + std::to_string(c.skipped.unusable) +
         ", \"time_out_of_range\": " + std::to_string(c.skipped.bad_time) + "},\n";
    j += "  \"other_traffic\": " + std::to_string(c.other_traffic) + ",\n";
    j += "  \"malformed\": " + (c.problem.empty() ? std::string("null") : json_string(cut_short_text(c))) + ",\n";
    j += "  \"rtcp_packets_not_read\": " + std::to_string(c.rtcp_packets_not_read) + ",\n";
    j += "  \"streams\": [";
    for (std::size_t i = 0; i < c.streams.size(); ++i) {
        const g729_stream& s = c.streams[i];
        const stream_stats& st = s.rebuilt.stats;
        char duration[32];
        std::snprintf(duration, sizeof duration, "%.2f", duration_s(st));
        j += std::string(i ? "," : "") + "\n    {";
        j += "\"ssrc\": " + json_string(hex_ssrc(s.key.ssrc));
        j += ", \"source\": " + json_string(s.key.source.text());
        j += ", \"destination\": " + json_string(s.key.destination.text());
        j += ", \"payload_type\": " + std::to_string(s.payload_type);
        j += ", \"packets\": " + std::to_string(st.packets);
        j += ", \"frames\": " + std::to_string(st.speech_frames + st.sid_frames);
        j += ", \"speech_frames\": " + std::to_string(st.speech_frames);
        j += ", \"sid_frames\": " + std::to_string(st.sid_frames);
        j += ", \"lost_packets\": " + std::to_string(st.lost_packets);
        j += ", \"lost_frames\": " + std::to_string(st.lost_frames);
        j += ", \"duplicated\": " + std::to_string(st.duplicates);
        j += ", \"reordered\": " + std::to_string(st.reordered);
        j += ", \"stale\": " + std::to_string(st.stale);
        j += ", \"restarts\": " + std::to_string(st.restarts);
        j += ", \"remainder_packets\": " + std::to_string(st.remainders);
        j += ", \"shortened_gaps\": " + std::to_string(s.rebuilt.shortened.size());
        j += ", \"frames_left_out\": " + std::to_string(left_out_frames(s.rebuilt));
        j += ", \"dtx_gaps\": " + std::to_string(st.dtx_gaps);
        j += ", \"dtx_frames\": " + std::to_string(st.dtx_frames);
        j += ", \"unusable_packets\": " + std::to_string(st.unusable);
        j += ", \"other_payload_packets\": " + std::to_string(st.other_payload);
        j += ", \"timeline_frames\": " + std::to_string(st.frames);
        j += ", \"first_time\": " + seconds(st.first_arrival_ns);
        j += ", \"last_time\": " + seconds(st.last_arrival_ns);
        j += ", \"first_time_utc\": " + json_string(capture_time(st.first_arrival_ns));
        j += ", \"last_time_utc\": " + json_string(capture_time(st.last_arrival_ns));
        j += ", \"late_packets\": " + std::to_string(st.late_packets);
        j += ", \"late_frames\": " + std::to_string(st.late_frames);
        j += network_json(s.network);
        j += events_json(s.events, st.first_arrival_ns);
        std::string changes;
        for (std::size_t k = 0; k < i; ++k)
            if (c.streams[k].key.source == s.key.source && c.streams[k].key.destination == s.key.destination)
                changes += (changes.empty() ? "" : ", ") + json_string(hex_ssrc(c.streams[k].key.ssrc));
        j += ", \"ssrc_change_from\": [" + changes + "]";
        j += ", \"duration\": " + std::string(duration) + "}";
    }
    j += c.streams.empty() ? "],\n" : "\n  ],\n";
    j += "  \"other_rtp_streams\": [";
    for (std::size_t i = 0; i < c.others.size(); ++i) {
        const other_stream& o = c.others[i];
        j += std::string(i ? ", " : "") + "{\"ssrc\": " + json_string(hex_ssrc(o.key.ssrc)) +
             ", \"source\": " + json_string(o.key.source.text()) + ", \"destination\": " + json_string(o.key.destination.text()) +
             ", \"payload_type\": " + std::to_string(o.payload_type) + ", \"packets\": " + std::to_string(o.packets) + "}";
    }
    j += "]\n}\n";
    std::fputs(j.c_str(), stdout);
}

int capture_info(const capture_source& in, const command_options& options) {
    const std::string& path = in.name;
    reporter report(options.quiet, "info");
    const capture_contents c = read_capture(in, options);
    check_readable(path, c);
    if (options.json)
        print_info_json(path, c);
    else
        print_info_text(path, c);
    std::fflush(stdout);
    if (c.streams.empty()) throw tool_error(path, no_g729_text(c));
    if (!c.problem.empty()) throw tool_error(path, cut_short_text(c));
    std::size_t frames = 0;
    for (const g729_stream& s : c.streams) frames += s.rebuilt.stats.frames;
    report.summary(frames);
    return 0;
}

} // namespace

int info_capture(const std::vector<std::string>& operands, const command_options& options) {
    if (operands.size() != 1) throw usage_error("info takes one file, IN; got " + std::to_string(operands.size()));
    return with_capture(operands[0], "info", [&](const capture_source& in) { return capture_info(in, options); });
}

} // namespace g729::tool

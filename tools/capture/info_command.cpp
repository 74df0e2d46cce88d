// g729a info CAPTURE: the streams of a capture and their figures, as text
// or one JSON object.
#include "tools/capture/capture_commands.h"

#include <cstdio>
#include <cstdlib>
#include <optional>

#include "tools/capture/call.h"
#include "tools/capture/capture_input.h"
#include "tools/capture/tcp_stream.h"
#include "tools/common/json.h"
#include "tools/common/progress.h"
#include "tools/common/text.h"
#include "tools/common/tool_error.h"

namespace g729::tool {

namespace {


std::string rtcp_not_read_text(const capture_contents& c) {
    return plural(c.rtcp_packets_not_read, "packet", "packets") + " after the first " + std::to_string(kMaxRtcpReports) +
           " reports not read (the limit of reports kept from one capture)";
}

// One stream's block, numbered among all the capture's streams.
void print_stream(const capture_contents& c, std::size_t i) {
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

std::string ms_text(const std::optional<double>& ms) { return ms ? format_text("%.1f ms", *ms) : "not seen"; }

std::string media_list(const std::vector<sdp_media>& media) {
    std::string text;
    for (const sdp_media& m : media) text += (text.empty() ? "" : "; ") + printable_text(sdp_media_text(m));
    return text.empty() ? "none" : text;
}

// What SIP came to beside the calls, when any of it was not used.
std::string sip_unused_text(const sip_counts& s) {
    std::string text;
    auto add = [&](std::size_t n, const std::string& what) {
        if (n > 0) text += (text.empty() ? "" : ", ") + std::to_string(n) + " " + what;
    };
    add(s.outside_calls, "outside the calls listed (no INVITE in the capture begins them, or their call is not listed)");
    add(s.unreadable, "unreadable");
    add(s.without_call_id, "without a Call-ID");
    add(s.partial, "over TCP not read whole (a segment missing, cut by the connection's end or the capture's, or longer than " +
                       std::to_string(kMaxTcpHeld / 1024) + " KB)");
    add(s.tcp_flows_dropped, "TCP connection directions dropped for newer ones (" + std::to_string(kMaxTcpFlows) + " followed at once)");
    add(s.bad_time, "with a capture time out of range");
    add(s.calls_not_listed, "INVITEs of calls beyond the first " + std::to_string(kMaxCalls) + " (not listed)");
    add(s.messages_not_listed, "messages of listed calls beyond the " + std::to_string(kMaxCallMessages) + " a call and " +
                                   std::to_string(kMaxSipMessagesKept) + " a capture kept (counted in their figures)");
    return text;
}

void print_call(const capture_contents& c, std::size_t k) {
    const sip_call& call = c.calls[k];
    std::printf("\ncall %zu:\n", k + 1);
    std::printf("  Call-ID:         %s\n", printable_text(call.call_id).c_str());
    std::printf("  caller:          %s\n", printable_text(call.caller).c_str());
    std::printf("  callee:          %s\n", printable_text(call.callee).c_str());
    std::printf("  start:           %s\n", capture_time(call.start_ns).c_str());
    std::printf("  post-dial delay: %s\n", ms_text(call.post_dial_delay_ms).c_str());
    std::printf("  setup time:      %s\n", ms_text(call.setup_ms).c_str());
    std::printf("  duration:        %s\n", call.duration_s ? format_text("%.2f s", *call.duration_s).c_str() : "not seen");
    std::printf("  end:             %s%s\n", printable_text(call.end).c_str(), call.failed ? " (failed)" : "");
    std::printf("  offer:           %s\n", media_list(call.offer).c_str());
    std::printf("  answer:          %s\n", media_list(call.answer).c_str());
    std::printf("  SIP messages:    %zu%s\n", call.messages.size() + call.messages_not_listed,
                call.messages_not_listed ? (" (" + std::to_string(call.messages_not_listed) + " not listed)").c_str() : "");
    std::printf("  streams:         %s\n", call.streams.empty() ? "none" : std::to_string(call.streams.size()).c_str());
    for (std::size_t i : call.streams) print_stream(c, i);
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
    if (c.sip.messages + c.sip.unreadable + c.sip.partial + c.sip.bad_time > 0) {
        std::printf("SIP:           %s, %s\n", plural(c.sip.messages, "message", "messages").c_str(),
                    plural(c.calls.size(), "call", "calls").c_str());
        const std::string unused = sip_unused_text(c.sip);
        if (!unused.empty()) std::printf("SIP not used:  %s\n", unused.c_str());
    }
    std::vector<bool> in_call(c.streams.size(), false);
    for (std::size_t k = 0; k < c.calls.size(); ++k) {
        print_call(c, k);
        for (std::size_t i : c.calls[k].streams) in_call[i] = true;
    }
    bool header = false;
    for (std::size_t i = 0; i < c.streams.size(); ++i) {
        if (in_call[i]) continue;
        if (!c.calls.empty() && !header) std::printf("\nstreams without a call:\n");
        header = true;
        print_stream(c, i);
    }
    if (!c.others.empty()) {
        std::printf("\nother RTP streams (not read as G.729):\n");
        for (const other_stream& o : c.others)
            std::printf("  %s %s -> %s, payload type %d, %s\n", hex_ssrc(o.key.ssrc).c_str(), o.key.source.text().c_str(),
                        o.key.destination.text().c_str(), o.payload_type, plural(o.packets, "packet", "packets").c_str());
    }
}

} // namespace

std::string stream_json(const capture_contents& c, std::size_t i) {
    const g729_stream& s = c.streams[i];
    const stream_stats& st = s.rebuilt.stats;
    char duration[32];
    std::snprintf(duration, sizeof duration, "%.2f", duration_s(st));
    std::string j = "{\"ssrc\": " + json_string(hex_ssrc(s.key.ssrc));
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
    j += ", \"first_time\": " + epoch_seconds(st.first_arrival_ns);
    j += ", \"last_time\": " + epoch_seconds(st.last_arrival_ns);
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
    return j + ", \"duration\": " + std::string(duration) + "}";
}

namespace {

std::string json_ms(const std::optional<double>& v, const char* format) { return v ? format_text(format, *v) : "null"; }

std::string media_json(const std::vector<sdp_media>& media) {
    std::string j = "[";
    for (std::size_t i = 0; i < media.size(); ++i) {
        const sdp_media& m = media[i];
        std::string codecs;
        for (const std::string& codec : m.codecs) codecs += (codecs.empty() ? "" : ", ") + json_string(codec);
        j += std::string(i ? ", " : "") + "{\"media\": " + json_string(m.media) +
             ", \"address\": " + (m.has_address ? json_string(m.receiver.address_text()) : "null") +
             ", \"port\": " + std::to_string(m.receiver.port) + ", \"codecs\": [" + codecs + "]" +
             ", \"ptime\": " + (m.ptime > 0 ? std::to_string(m.ptime) : "null") + ", \"direction\": " + json_string(m.direction) +
             ", \"rtcp\": " +
             (m.has_rtcp ? "{\"address\": " + json_string(m.rtcp.address_text()) + ", \"port\": " + std::to_string(m.rtcp.port) + "}"
                         : "null") +
             "}";
    }
    return j + "]";
}

std::string calls_json(const capture_contents& c) {
    const sip_counts& s = c.sip;
    std::string j = "  \"sip\": {\"messages\": " + std::to_string(s.messages) + ", \"unreadable\": " + std::to_string(s.unreadable) +
                    ", \"without_call_id\": " + std::to_string(s.without_call_id) +
                    ", \"outside_calls\": " + std::to_string(s.outside_calls) + ", \"partial_tcp_messages\": " + std::to_string(s.partial) +
                    ", \"tcp_flows_dropped\": " + std::to_string(s.tcp_flows_dropped) +
                    ", \"time_out_of_range\": " + std::to_string(s.bad_time) +
                    ", \"calls_not_listed\": " + std::to_string(s.calls_not_listed) +
                    ", \"messages_not_listed\": " + std::to_string(s.messages_not_listed) + "},\n";
    j += "  \"calls\": [";
    for (std::size_t k = 0; k < c.calls.size(); ++k) {
        const sip_call& call = c.calls[k];
        j += std::string(k ? "," : "") + "\n    {";
        j += "\"call_id\": " + json_string(call.call_id);
        j += ", \"caller\": " + json_string(call.caller);
        j += ", \"callee\": " + json_string(call.callee);
        j += ", \"start_time\": " + epoch_seconds(call.start_ns);
        j += ", \"start_time_utc\": " + json_string(capture_time(call.start_ns));
        j += ", \"post_dial_delay_ms\": " + json_ms(call.post_dial_delay_ms, "%.3f");
        j += ", \"setup_ms\": " + json_ms(call.setup_ms, "%.3f");
        j += ", \"duration_s\": " + json_ms(call.duration_s, "%.6f");
        j += ", \"end\": " + json_string(call.end);
        j += std::string(", \"failed\": ") + (call.failed ? "true" : "false");
        j += ", \"offer\": " + media_json(call.offer);
        j += ", \"answer\": " + media_json(call.answer);
        std::string streams;
        for (std::size_t i : call.streams) streams += (streams.empty() ? "" : ", ") + std::to_string(i);
        j += ", \"streams\": [" + streams + "]";
        j += ", \"messages_not_listed\": " + std::to_string(call.messages_not_listed);
        j += ", \"messages\": [";
        for (std::size_t m = 0; m < call.messages.size(); ++m) {
            const sip_event& e = call.messages[m];
            j += std::string(m ? ", " : "") + "{\"packet\": " + std::to_string(e.number) + ", \"time\": " + epoch_seconds(e.time_ns) +
                 ", \"source\": " + json_string(e.source.text()) + ", \"destination\": " + json_string(e.destination.text()) +
                 ", \"request\": " + (e.request ? "true" : "false") + ", \"method\": " + json_string(e.method) +
                 ", \"status\": " + (e.request ? "null" : std::to_string(e.status)) +
                 ", \"reason\": " + (e.request ? "null" : json_string(e.reason)) +
                 ", \"from_caller\": " + (e.from_caller ? "true" : "false") + ", \"sdp\": " + (e.has_sdp ? "true" : "false") + "}";
        }
        j += "]}";
    }
    j += c.calls.empty() ? "],\n" : "\n  ],\n";
    return j;
}

// Each stream's packets as CSV, a block a stream named in a comment line
// above it.
void print_packet_tables(const capture_contents& c) {
    for (std::size_t i = 0; i < c.streams.size(); ++i) {
        const g729_stream& s = c.streams[i];
        std::printf("%s# stream %zu: %s\n", i ? "\n" : "", i + 1, stream_label(s).c_str());
        write_packet_table_csv(s.packets, stdout);
        if (s.packets.not_listed > 0)
            std::printf("# %s more not listed (the limit is %zu rows a stream)\n",
                        plural(s.packets.not_listed, "packet", "packets").c_str(), kMaxPacketRows);
    }
}

void print_info_json(const std::string& path, const capture_contents& c, bool packet_table) {
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
        j += std::string(i ? "," : "") + "\n    " + stream_json(c, i);
        if (packet_table) {
            // Written as it is made: a table may run to a hundred MB.
            j.pop_back(); // the object's closing brace, put back after the table
            j += ", \"packet_table\": ";
            std::fputs(j.c_str(), stdout);
            write_packet_table_json(c.streams[i].packets, stdout);
            j = ", \"packet_rows_not_listed\": " + std::to_string(c.streams[i].packets.not_listed) + "}";
        }
    }
    j += c.streams.empty() ? "],\n" : "\n  ],\n";
    j += calls_json(c);
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
        print_info_json(path, c, options.packet_table);
    else if (options.packet_table)
        print_packet_tables(c);
    else
        print_info_text(path, c);
    std::fflush(stdout);
    // A capture of calls that failed before any media is described, not refused.
    if (c.streams.empty() && c.calls.empty()) throw tool_error(path, no_g729_text(c));
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

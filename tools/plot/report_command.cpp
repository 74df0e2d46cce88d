#include "tools/plot/report_command.h"

#include <cmath>
#include <cstdio>
#include <map>

#include "tools/capture/call.h"
#include "tools/capture/capture_input.h"
#include "tools/capture/emodel.h"
#include "tools/capture/jitter_buffer.h"
#include "tools/capture/playback.h"
#include "tools/common/json.h"
#include "tools/common/output_file.h"
#include "tools/common/text.h"
#include "tools/common/tool_error.h"
#include "tools/formats/page_audio.h"
#include "tools/plot/report_page.h"
#include "tools/plot/tracks.h"

namespace g729::tool {

namespace {

// A figure for the page's JSON: null when it is no number.
std::string number(double v, const char* format) {
    if (!std::isfinite(v)) return "null";
    char text[64];
    std::snprintf(text, sizeof text, format, v);
    return text;
}

std::string optional_number(const std::optional<double>& v, const char* format) {
    return v ? number(*v, format) : "null";
}

char mark_letter(frame_mark m) {
    switch (m) {
    case frame_mark::speech: return 's';
    case frame_mark::sid: return 'i';
    case frame_mark::untransmitted: return 'u';
    case frame_mark::lost: return 'l';
    case frame_mark::late: return 't';
    case frame_mark::concealed: return 'c';
    }
    return 's';
}

// What the timeline draws of a track: its frames, level per 20 ms.
std::string track_json(const plot_track& t) {
    std::string j = "\"marks\": \"";
    for (const frame_mark m : t.frames) j += mark_letter(m);
    j += "\", \"duration\": " + number(double(t.frames.size()) / 100.0, "%.2f") + ", \"level\": [";
    for (std::size_t i = 0; i < t.level_dbfs.size(); ++i) j += (i ? "," : "") + number(t.level_dbfs[i], "%.1f");
    return j + "]";
}

std::string format_of(const page_audio& a) { return a.mime == "audio/ogg" ? "Opus, 16 kbit/s" : "WAV, 8 kHz"; }

// One player: its audio inline, or the name of the player whose audio it
// plays.
std::string player_json(const char* key, const char* name, const page_audio& a, const char* same_as = nullptr) {
    std::string j = std::string("{\"key\": \"") + key + "\", \"name\": \"" + name + "\", \"format\": \"" + format_of(a) + "\", ";
    if (same_as) return j + "\"same_as\": \"" + same_as + "\"}";
    return j + "\"uri\": \"data:" + a.mime + ";base64," + base64(a.bytes) + "\"}";
}

std::string audio_json(const char* key, const char* name, const std::vector<int16_t>& pcm) {
    return player_json(key, name, compress_for_page(pcm.data(), pcm.size()));
}

// A stream's two players. Where the buffer changed nothing (no packet late
// or discarded, no frame dropped or repeated) the two hold the same
// samples, and the page carries them once: the second player takes the
// first one's audio.
std::string players_json(const std::vector<int16_t>& sent, const std::vector<int16_t>& heard) {
    const char* heard_name = "As heard through the jitter buffer";
    if (sent != heard) return audio_json("sent", "As sent", sent) + ", " + audio_json("heard", heard_name, heard);
    const page_audio a = compress_for_page(sent.data(), sent.size());
    return player_json("sent", "As sent", a) + ", " + player_json("heard", heard_name, a, "sent");
}

std::string status_of(const packet_row& r) {
    std::string s;
    auto add = [&](bool on, const std::string& what) {
        if (on) s += (s.empty() ? "" : "; ") + what;
    };
    add(r.lost_before > 0, std::to_string(r.lost_before) + " lost before");
    add(r.reordered, "reordered");
    add(r.duplicate, "duplicate");
    add(r.late, "late");
    add(r.discarded, "discarded");
    return s.empty() ? "ok" : s;
}

// The table travels a column at a time: one array per column keeps the
// page smaller than an array per row, and the page only ever reads a cell
// by column and row.
std::string packets_json(const g729_stream& s) {
    std::vector<std::string> column(11, "[");
    const int64_t first = s.rebuilt.stats.first_arrival_ns;
    for (std::size_t i = 0; i < s.packets.rows.size(); ++i) {
        const packet_row& r = s.packets.rows[i];
        const std::string cells[] = {std::to_string(r.number), std::to_string(r.sequence), std::to_string(r.timestamp),
                                     number(time_difference_ns(r.arrival_ns, first) / 1e9, "%.6f"), number(r.delta_ms, "%.2f"),
                                     number(r.jitter_ms, "%.2f"), number(r.skew_ms, "%.2f"), r.marker ? "true" : "false",
                                     std::to_string(r.payload_type), std::to_string(r.size), json_string(status_of(r))};
        for (std::size_t c = 0; c < column.size(); ++c) column[c] += (i ? "," : "") + cells[c];
    }
    std::string j = "{\"columns\": [\"No.\", \"Sequence\", \"Timestamp\", \"Arrival (s)\", \"Delta (ms)\", \"Jitter (ms)\", "
                    "\"Skew (ms)\", \"Marker\", \"PT\", \"Bytes\", \"Status\"], \"by_column\": [";
    for (std::size_t c = 0; c < column.size(); ++c) j += (c ? ",\n" : "\n") + column[c] + "]";
    return j + "], \"not_listed\": " + std::to_string(s.packets.not_listed) + "}";
}

std::string arrivals_json(const g729_stream& s) {
    std::string j = "[";
    bool first = true;
    for (const jitter_point& p : s.network.arrivals.series) {
        j += std::string(first ? "" : ",") + "[" + number(time_difference_ns(p.arrival_ns, s.rebuilt.stats.start_ns) / 1e9, "%.3f") +
             "," + number(p.delta_ms, "%.1f") + "," + number(p.jitter_ms, "%.2f") + "]";
        first = false;
    }
    return j + "]";
}

std::string call_json(const sip_call& call) {
    std::string j = "{\"call_id\": " + json_string(call.call_id) + ", \"caller\": " + json_string(call.caller) +
                    ", \"callee\": " + json_string(call.callee) + ", \"start_utc\": " + json_string(capture_time(call.start_ns)) +
                    ", \"post_dial_delay_ms\": " + optional_number(call.post_dial_delay_ms, "%.3f") +
                    ", \"setup_ms\": " + optional_number(call.setup_ms, "%.3f") +
                    ", \"duration_s\": " + optional_number(call.duration_s, "%.6f") + ", \"end\": " + json_string(call.end) +
                    ", \"failed\": " + (call.failed ? "true" : "false");
    std::string caller_end, callee_end;
    for (const sip_event& m : call.messages)
        if (m.request && m.from_caller && caller_end.empty()) {
            caller_end = m.source.text();
            callee_end = m.destination.text();
        }
    j += ", \"caller_end\": " + json_string(caller_end) + ", \"callee_end\": " + json_string(callee_end) + ", \"streams\": [";
    for (std::size_t i = 0; i < call.streams.size(); ++i) j += (i ? "," : "") + std::to_string(call.streams[i]);
    j += "], \"messages\": [";
    for (std::size_t i = 0; i < call.messages.size(); ++i) {
        const sip_event& m = call.messages[i];
        const std::string label = m.request ? m.method : std::to_string(m.status) + (m.reason.empty() ? "" : " " + m.reason);
        j += std::string(i ? "," : "") + "\n{\"t\": " + number(time_difference_ns(m.time_ns, call.start_ns) / 1e9, "%.6f") +
             ", \"number\": " + std::to_string(m.number) + ", \"from\": " + json_string(m.source.text()) +
             ", \"to\": " + json_string(m.destination.text()) + ", \"request\": " + (m.request ? "true" : "false") +
             ", \"label\": " + json_string(label) + ", \"sdp\": " + (m.has_sdp ? json_string(m.sdp) : "null") + "}";
    }
    return j + "], \"messages_not_listed\": " + std::to_string(call.messages_not_listed) + "}";
}

std::string limit_text(std::size_t n, const char* one, const char* many, std::size_t limit, const char* option) {
    return "holds " + plural(n, one, many) + ", more than the limit of " + std::to_string(limit) + " in one page (" + option +
           " N raises it)";
}

// The page's data for a capture: the calls, and every G.729 stream as sent
// (every packet played) and as heard through the jitter buffer.
std::string capture_data(const capture_source& in, const command_options& options, std::size_t& streams) {
    const std::string& path = in.name;
    command_options heard_options = options;
    if (!heard_options.jitter_buffer) heard_options.jitter_buffer = jitter_buffer_setting{true, kAdaptiveMinDelayMs};
    command_options sent_options = options;
    sent_options.jitter_buffer.reset();
    // A capture of calls that failed before any media still makes a page:
    // their ladders are what it has to show.
    const capture_contents heard = read_capture(in, heard_options);
    check_readable(path, heard);
    if (heard.streams.empty() && heard.calls.empty()) throw tool_error(path, no_g729_text(heard));

    // The limits that keep a crafted capture from making a page no browser
    // opens: checked before anything is decoded.
    if (heard.calls.size() > options.max_calls)
        throw tool_error(path, limit_text(heard.calls.size(), "call", "calls", options.max_calls, "--max-calls"));
    if (heard.streams.size() > options.max_streams)
        throw tool_error(path, limit_text(heard.streams.size(), "G.729 stream", "G.729 streams", options.max_streams, "--max-streams"));
    std::size_t rows = 0, frames = 0;
    std::vector<const g729_stream*> all;
    for (const g729_stream& s : heard.streams) {
        rows += s.packets.rows.size();
        frames += s.rebuilt.stats.frames + s.rebuilt.stats.heard_frames();
        all.push_back(&s);
    }
    if (rows > options.max_packets)
        throw tool_error(path, limit_text(rows, "packet to list", "packets to list", options.max_packets, "--max-packets"));
    // Two players a stream: as sent and as heard.
    if (!all.empty()) check_audio_limit(path, frames, "encode", " for the page's players", options, all);

    const capture_contents sent = read_capture(in, sent_options);
    std::map<stream_key, const g729_stream*> sent_by_key;
    for (const g729_stream& s : sent.streams) sent_by_key[s.key] = &s;

    std::vector<int> call_of(heard.streams.size(), -1);
    for (std::size_t k = 0; k < heard.calls.size(); ++k)
        for (const std::size_t i : heard.calls[k].streams)
            if (i < call_of.size() && call_of[i] < 0) call_of[i] = int(k);

    const jitter_buffer_setting& b = *heard_options.jitter_buffer;
    std::string j = "\"kind\": \"capture\", \"jitter_buffer\": " +
                    json_string(b.adaptive ? "adaptive" : "fixed " + number(b.delay_ms, "%.0f") + " ms") + ", \"notes\": [";
    std::vector<std::string> notes;
    if (!heard.problem.empty()) notes.push_back(cut_short_text(heard) + "; the page shows the packets before it");
    for (const g729_stream& s : heard.streams)
        if (s.packets.not_listed > 0)
            notes.push_back(stream_label(s) + ": " + plural(s.packets.not_listed, "packet", "packets") + " beyond the first " +
                            std::to_string(s.packets.rows.size()) + " not listed in its table");
    for (std::size_t i = 0; i < notes.size(); ++i) j += (i ? ", " : "") + json_string(notes[i]);
    j += "], \"calls\": [";
    for (std::size_t k = 0; k < heard.calls.size(); ++k) j += (k ? ",\n" : "\n") + call_json(heard.calls[k]);
    j += "], \"streams\": [";
    int64_t first_ns = heard.streams.empty() ? 0 : heard.streams.front().rebuilt.stats.start_ns;
    for (const g729_stream& s : heard.streams) first_ns = std::min(first_ns, s.rebuilt.stats.start_ns);
    for (std::size_t i = 0; i < heard.streams.size(); ++i) {
        const g729_stream& s = heard.streams[i];
        std::vector<int16_t> heard_pcm, sent_pcm;
        const plot_track t = stream_track(s, first_ns);
        // As heard: with the adaptive buffer's drops and repeats.
        heard_player heard_audio(s.rebuilt);
        int16_t block[kFrameSamples];
        while (heard_audio.next(block)) heard_pcm.insert(heard_pcm.end(), block, block + kFrameSamples);
        const auto as_sent = sent_by_key.find(s.key);
        if (as_sent != sent_by_key.end()) {
            timeline_player player(as_sent->second->rebuilt.timeline);
            while (player.next(block)) sent_pcm.insert(sent_pcm.end(), block, block + kFrameSamples);
        }
        j += std::string(i ? ",\n" : "\n") + "{\"label\": " + json_string(stream_label(s)) + ", \"call\": " + std::to_string(call_of[i]) +
             ", \"info\": " + stream_json(heard, i) + ", " + track_json(t) + ", \"arrivals\": " + arrivals_json(s) +
             ", \"packets\": " + packets_json(s) + ", \"audio\": [" + players_json(sent_pcm, heard_pcm) + "]}";
    }
    streams = heard.streams.size();
    return j + "]";
}

// The page's data for a .g729 or .bit file: one stream, decoded as it is.
// Every frame of it is in the file (10 bytes each), so its page is bounded
// by the file: about three times its size.
std::string coded_data(const std::string& in, file_format format, const command_options& options) {
    std::vector<int16_t> pcm;
    const plot_track t = coded_file_track(operand{in}, format, options, &pcm);
    return "\"kind\": \"file\", \"notes\": [], \"calls\": [], \"streams\": [{\"label\": " + json_string(t.title) +
           ", \"call\": -1, \"info\": null, \"summary\": " + json_string(t.legend.empty() ? "" : t.legend[0]) + ", " +
           track_json(t) + ", \"arrivals\": [], \"packets\": {\"columns\": [], \"by_column\": [], \"not_listed\": 0}, \"audio\": [" +
           audio_json("decoded", "Decoded", pcm) + "]}]";
}

} // namespace

int run_report(const std::vector<std::string>& operands, const command_options& options) {
    if (operands.size() != 2)
        throw usage_error("report takes two files, IN (.pcap, .pcapng, .g729 or .bit) and OUT (.html); got " +
                          std::to_string(operands.size()));
    const std::string& in = operands[0];
    const std::string& out = operands[1];
    if (out == "-") throw usage_error("report writes a file: give OUT a name ending in .html");
    if (lower(extension_of(out)) != "html" && lower(extension_of(out)) != "htm")
        throw usage_error("report writes an HTML page: give OUT a name ending in .html, not '" + out + "'");
    if (in == out) throw usage_error("IN and OUT are the same file");
    const stream_input kind = read_as(in, "report");
    const std::string title = in == "-" ? "standard input" : base_name(in);
    std::string data = "{\"file\": " + json_string(title) + ", \"emodel\": {\"ie\": " + number(kG729aEquipmentImpairment, "%.0f") +
                       ", \"bpl\": " + number(kG729aLossRobustness, "%.0f") + ", \"r0\": " + number(kDefaultRating, "%.1f") + "}, ";
    std::size_t streams = 1;
    if (kind.capture)
        data += with_capture(in, "report", [&](const capture_source& source) { return capture_data(source, options, streams); });
    else
        data += coded_data(in, kind.coded, options);
    data += "}\n";
    const std::string page = report_html(title, data);
    output_file target(operand{out});
    target.write(page.data(), page.size());
    target.finish();
    target.commit();
    if (!options.quiet)
        std::fprintf(stderr, "g729a: %s: a page of %s, %.1f MB\n", out.c_str(), plural(streams, "stream", "streams").c_str(),
                     double(page.size()) / 1e6);
    return 0;
}

} // namespace g729::tool

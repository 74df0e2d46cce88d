#include "tools/plot/tracks.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "audio/level.h"
#include "tools/capture/call.h"
#include "tools/capture/capture_input.h"
#include "tools/capture/playback.h"
#include "tools/common/codec_handles.h"
#include "tools/common/text.h"
#include "tools/common/tool_error.h"
#include "tools/formats/coded_input.h"
#include "tools/formats/frame_text.h"
#include "tools/formats/standard_input.h"

namespace g729::tool {

namespace {

// The level the picture draws for `count` samples: -100 dBFS for digital
// silence, the floor of its scale.
double drawn_level(const int16_t* samples, int count) {
    const double level = count > 0 ? audio::level_dbfs(samples, std::size_t(count)) : -HUGE_VAL;
    return std::isinf(level) ? -100.0 : level;
}

} // namespace

stream_input read_as(const std::string& in, const char* command) {
    const input_kind std_kind = in == "-" ? standard_input_kind() : input_kind::other;
    if (in == "-" && std_kind == input_kind::other)
        throw tool_error("standard input", std::string("neither a packet capture (.pcap, .pcapng) nor a .bit stream by its first bytes; ") +
                                               command + " reads frames back to back (.g729) from a file named .g729");
    if (std_kind == input_kind::capture || (in != "-" && is_capture_file(in))) return {true, file_format::unknown};
    const format_id f = in == "-" ? format_id(file_format::bit) : format_id_from_extension(in);
    if (!is_coded(f.kind)) throw tool_error(in, std::string(command) + " reads .g729, .bit, .pcap or .pcapng");
    return {false, f.kind};
}

std::string base_name(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

plot_track coded_file_track(const operand& in, file_format format, const command_options& options, std::vector<int16_t>* pcm_out) {
    coded_input input(in, format);
    const decoder_handle decoder = make_decoder();
    plot_track track;
    track.title = base_name(input_name(in));
    coded_frame frame;
    int16_t pcm[2 * kFrame];
    int in_pair = 0;
    stream_counts counts;
    while (input.reader().next(frame)) {
        count_frame(counts, frame);
        const bool concealed = decode_coded_frame(decoder.get(), frame, pcm + in_pair * kFrame, options);
        frame_mark mark = frame.kind == frame_kind::sid             ? frame_mark::sid
                          : frame.kind == frame_kind::untransmitted ? frame_mark::untransmitted
                                                                    : frame_mark::speech;
        if (frame.bad && concealed) mark = frame_mark::concealed;
        track.frames.push_back(mark);
        if (pcm_out) pcm_out->insert(pcm_out->end(), pcm + in_pair * kFrame, pcm + (in_pair + 1) * kFrame);
        if (++in_pair == 2) {
            track.level_dbfs.push_back(drawn_level(pcm, 2 * kFrame));
            in_pair = 0;
        }
    }
    if (in_pair == 1) track.level_dbfs.push_back(drawn_level(pcm, kFrame));
    if (const auto& fault = input.reader().fault()) throw tool_error(input_name(in), describe(*fault, format));
    char line[160];
    std::snprintf(line, sizeof line, "%.2f s: %zu speech, %zu SID, %zu untransmitted, %zu bad frames",
                  double(counts.frames) / 100.0, counts.speech, counts.sid, counts.untransmitted, counts.bad);
    track.legend.push_back(line);
    return track;
}

std::string buffer_title(const jitter_buffer_setting& buffer) {
    return buffer.adaptive ? "adaptive buffer" : format_text("fixed %.0f ms buffer", buffer.delay_ms);
}

plot_track stream_track(const g729_stream& s, int64_t first_ns) {
    const stream_stats& st = s.rebuilt.stats;
    plot_track t;
    t.title = stream_label(s);
    t.start_frame = saturating_sub(st.start_ns, first_ns) / (10 * 1000 * 1000);
    for (const timeline_entry& e : s.rebuilt.timeline) {
        frame_mark mark = frame_mark::speech;
        switch (e.kind) {
        case slot_kind::speech: mark = frame_mark::speech; break;
        case slot_kind::sid: mark = frame_mark::sid; break;
        case slot_kind::dtx: mark = frame_mark::untransmitted; break;
        case slot_kind::lost: mark = frame_mark::lost; break;
        case slot_kind::late: mark = frame_mark::late; break;
        case slot_kind::skipped: mark = frame_mark::concealed; break;
        }
        t.frames.insert(t.frames.end(), e.frames, mark);
    }
    timeline_player player(s.rebuilt.timeline);
    int16_t pair[2 * kFrameSamples];
    for (;;) {
        if (!player.next(pair)) break;
        const bool second = player.next(pair + kFrameSamples);
        t.level_dbfs.push_back(drawn_level(pair, second ? 2 * kFrameSamples : kFrameSamples));
        if (!second) break;
    }
    t.network = true;
    const double start_s = double(saturating_sub(st.start_ns, first_ns)) / 1e9 - double(t.start_frame) / 100.0;
    auto seconds_of = [&](int64_t arrival_ns) { return double(saturating_sub(arrival_ns, st.start_ns)) / 1e9 + start_s; };
    // Transit above the fastest packet (the first packet counts, at 0).
    double fastest = 0.0;
    for (const jitter_point& p : s.network.arrivals.series) fastest = std::min(fastest, p.transit_ms);
    for (const jitter_point& p : s.network.arrivals.series) {
        const double at = seconds_of(p.arrival_ns);
        t.arrival_delta_ms.push_back({at, p.delta_ms});
        t.jitter_ms.push_back({at, p.jitter_ms});
        t.transit_ms.push_back({at, p.transit_ms - fastest});
    }
    if (s.network.buffered) {
        t.buffer_name = buffer_title(s.network.buffer);
        for (const delay_point& p : s.network.playout.delay_series)
            t.playout_ms.push_back({seconds_of(p.arrival_ns), p.playout_ms - fastest});
        t.playout_end_seconds = seconds_of(st.last_arrival_ns);
    }
    for (const packet_event& e : s.network.arrivals.events) {
        const packet_mark kind = e.kind == packet_event_kind::reordered   ? packet_mark::reordered
                                 : e.kind == packet_event_kind::duplicate ? packet_mark::duplicate
                                                                          : packet_mark::marker;
        t.packet_marks.push_back({seconds_of(e.arrival_ns), kind});
    }
    const stream_network& n = s.network;
    char line[256];
    std::snprintf(line, sizeof line,
                  "%.2f s; %zu packets, %zu lost, %zu late (%.2f%%); jitter mean %.2f ms, max %.2f ms; max delta %.1f ms; "
                  "R %.1f, MOS %.2f (E-model estimate, one-way delay %.0f ms%s)",
                  duration_s(st), st.packets, st.lost_packets, st.late_packets, n.loss_percent, n.arrivals.mean_jitter_ms,
                  n.arrivals.max_jitter_ms, n.arrivals.max_delta_ms, n.quality.r, n.quality.mos, n.one_way_delay_ms,
                  n.one_way_delay_given ? " given" : "");
    t.legend.push_back(line);
    t.legend.push_back(n.buffered ? format_text("%s: %zu late, %zu discarded (buffer full); delay mean %.1f ms, max %.1f ms; "
                                                "%zu changes",
                                                t.buffer_name.c_str(), n.playout.late_packets, n.playout.discarded_packets,
                                                n.playout.mean_delay_ms, n.playout.max_delay_ms, n.playout.delay_changes)
                                  : std::string("no jitter buffer modelled (--jitter-buffer MS|adaptive): every packet played"));
    if (n.arrivals.events_not_listed > 0)
        t.legend.push_back(format_text("%zu further reordered, duplicated or marker-bit packets not marked (at most %zu are)",
                                       n.arrivals.events_not_listed, kMaxListedEvents));
    return t;
}

std::vector<plot_track> capture_plot_tracks(const std::string& operand, const command_options& options, int64_t& start_ns) {
    const opened_capture capture(operand, "plot");
    const std::string& path = capture.source().name;
    const capture_contents c = read_call(capture.source(), options);
    // Each stream is a band of the picture: thousands would make a picture
    // of hundreds of megabytes, or one taller than a PNG can be.
    if (c.streams.size() > options.max_streams)
        throw tool_error(path, "holds " + plural(c.streams.size(), "G.729 stream", "G.729 streams") + ", more than the limit of " +
                                   std::to_string(options.max_streams) + " in one picture (--max-streams N raises it)");
    // Drawing decodes every stream for its level: the same limit as a
    // decode keeps a few packets spread over hours from costing minutes.
    std::vector<const g729_stream*> all;
    std::size_t total = 0;
    for (const g729_stream& s : c.streams) {
        all.push_back(&s);
        total += s.rebuilt.stats.frames;
    }
    check_audio_limit(path, total, "decode", " to draw", options, all);
    int64_t first_ns = c.streams.front().rebuilt.stats.start_ns;
    for (const g729_stream& s : c.streams) first_ns = std::min(first_ns, s.rebuilt.stats.start_ns);
    start_ns = first_ns;
    std::vector<plot_track> tracks;
    for (const g729_stream& s : c.streams) tracks.push_back(stream_track(s, first_ns));
    return tracks;
}

} // namespace g729::tool

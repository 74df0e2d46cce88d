#include "tools/capture/call.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <set>

#include "tools/common/text.h"

namespace g729::tool {

std::string hex_ssrc(uint32_t ssrc) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", ssrc);
    return text;
}

std::string capture_time(int64_t ns) {
    // Rounded down, also before 1970, without going past the ends of the range.
    int64_t whole = ns / 1000000000;
    int64_t rest = ns % 1000000000;
    if (rest < 0) {
        --whole;
        rest += 1000000000;
    }
    const std::time_t seconds = std::time_t(whole);
    const long micros = long(rest / 1000);
    std::tm tm{};
    gmtime_r(&seconds, &tm);
    char text[64];
    const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
    std::snprintf(text + n, sizeof text - n, ".%06ld UTC", micros);
    return text;
}

std::string epoch_seconds(int64_t ns) {
    // From the integer count: a double would blur the last digits.
    const int64_t micros = ns / 1000;
    char text[40];
    std::snprintf(text, sizeof text, "%s%lld.%06lld", micros < 0 ? "-" : "", static_cast<long long>(std::llabs(micros) / 1000000),
                  static_cast<long long>(std::llabs(micros) % 1000000));
    return text;
}

double duration_s(const stream_stats& st) { return double(st.frames) * kFrameSamples / G729A_SAMPLE_RATE; }

std::string stream_file_stem(const g729_stream& s) {
    return s.key.source.file_text() + "-" + s.key.destination.file_text() + "_" + hex_ssrc(s.key.ssrc).substr(2);
}

std::string stream_label(const g729_stream& s) {
    return hex_ssrc(s.key.ssrc) + " " + s.key.source.text() + " -> " + s.key.destination.text();
}

std::string stream_list(const std::vector<const g729_stream*>& streams) {
    std::string list;
    for (const g729_stream* s : streams) list += (list.empty() ? "" : "; ") + stream_label(*s);
    return list;
}

std::string skipped_text(const skipped_counts& s) {
    std::string text;
    auto add = [&](std::size_t n, const char* what) {
        if (n == 0) return;
        text += (text.empty() ? "" : ", ") + std::to_string(n) + " " + what;
    };
    add(s.truncated, "truncated");
    add(s.fragments, "IP fragments");
    add(s.wrong_version, "not RTP version 2");
    add(s.other_payload, "other payload types");
    add(s.unusable, "G.729 payloads without a whole frame");
    if (s.bad_time > 0)
        add(s.bad_time, ("G.729 packets with a capture time out of range (first: packet " + std::to_string(s.first_bad_time) + ")").c_str());
    return text;
}

std::string no_g729_text(const capture_contents& c) {
    std::string text = "no G.729 RTP stream (payload type 18, or one that SDP in the capture or --pt maps to G.729) among " +
                       plural(c.packets, "packet", "packets");
    if (!c.others.empty()) {
        std::set<int> types;
        for (const other_stream& o : c.others) types.insert(o.payload_type);
        std::string list;
        for (int t : types) list += (list.empty() ? "" : ", ") + std::to_string(t);
        text += "; it holds RTP of payload type " + list + " (--pt N reads a type as G.729)";
    }
    return text;
}

std::string cut_short_text(const capture_contents& c) {
    return "cut short after packet " + std::to_string(c.packets) + ": " + c.problem;
}

// Frames that the shortened gaps of a stream left out.
std::size_t left_out_frames(const rebuilt_stream& r) {
    std::size_t n = 0;
    for (const shortened_gap& g : r.shortened) n += g.claimed - g.kept;
    return n;
}

std::string seconds_text(std::size_t frames) {
    char text[48];
    std::snprintf(text, sizeof text, "%.2f s", double(frames) / 100.0);
    return text;
}

std::string shortened_text(const rebuilt_stream& r) {
    return plural(r.shortened.size(), "gap", "gaps") + ", " + seconds_text(left_out_frames(r)) + " left out";
}

std::string gap_text(const shortened_gap& g, std::size_t max_gap_seconds) {
    return "the gap before packet " + std::to_string(g.packet) + " (sequence " + std::to_string(g.sequence) + ") shortened from " +
           seconds_text(g.claimed) + " to " + seconds_text(g.kept) +
           (g.by_limit ? " (the limit is " + std::to_string(max_gap_seconds) + " s; --max-gap SECONDS raises it)"
                       : " (as much as the capture clock shows)");
}

std::string hours_text(std::size_t frames) {
    char text[48];
    std::snprintf(text, sizeof text, "%.1f s (%.2f h)", double(frames) / 100.0, double(frames) / 360000.0);
    return text;
}
void report_rebuilt_streams(reporter& report, const std::string& path, const std::vector<const g729_stream*>& chosen,
                            const command_options& options, const char* used) {
    for (const g729_stream* s : chosen) {
        const rebuilt_stream& r = s->rebuilt;
        constexpr std::size_t kShown = 3;
        for (std::size_t i = 0; i < r.shortened.size() && i < kShown; ++i)
            report.notice(path, hex_ssrc(s->key.ssrc) + ": " + gap_text(r.shortened[i], options.max_gap_seconds));
        if (r.shortened.size() > kShown)
            report.notice(path, hex_ssrc(s->key.ssrc) + ": " + std::to_string(r.shortened.size() - kShown) +
                                    " more gaps shortened (" + shortened_text(r) + " in all)");
        if (r.stats.remainders > 0)
            report.warning(path, hex_ssrc(s->key.ssrc) + ": " + plural(r.stats.remainders, "packet carries", "packets carry") +
                                     " bytes after its whole frames (first: packet " + std::to_string(r.stats.first_remainder_packet) +
                                     "); the whole frames are " + used + ", the rest left out");
    }
}

} // namespace g729::tool

#include "tools/plot/plot_command.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "tools/capture/call.h"
#include "tools/common/text.h"
#include "tools/common/tool_error.h"
#include "tools/plot/tracks.h"

namespace g729::tool {

namespace {

// Where one end of the window falls on the axis, in 10 ms frames from its
// start (which is `start_ns` on the capture's clock, when there is one).
double window_frame(const std::string& in, const char* option, const time_bound& b, bool clock, int64_t start_ns) {
    if (b.of == time_bound::kind::offset) return b.seconds * 100.0;
    if (!clock)
        throw tool_error(in, std::string(option) + " " + b.text +
                                 " is a time of the capture's clock, and a coded file has none: give seconds from its start");
    const double start_s = std::floor(double(start_ns) / 1e9);
    const double start_fraction = double(start_ns - int64_t(start_s) * 1000000000) / 1e9;
    if (b.of == time_bound::kind::date_time) return ((b.seconds - start_s) - start_fraction) * 100.0;
    // A time of day is the one within twelve hours of the start, so that a
    // call across midnight is windowed by the times its axis shows.
    double since = b.seconds - std::fmod(std::fmod(start_s, 86400.0) + 86400.0, 86400.0) - start_fraction;
    if (since >= 43200.0) since -= 86400.0;
    if (since < -43200.0) since += 86400.0;
    return since * 100.0;
}

std::string seconds_text(double frames) { return format_text("%.2f s", frames / 100.0); }

// The window --from and --to ask for, within the tracks' span; tool_error
// naming the file when it is empty or lies outside the streams.
plot_axis window_axis(const std::string& in, const std::vector<plot_track>& tracks, bool clock, int64_t start_ns,
                      const command_options& options) {
    plot_axis axis;
    axis.clock = clock;
    axis.start_ns = start_ns;
    if (!options.from && !options.to) return axis;
    int64_t end = 1;
    for (const plot_track& t : tracks) end = std::max(end, t.start_frame + int64_t(t.frames.size()));
    const double from = options.from ? window_frame(in, "--from", *options.from, clock, start_ns) : 0.0;
    const double to = options.to ? window_frame(in, "--to", *options.to, clock, start_ns) : double(end);
    const std::string asked = (options.from ? "--from " + options.from->text : std::string()) +
                              (options.from && options.to ? " " : "") + (options.to ? "--to " + options.to->text : std::string());
    if (options.from && options.to && !(from < to)) throw tool_error(in, asked + ": the window ends before it begins");
    if (to <= 0.0 || from >= double(end)) {
        std::string span = "from 0 to " + seconds_text(double(end));
        if (clock) span += " (" + capture_time(start_ns) + " to " + capture_time(saturating_add(start_ns, frames_ns(end))) + ")";
        throw tool_error(in, asked + ": the window lies outside the streams, which run " + span);
    }
    axis.windowed = true;
    axis.from_frame = int64_t(std::floor(std::max(from, 0.0)));
    axis.to_frame = std::max(axis.from_frame + 1, int64_t(std::ceil(std::min(to, double(end)))));
    return axis;
}

} // namespace

int run_plot(const std::vector<std::string>& operands, const command_options& options) {
    if (operands.size() != 2)
        throw usage_error("plot takes two files, IN (.g729, .bit, .pcap or .pcapng) and OUT (.png, .svg or .pdf); got " +
                          std::to_string(operands.size()));
    const std::string& in = operands[0];
    const std::string& out = operands[1];
    if (out == "-") throw usage_error("plot writes a file: give OUT a name ending in .png, .svg or .pdf");
    std::vector<plot_track> tracks;
    std::string title;
    bool clock = false;
    int64_t start_ns = 0;
    // Standard input is known by its first bytes: a capture or a .bit stream.
    const stream_input kind = read_as(in, "plot");
    if (kind.capture) {
        tracks = capture_plot_tracks(in, options, start_ns);
        clock = true;
        title = in == "-" ? "standard input" : base_name(in);
    } else {
        tracks.push_back(coded_file_track(operand{in}, kind.coded, options));
        title = tracks.back().title;
    }
    if (tracks.empty()) throw tool_error(in, "holds no G.729 stream to draw");
    const plot_axis axis = window_axis(in == "-" ? "standard input" : in, tracks, clock, start_ns, options);
    draw_plot(tracks, axis, out, title);
    if (!options.quiet) std::fprintf(stderr, "g729a: %s: %zu %s drawn\n", out.c_str(), tracks.size(), tracks.size() == 1 ? "stream" : "streams");
    return 0;
}

} // namespace g729::tool

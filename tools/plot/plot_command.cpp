#include "tools/plot/plot_command.h"

#include <cstdio>

#include "tools/common/tool_error.h"
#include "tools/plot/tracks.h"

namespace g729::tool {

int run_plot(const std::vector<std::string>& operands, const command_options& options) {
    if (operands.size() != 2)
        throw usage_error("plot takes two files, IN (.g729, .bit, .pcap or .pcapng) and OUT (.png, .svg or .pdf); got " +
                          std::to_string(operands.size()));
    const std::string& in = operands[0];
    const std::string& out = operands[1];
    if (out == "-") throw usage_error("plot writes a file: give OUT a name ending in .png, .svg or .pdf");
    std::vector<plot_track> tracks;
    std::string title;
    // Standard input is known by its first bytes: a capture or a .bit stream.
    const stream_input kind = read_as(in, "plot");
    if (kind.capture) {
        tracks = capture_plot_tracks(in, options);
        title = in == "-" ? "standard input" : base_name(in);
    } else {
        tracks.push_back(coded_file_track(operand{in}, kind.coded, options));
        title = tracks.back().title;
    }
    if (tracks.empty()) throw tool_error(in, "holds no G.729 stream to draw");
    draw_plot(tracks, out, title);
    if (!options.quiet) std::fprintf(stderr, "g729a: %s: %zu %s drawn\n", out.c_str(), tracks.size(), tracks.size() == 1 ? "stream" : "streams");
    return 0;
}

} // namespace g729::tool

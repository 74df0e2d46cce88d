#include "tools/plot/plot_command.h"

#include <cstdio>

#include "tools/capture/capture_input.h"
#include "tools/common/tool_error.h"
#include "tools/formats/standard_input.h"
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
    const input_kind std_kind = in == "-" ? standard_input_kind() : input_kind::other;
    if (in == "-" && std_kind == input_kind::other)
        throw tool_error("standard input", "neither a packet capture (.pcap, .pcapng) nor a .bit stream by its first bytes; plot "
                                           "reads frames back to back (.g729) from a file named .g729");
    if (std_kind == input_kind::capture || (in != "-" && is_capture_file(in))) {
        tracks = capture_plot_tracks(in, options);
        title = in == "-" ? "standard input" : base_name(in);
    } else {
        const format_id f = in == "-" ? format_id(file_format::bit) : format_id_from_extension(in);
        if (!is_coded(f.kind)) throw tool_error(in, "plot reads .g729, .bit, .pcap or .pcapng");
        tracks.push_back(coded_file_track(operand{in}, f.kind, options));
        title = tracks.back().title;
    }
    if (tracks.empty()) throw tool_error(in, "holds no G.729 stream to draw");
    draw_plot(tracks, out, title);
    if (!options.quiet) std::fprintf(stderr, "g729a: %s: %zu %s drawn\n", out.c_str(), tracks.size(), tracks.size() == 1 ? "stream" : "streams");
    return 0;
}

} // namespace g729::tool

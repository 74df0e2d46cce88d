#include "tools/plot/plot_command.h"

#include <cstdio>

#include "tools/capture/commands.h"
#include "tools/cli/codec_handles.h"
#include "tools/cli/standard_input.h"
#include "tools/cli/tool_error.h"

namespace g729::tool {

namespace {

std::string base_name(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

plot_track coded_file_track(const operand& in, file_format format, const command_options& options) {
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
        if (++in_pair == 2) {
            track.level_dbfs.push_back(level_dbfs(pcm, 2 * kFrame));
            in_pair = 0;
        }
    }
    if (in_pair == 1) track.level_dbfs.push_back(level_dbfs(pcm, kFrame));
    if (const auto& fault = input.reader().fault()) throw tool_error(input_name(in), describe(*fault, format));
    char line[160];
    std::snprintf(line, sizeof line, "%.2f s: %zu speech, %zu SID, %zu untransmitted, %zu bad frames",
                  double(counts.frames) / 100.0, counts.speech, counts.sid, counts.untransmitted, counts.bad);
    track.legend.push_back(line);
    return track;
}

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

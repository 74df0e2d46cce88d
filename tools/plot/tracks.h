// What the picture shows of each stream: the tracks of a coded file and of
// the streams of a call.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/capture/call.h"
#include "tools/common/command_options.h"
#include "tools/common/operand.h"
#include "tools/formats/format_names.h"
#include "tools/plot/plot.h"

namespace g729::tool {

// The track of a .g729 or .bit file: its decoded level, and its SID,
// untransmitted and bad frames marked; its decoded samples added to `pcm`
// when given.
plot_track coded_file_track(const operand& in, file_format format, const command_options& options,
                            std::vector<int16_t>* pcm = nullptr);

// The track of one G.729 stream of a capture whose first stream starts at
// `first_ns`: level and frame marks on the sender's timeline, arrivals, key
// figures.
plot_track stream_track(const g729_stream& s, int64_t first_ns);

// One track per G.729 stream of the capture an operand names ('-': on
// standard input): level, frame marks, arrivals, transit and the playout
// delay of the buffer modelled; `start_ns` is set to the capture time of
// the earliest stream's start, where the tracks' axis begins.
std::vector<plot_track> capture_plot_tracks(const std::string& operand, const command_options& options, int64_t& start_ns);

// How the picture names a buffer: "adaptive buffer", "fixed 40 ms buffer".
std::string buffer_title(const jitter_buffer_setting& buffer);

// What plot and report read from IN: a packet capture (a named one, or
// standard input known by its first bytes), or the coded format of a .g729
// or .bit file (standard input: a .bit stream). tool_error for standard
// input that is neither, and for a named file of another kind; `command`
// names who reads it.
struct stream_input {
    bool capture = false;
    file_format coded = file_format::unknown;
};
stream_input read_as(const std::string& in, const char* command);

// The last part of a path ("call.pcap" for "calls/call.pcap").
std::string base_name(const std::string& path);

} // namespace g729::tool

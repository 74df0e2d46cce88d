// What the picture shows of each stream: the tracks of a coded file and of
// the streams of a call.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/common/command_options.h"
#include "tools/common/operand.h"
#include "tools/formats/format_names.h"
#include "tools/plot/plot.h"

namespace g729::tool {

// The track of a .g729 or .bit file: its decoded level, and its SID,
// untransmitted and bad frames marked.
plot_track coded_file_track(const operand& in, file_format format, const command_options& options);

// One track per G.729 stream of the capture an operand names ('-': on
// standard input): level, frame marks, arrivals, transit and the playout
// delay of the buffer modelled; `start_ns` is set to the capture time of
// the earliest stream's start, where the tracks' axis begins.
std::vector<plot_track> capture_plot_tracks(const std::string& operand, const command_options& options, int64_t& start_ns);

// How the picture names a buffer: "adaptive buffer", "fixed 40 ms buffer".
std::string buffer_name(const jitter_buffer_setting& buffer);

// The last part of a path ("call.pcap" for "calls/call.pcap").
std::string base_name(const std::string& path);

} // namespace g729::tool

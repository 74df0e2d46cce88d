// info and decode of packet captures (.pcap, .pcapng): the G.729 RTP
// streams found, and their audio on the call's timeline. The command table
// in main.cpp reaches them through info_capture and decode_capture.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/cli/commands.h"
#include "tools/plot/plot.h"

namespace g729::tool {

// .pcap, .pcapng or .cap by extension, or a capture by its first bytes.
bool is_capture_file(const std::string& path);

// An SSRC as info shows it: hexadecimal, with or without 0x.
bool parse_ssrc(const std::string& text, uint32_t& ssrc);

// The commands on a capture: `operands` are the files after the command,
// the first being the capture. Throw usage_error or tool_error.
int info_capture(const std::vector<std::string>& operands, const command_options& options);
int decode_capture(const std::vector<std::string>& operands, const command_options& options);
// dump: every stream's frames (or --stream SSRC's), one line each.
int dump_capture(const std::vector<std::string>& operands, const command_options& options);

// One track per G.729 stream for g729a plot: level, frame marks, arrivals.
std::vector<plot_track> capture_plot_tracks(const std::string& path, const command_options& options);

} // namespace g729::tool

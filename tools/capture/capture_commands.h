// The commands on a packet capture (.pcap, .pcapng): `operands` are the
// files after the command, the first being the capture. Each throws
// usage_error or tool_error. One file each: info_command.cpp,
// decode_command.cpp, dump_command.cpp, convert_command.cpp.
#pragma once

#include <string>
#include <vector>

#include "tools/common/command_options.h"

namespace g729::tool {

// The streams found, with their figures (text or --json).
int info_capture(const std::vector<std::string>& operands, const command_options& options);
// Every stream (or --stream SSRC's) into .wav files, and --mix.
int decode_capture(const std::vector<std::string>& operands, const command_options& options);
// Every stream's frames (or --stream SSRC's), one line each.
int dump_capture(const std::vector<std::string>& operands, const command_options& options);
// Every stream's coded frames (or --stream SSRC's) as they came, into .bit
// (or .g729) without decoding.
int convert_capture(const std::vector<std::string>& operands, const command_options& options);

} // namespace g729::tool

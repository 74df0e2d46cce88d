// info and decode of packet captures (.pcap, .pcapng): the G.729 RTP
// streams found, and their audio on the call's timeline.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "tools/cli/commands.h"

namespace g729::tool {

// .pcap, .pcapng or .cap, by extension.
bool is_capture_file(const std::string& path);

// Takes --bad-frames, --pt, --stream or --mix (as "--opt VALUE" or
// "--opt=VALUE") at args[i] into `options`, moving i past a separate
// value; false when args[i] is none of them. Throws usage_error for a
// missing or bad value.
bool take_valued_option(const std::vector<std::string>& args, std::size_t& i, command_options& options);

// usage_error when an option that only a capture takes was given.
void check_no_capture_options(const command_options& options);

// `command` (info or decode) with `operands`, the first being a capture.
int run_capture_command(const std::string& command, const std::vector<std::string>& operands,
                        const command_options& options);

} // namespace g729::tool

// Which operands are packet captures, and a capture read from standard
// input.
#pragma once

#include <functional>
#include <string>

#include "tools/capture/call.h"

namespace g729::tool {

// .pcap, .pcapng or .cap by extension, or a capture by its first bytes.
bool is_capture_file(const std::string& path);

// Runs `work` on the capture an operand names; '-' is copied from standard
// input first (a capture is read twice) and must be a capture (a .g729 or
// .bit stream there needs -t): usage_error naming `command` otherwise.
int with_capture(const std::string& operand, const std::string& command, const std::function<int(const capture_source&)>& work);

} // namespace g729::tool

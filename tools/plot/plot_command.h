// g729a plot IN OUT: the picture of a coded file or of the G.729 calls in a
// packet capture.
#pragma once

#include <string>
#include <vector>

#include "tools/common/command_options.h"

namespace g729::tool {

// IN OUT; returns the exit status.
int run_plot(const std::vector<std::string>& operands, const command_options& options);

} // namespace g729::tool

// g729a plot IN OUT: the picture of a coded file or of the G.729 calls in a
// packet capture.
#pragma once

#include <string>
#include <vector>

#include "tools/cli/commands.h"
#include "tools/plot/plot.h"

namespace g729::tool {

// The track of a .g729 or .bit file: its decoded level, and its SID,
// untransmitted and bad frames marked.
plot_track coded_file_track(const operand& in, file_format format, const command_options& options);

// IN OUT; returns the exit status.
int run_plot(const std::vector<std::string>& operands, const command_options& options);

} // namespace g729::tool

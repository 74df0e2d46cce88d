// g729a report IN OUT.html: a page that shows, explains and plays the calls
// of a packet capture (or a .g729/.bit file as one stream).
#pragma once

#include <string>
#include <vector>

#include "tools/common/command_options.h"

namespace g729::tool {

// IN OUT; returns the exit status.
int run_report(const std::vector<std::string>& operands, const command_options& options);

} // namespace g729::tool

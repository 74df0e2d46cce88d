// What the console needs from the registries beyond the public host API.
#pragma once

#include <vector>

#include "host/corvane.h"

namespace corvane {

std::vector<cvn_cli_entry*> console_entries();
void add_console_entry(cvn_cli_entry* e);

} // namespace corvane

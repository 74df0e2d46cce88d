// Reading the files a command is given.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "tools/common/operand.h"

namespace g729::tool {

// Reads a whole file (or standard input) into memory.
std::vector<uint8_t> read_whole(const operand& in);

// Opens an input file for reading, refusing directories; throws tool_error.
std::FILE* open_input(const operand& in);

} // namespace g729::tool

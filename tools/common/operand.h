// A file as named on the command line, and how messages name it.
#pragma once

#include <string>

namespace g729::tool {

// A file name as given on the command line; "-" is standard input or output.
struct operand {
    std::string path;
    bool is_std() const { return path == "-"; }
};

std::string input_name(const operand& op);  // "standard input" for "-"
std::string output_name(const operand& op); // "standard output" for "-"

} // namespace g729::tool

// The two ways a g729a command fails: a problem with one of its files (exit
// status 1) or a command line it cannot make sense of (exit status 2).
#pragma once

#include <stdexcept>
#include <string>

namespace g729::tool {

// A file that cannot be read, written or understood. `file` is the name the
// user gave ("-" shows as "standard input" / "standard output").
struct tool_error : std::runtime_error {
    tool_error(std::string file_name, const std::string& problem)
        : std::runtime_error(problem), file(std::move(file_name)) {}
    std::string file;
};

struct usage_error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

} // namespace g729::tool

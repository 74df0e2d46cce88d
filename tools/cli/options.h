// The command line's options: ONE table of them (tools/cli/options.cpp)
// gives each its names, the kind of value it takes, the commands it fits and
// whether it is for packet captures only or not for them; parsing and every
// refusal of an option given where it does not fit follow from it.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "tools/common/command_options.h"
#include "tools/formats/format_names.h"

namespace g729::tool {

// The commands, one bit each, in the order of their names in kCommandNames.
enum command_bit : unsigned {
    for_encode = 1u << 0,
    for_decode = 1u << 1,
    for_roundtrip = 1u << 2,
    for_info = 1u << 3,
    for_dump = 1u << 4,
    for_plot = 1u << 5,
    for_convert = 1u << 6,
    for_report = 1u << 7,
};
constexpr std::size_t kCommandCount = 8;
extern const char* const kCommandNames[kCommandCount];

struct known_option;

// A file named on the command line, with the format of a -t before it.
struct positional {
    std::string text;
    std::optional<format_id> format;
};

// The command line read against the table: the words that are not options
// (the command first), what the options ask for, and which were given.
struct command_line {
    std::vector<positional> operands;
    command_options options;
    bool help = false;
    bool version = false;
    std::string directory;
    std::optional<format_id> target;
    std::optional<std::string> to_value; // --to as given: a format (batch commands) or the end of plot's window
    std::size_t formats_given = 0;
    std::size_t formats_unused = 0; // -t with no file after it
    std::vector<format_id> queued_formats; // while parsing: -t values waiting for their file
    std::optional<format_id> last_format;
    std::vector<const known_option*> given; // each option once, in the order first given
};

// Reads the arguments after the program name; usage_error for an unknown
// option, a missing value or a value out of its range.
command_line parse_command_line(const std::vector<std::string>& args);

// usage_error for the first option given that does not fit `command` (one
// of the bits): "--dtx is for encode".
void refuse_options_not_for(const command_line& line, command_bit command);

// What the options that mean one thing for one command and another for
// another ask for, once the command is known: --to, the format a batch
// writes, or the end of plot's window. usage_error for a value that is
// neither.
void settle_options(command_line& line, command_bit command);

// What a command reads: coded or audio files, packet captures, or some of
// each (info and dump, in turn).
enum class operand_kinds { files, captures, mixed };

// usage_error for the first option given that does not fit what the
// command reads: "--format does not apply to a packet capture, ...", "--pt
// applies to packet captures (.pcap, .pcapng) only".
void refuse_options_not_for(const command_line& line, operand_kinds input);

} // namespace g729::tool

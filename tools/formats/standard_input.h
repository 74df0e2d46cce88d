// Standard input known by its first bytes, as a named file is: a packet
// capture by its pcap or pcapng magic, a .bit stream by the sync word of its
// first frame. Frames back to back (.g729) and headerless audio have no
// such mark and need -t.
#pragma once

#include <cstdint>
#include <string>

namespace g729::tool {

enum class input_kind {
    capture, // pcap (either byte order, micro- or nanoseconds) or pcapng
    bit,     // a .bit stream: a sync word and a bit count of 80 or fewer
    other,   // neither, or fewer bytes than tell
};

// Looks at the first bytes of standard input without taking them: later
// reads of `stdin` (or of file descriptor 0, when it is a regular file)
// still begin with them. Reads standard input only on the first call and
// gives the same answer after.
input_kind standard_input_kind();

// The first four bytes of a packet capture: pcap in either byte order, with
// micro- or nanosecond times, or a pcapng section header.
bool is_capture_magic(const uint8_t* first_four);

// The message for standard input that is neither a capture nor a .bit
// stream, for `command`.
std::string unknown_standard_input_text(const std::string& command);

} // namespace g729::tool

// Which operands are packet captures, and a capture read from standard
// input.
#pragma once

#include <memory>
#include <string>

#include "tools/capture/call.h"

namespace g729::tool {

// .pcap, .pcapng or .cap by extension, or a capture by its first bytes.
bool is_capture_file(const std::string& path);

// The capture an operand names, ready to read. '-' must be a capture by its
// first bytes (tool_error naming standard input and what `command` needs
// otherwise), and is copied from standard input first: a capture is read
// twice. The copy goes with this, or with the process however it ends.
class opened_capture {
public:
    opened_capture(const std::string& operand, const std::string& command);
    ~opened_capture();
    opened_capture(const opened_capture&) = delete;
    opened_capture& operator=(const opened_capture&) = delete;
    const capture_source& source() const { return source_; }

private:
    class spooled_input;
    std::unique_ptr<spooled_input> copy_;
    capture_source source_;
};

// `work` on the source of the capture an operand names.
template <typename Work> auto with_capture(const std::string& operand, const std::string& command, Work work) {
    const opened_capture capture(operand, command);
    return work(capture.source());
}

} // namespace g729::tool

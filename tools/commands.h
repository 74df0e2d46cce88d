// The g729a commands. Each returns the exit status on success and throws
// tool_error (status 1) or usage_error (status 2) otherwise.
#pragma once

#include <string>
#include <vector>

#include "tools/audio_io.h"
#include "tools/output_file.h"

namespace g729::tool {

struct command_options {
    bool quiet = false;
    // --format values in the order given: the format of a "-" operand.
    std::vector<file_format> std_formats;
    // decode: frames a .bit file marks bad are decoded as received
    // (--bad-frames=decode) instead of being concealed.
    bool decode_bad_frames = false;
    // decode: input cut short (a .g729 whose last frame is incomplete, a
    // capture whose last packet is) is an error instead of a warning.
    bool strict = false;
    // Packet captures: info as JSON, payload types taken as G.729 besides 18
    // (--pt), the one stream to decode (--stream SSRC) and the stereo file
    // of both directions (--mix FILE).
    bool json = false;
    std::vector<int> payload_types;
    std::string stream;
    std::string mix;
};

int run_encode(const operand& in, const operand& out, const command_options& options);
int run_decode(const operand& in, const operand& out, const command_options& options);
int run_roundtrip(const operand& in, const operand& out, const command_options& options);
int run_info(const operand& in, const command_options& options);
int run_convert(const operand& in, const operand& out, const command_options& options);

} // namespace g729::tool

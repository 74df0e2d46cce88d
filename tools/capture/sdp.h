// The SDP that SIP messages in a capture carry: which payload types each
// end maps to G.729, and the address and port it receives them on.
#pragma once

#include <cstddef>
#include <set>
#include <vector>

#include "tools/capture/packets.h"

namespace g729::tool {

// G.729 payload types announced in SDP: the address and port each media
// description receives on, with the payload types its a=rtpmap lines map to
// G729 (or G729A/G729B/G729AB) at 8000 Hz, and those they map to RFC 4733
// telephone-event at 8000 Hz.
struct sdp_g729 {
    endpoint receiver;
    std::set<int> payload_types;
    std::set<int> event_payload_types;
};

// Reads every SDP media description in `text` (a SIP message, or a bare
// SDP body); an m=audio line with neither G.729 nor telephone-event in its
// rtpmap gives nothing.
std::vector<sdp_g729> read_sdp(const char* text, std::size_t size);

} // namespace g729::tool

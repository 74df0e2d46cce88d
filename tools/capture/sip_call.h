// Calls as their SIP signalling in a capture tells them: who called whom,
// each request and response with its time, the SDP each side offered, how
// long setup took and how the call ended, and which of the capture's G.729
// streams carried its media.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/capture/packets.h"

namespace g729::tool {

// One SIP message of a call, as a ladder diagram shows it.
struct sip_event {
    uint64_t number = 0;      // its place in the capture file, from 1
    int64_t time_ns = 0;      // capture time
    endpoint source;
    endpoint destination;
    bool request = false;
    std::string method;       // INVITE, ACK, BYE, CANCEL, ... (requests; the CSeq method for responses)
    int status = 0;           // responses: 100..699
    std::string reason;       // responses: the reason phrase as sent
    bool from_caller = false; // sent by the side that sent the first INVITE
    bool has_sdp = false;
    std::string sdp;          // the SDP body as sent, bounded
};

// Messages kept per call; the rest are counted.
constexpr std::size_t kMaxCallMessages = 1000;

struct sip_call {
    std::string call_id;
    std::string caller;       // the From of the first INVITE (display name and URI as sent)
    std::string callee;       // its To
    int64_t start_ns = 0;     // the first INVITE
    std::optional<double> post_dial_delay_ms; // INVITE to the first 18x
    std::optional<double> setup_ms;           // INVITE to the 200 OK
    std::optional<double> duration_s;         // ACK of the 200 to the BYE (or the last message)
    std::string end;          // "BYE from caller", "BYE from callee", "CANCEL", "486 Busy Here", "no end seen", ...
    bool failed = false;      // ended with no call set up (an error response, CANCEL)
    std::vector<sip_event> messages;           // in capture order
    std::size_t messages_not_listed = 0;
    std::vector<std::size_t> streams;          // indices into the capture's G.729 streams
};

} // namespace g729::tool

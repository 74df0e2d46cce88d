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
#include "tools/capture/sdp.h"

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
    std::vector<sdp_media> media; // what that SDP describes
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
    std::optional<double> duration_s;         // ACK of the 200 (the 200 when no ACK is seen) to the BYE
    std::string end;          // "BYE from caller", "BYE from callee", "CANCEL", "486 Busy Here", "no end seen", ...
    bool failed = false;      // ended with no call set up (an error response, CANCEL)
    std::vector<sip_event> messages;           // in capture order
    std::size_t messages_not_listed = 0;
    std::vector<std::size_t> streams;          // indices into the capture's G.729 streams
    std::vector<sdp_media> offer;              // the first SDP of the call
    std::vector<sdp_media> answer;             // the first SDP from the other side after it
};

// What a capture's SIP came to beside its calls: messages read, and those
// not used, by reason.
struct sip_counts {
    std::size_t messages = 0;        // SIP messages read (over TCP, each put back together from its segments)
    std::size_t unreadable = 0;      // looked like SIP, but the parser refused them
    std::size_t without_call_id = 0;
    std::size_t outside_calls = 0;   // of no call listed: REGISTER, OPTIONS, a dialog begun before the capture, a call beyond kMaxCalls
    std::size_t partial = 0;         // messages over TCP that could not be read whole (see tcp_counts)
    std::size_t bad_time = 0;        // a capture time out of range
    std::size_t calls_not_listed = 0;    // INVITEs of calls beyond kMaxCalls
    std::size_t messages_not_listed = 0; // messages of listed calls beyond the limits on messages kept
    std::size_t tcp_flows_dropped = 0;   // TCP directions dropped while followed, for newer ones
};

// Calls kept from one capture; beyond them new calls are counted.
constexpr std::size_t kMaxCalls = 2000;
// Messages kept over all the calls of a capture (besides kMaxCallMessages
// for each), so that memory follows the limit and not the capture.
constexpr std::size_t kMaxSipMessagesKept = 20000;
// Header values (Call-ID, From, To, method, reason) kept, in bytes.
constexpr std::size_t kMaxSipText = 256;
// SDP bodies kept, in bytes.
constexpr std::size_t kMaxSdpBody = 4096;

} // namespace g729::tool

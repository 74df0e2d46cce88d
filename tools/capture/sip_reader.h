// SIP signalling read from a capture into calls: each UDP datagram that
// looks like SIP, and each message put back together from TCP segments, is
// parsed with libosip2's parser (loaded when the first one is seen), its
// messages gathered by Call-ID, and the figures of each call worked out as
// they come. The rest of the tool sees only sip_call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tools/capture/sip_call.h"
#include "tools/capture/tcp_stream.h"

namespace g729::tool {

struct g729_stream;

// The CR and LF bytes at the start of `data` (keep-alives between messages).
std::size_t blank_line_bytes(const uint8_t* data, std::size_t size);

// Whether a payload starts like a SIP request ("INVITE sip:... SIP/2.0") or
// response ("SIP/2.0 200 OK"), after any CRLF keep-alives.
bool looks_like_sip(const uint8_t* data, std::size_t size);

class sip_reader {
public:
    // One message (a UDP datagram that looks like SIP) from packet
    // `number` of the capture.
    void read(uint64_t number, bool time_known, int64_t time_ns, const endpoint& source, const endpoint& destination,
              const uint8_t* data, std::size_t size);

    // One TCP segment from packet `number`: each message it completes (see
    // sip_tcp_streams) is read with the segment's number and time, and
    // given to `each` too. Returns whether the segment belongs to a
    // direction of SIP followed.
    bool read_tcp(uint64_t number, bool time_known, int64_t time_ns, const endpoint& source, const endpoint& destination,
                  const tcp_header& tcp, const uint8_t* data, std::size_t size, const sip_tcp_streams::message_fn& each);

    // The end of the capture: a message still held of a TCP stream is
    // counted as partial.
    void finish();

    // The calls, by start time.
    std::vector<sip_call> take_calls();
    const sip_counts& counts() const { return counts_; }

private:
    struct call_state {
        endpoint caller_at;      // where the first INVITE came from
        std::string caller_tag;  // its From tag
        bool answered = false;   // a 2xx to the INVITE seen
        int64_t answered_ns = 0;
        bool acked = false;
        int64_t ack_ns = 0;
        bool bye = false;
        bool error_end = false;  // end is an error response, which a new INVITE (after 401, 407, 3xx) takes back
        bool offer_from_caller = false;
    };
    struct message;

    void read_message(uint64_t number, int64_t time_ns, const endpoint& source, const endpoint& destination, const char* text,
                      std::size_t size);
    void add(const message& m, uint64_t number, int64_t time_ns, const endpoint& source, const endpoint& destination);

    std::map<std::string, std::size_t> by_call_id_;
    std::vector<sip_call> calls_;
    std::vector<call_state> states_;
    std::size_t kept_ = 0;
    sip_tcp_streams tcp_;
    sip_counts counts_;
};

// Gives each call the G.729 streams (indices into `streams`) whose source
// or destination is an address and port that an SDP of the call
// describes. A stream goes to one call: of those it could belong to, the
// last one begun before it (a port used again by a later call), else the
// first.
void group_streams(std::vector<sip_call>& calls, const std::vector<g729_stream>& streams);

} // namespace g729::tool

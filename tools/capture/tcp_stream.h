// SIP over TCP put back together from a capture's segments. For each
// direction of a connection (source and destination endpoints) the bytes
// after the last whole message are held until the segments that follow
// complete it; the held bytes are cut into messages by their
// Content-Length. A message spread over several segments (an INVITE whose
// SDP takes it over the MTU) is read once, whole, at the segment that
// completes it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <utility>
#include <vector>

#include "tools/capture/packets.h"

namespace g729::tool {

// Bytes held for one direction: a message longer than this (header and
// body) is counted and passed over, not read.
constexpr std::size_t kMaxTcpHeld = 64 * 1024;
// Directions followed at once; a new one beyond them drops the one idle
// longest.
constexpr std::size_t kMaxTcpFlows = 4096;
// Bytes held over all the directions together: past it, those idle
// longest are dropped, so that memory follows the limit and not the capture.
constexpr std::size_t kMaxTcpHeldTotal = 16 * 1024 * 1024;

struct tcp_counts {
    // Messages that could not be read whole: cut by a segment missing from
    // the capture, by the connection's close or reset, by the end of the
    // capture or by a direction dropped, longer than kMaxTcpHeld, or bytes
    // in the stream that start no SIP message. Where a lost segment may
    // have held several, they count as one.
    std::size_t partial = 0;
    std::size_t flows_dropped = 0; // directions dropped for newer ones (kMaxTcpFlows, kMaxTcpHeldTotal)
};

// The length of the SIP message (header and Content-Length bytes of body)
// at the start of `data`, after any blank lines (which it includes): 0
// when `data` may still become one but holds only its beginning, -1 when
// it is no SIP message or its length is none that can be read. The first
// `searched` bytes (after the blank lines) are known to hold no header end.
long sip_message_length(const uint8_t* data, std::size_t size, std::size_t searched = 0);

class sip_tcp_streams {
public:
    using message_fn = std::function<void(const uint8_t* data, std::size_t size)>;

    // One segment from `source` to `destination`. A direction is followed
    // from its first segment that starts like SIP, until it closes or is
    // reset. Segments come in sequence order: one that repeats bytes
    // already taken (a retransmission) gives only what is new; one beyond
    // the next expected (a segment lost before it) drops the message held
    // and reading starts again at the next segment that starts like SIP.
    // Each message this segment completes goes to `each`, in order.
    // Returns whether the segment belongs to a direction followed.
    bool add(const endpoint& source, const endpoint& destination, const tcp_header& tcp, const uint8_t* data, std::size_t size,
             const message_fn& each);

    // The end of the capture: what is still held is counted.
    void finish();

    const tcp_counts& counts() const { return counts_; }

private:
    using flow_key = std::pair<endpoint, endpoint>;
    struct flow {
        uint32_t next = 0;         // the sequence number of the next byte expected
        std::vector<uint8_t> held; // after the last whole message
        std::size_t skip = 0;      // bytes still to pass of a message over kMaxTcpHeld
        std::size_t searched = 0;  // bytes of the held message searched for its header's end
        bool resync = false;       // after a loss: waiting for a segment that starts like SIP
        uint64_t used = 0;         // its place in idle_
    };
    using flow_map = std::map<flow_key, flow>;

    void take(flow& f, const uint8_t* data, std::size_t size, const message_fn& each);
    bool lose_held(flow& f);
    void drop(flow_map::iterator it);

    flow_map flows_;
    std::map<uint64_t, flow_key> idle_; // by last use, oldest first
    uint64_t clock_ = 0;
    std::size_t held_total_ = 0;
    tcp_counts counts_;
};

} // namespace g729::tool

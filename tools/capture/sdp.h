// The SDP that SIP messages in a capture carry: the media each end offers
// or answers (address, port, payload types and codecs, ptime, direction),
// and from it which payload types each end maps to G.729 on the address
// and port it receives them on.
#pragma once

#include <cstddef>
#include <set>
#include <string>
#include <vector>

#include "tools/capture/packets.h"

namespace g729::tool {

// One m= description: where its media is received and what it may carry.
struct sdp_media {
    std::string media;             // audio, video, ... (bounded)
    endpoint receiver;             // the c= address (the media's or the session's) and the m= port
    bool has_address = false;      // a c= line was read for it
    std::vector<std::string> codecs; // one per payload type of the m= line, in its order: "18 G729/8000", "101 telephone-event/8000", "0"
    std::set<int> g729_types;      // those whose a=rtpmap names G.729 at 8000 Hz
    std::set<int> event_types;     // and those it names telephone-event/8000
    int ptime = 0;                 // a=ptime in ms, 0 when not given
    std::string direction = "sendrecv"; // a=sendrecv, sendonly, recvonly or inactive (the media's, else the session's)
    endpoint rtcp;                 // a=rtcp: where its RTCP is received, when not on the port above its RTP
    bool has_rtcp = false;         // an a=rtcp was read, with the address it names or else the media's
};

// Media descriptions read from one SDP; the rest of a crafted body is not.
constexpr std::size_t kMaxSdpMedia = 16;
// Payload types kept per media description.
constexpr std::size_t kMaxSdpCodecs = 32;

// Every media description in `text` (a SIP message, or a bare SDP body).
std::vector<sdp_media> read_sdp_media(const char* text, std::size_t size);

// G.729 payload types announced in SDP: the address and port each media
// description receives on (and its RTCP on, when a=rtcp names one), with the payload types its a=rtpmap lines map to
// G729 (or G729A/G729B/G729AB) at 8000 Hz, and those they map to RFC 4733
// telephone-event at 8000 Hz.
struct sdp_g729 {
    endpoint receiver;
    endpoint rtcp; // where the receiver's RTCP goes, when its a=rtcp says
    bool has_rtcp = false;
    std::set<int> payload_types;
    std::set<int> event_payload_types;
};

// The audio descriptions of read_sdp_media that have an address, a port
// and G.729 or telephone-event in their rtpmap.
std::vector<sdp_g729> read_sdp(const char* text, std::size_t size);

// "10.0.0.1:4000 G729/8000 ptime 20 sendrecv rtcp 10.0.0.1:4011": one
// description in a line.
std::string sdp_media_text(const sdp_media& m);

} // namespace g729::tool

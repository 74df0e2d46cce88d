#include "tools/capture/sdp.h"

#include <arpa/inet.h>

#include <cctype>
#include <map>
#include <string>

#include "tools/common/text.h"

namespace g729::tool {

namespace {

std::vector<std::string> words(const std::string& line) {
    std::vector<std::string> out;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) ++i;
        const std::size_t start = i;
        while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i]))) ++i;
        if (i > start) out.push_back(line.substr(start, i - start));
    }
    return out;
}

// c=IN IP4 10.0.0.1 (or IP6, an optional /ttl after the address).
bool read_connection(const std::string& value, endpoint& at) {
    const std::vector<std::string> w = words(value);
    if (w.size() < 3 || w[0] != "IN") return false;
    const std::string address = w[2].substr(0, w[2].find('/'));
    endpoint e;
    if (w[1] == "IP4") {
        if (inet_pton(AF_INET, address.c_str(), e.address.data()) != 1) return false;
    } else if (w[1] == "IP6") {
        e.v6 = true;
        if (inet_pton(AF_INET6, address.c_str(), e.address.data()) != 1) return false;
    } else {
        return false;
    }
    at = e;
    return true;
}

// a=rtcp:PORT, or a=rtcp:PORT IN IP4 ADDRESS (or IP6), the value after
// "rtcp:": the port a media's RTCP is received on, when not the one above its
// RTP, and on which address when not the media's. The attribute is read
// whole or not at all: a port outside 1..65535, anything after it that is
// not a whole connection address (a host name among them: nothing in a
// capture says where it leads) leave the media's RTCP where it was.
bool read_rtcp_attribute(const std::string& value, uint16_t& port, endpoint& at, bool& has_address) {
    const std::vector<std::string> w = words(value);
    if (w.empty() || w[0].size() > 5 || w[0].find_first_not_of("0123456789") != std::string::npos) return false;
    const int p = std::atoi(w[0].c_str());
    if (p < 1 || p > 65535) return false;
    if (w.size() == 1) {
        has_address = false;
    } else if (w.size() == 4 && read_connection(w[1] + " " + w[2] + " " + w[3], at)) {
        has_address = true;
    } else {
        return false;
    }
    port = uint16_t(p);
    return true;
}

bool is_g729_name(const std::string& encoding) {
    // "G729/8000" or "G729/8000/1"; G729A, G729B and G729AB name the same
    // frames. G729D and G729E are other rates, not read here.
    const std::string e = lower(encoding);
    const std::size_t slash = e.find('/');
    if (slash == std::string::npos) return false;
    const std::string name = e.substr(0, slash);
    const std::string rate = e.substr(slash + 1, e.find('/', slash + 1) - slash - 1);
    return (name == "g729" || name == "g729a" || name == "g729b" || name == "g729ab") && rate == "8000";
}

// The name of a static payload type (RFC 3551) that may come without an
// rtpmap line; empty for the others.
const char* static_codec(int pt) {
    switch (pt) {
    case 0: return "PCMU/8000";
    case 3: return "GSM/8000";
    case 4: return "G723/8000";
    case 8: return "PCMA/8000";
    case 9: return "G722/8000";
    case 18: return "G729/8000";
    default: return "";
    }
}

bool is_direction(const std::string& a) {
    return a == "sendrecv" || a == "sendonly" || a == "recvonly" || a == "inactive";
}

// Strings kept from a description: a media name or an encoding name.
constexpr std::size_t kMaxSdpWord = 64;

std::string bounded(const std::string& s) { return s.substr(0, kMaxSdpWord); }

// "telephone-event/8000": the events beside 8 kHz audio, on its clock.
bool is_event_name(const std::string& encoding) { return lower(encoding) == "telephone-event/8000"; }

} // namespace

std::vector<sdp_media> read_sdp_media(const char* text, std::size_t size) {
    std::vector<sdp_media> found;
    endpoint session_address;
    bool have_session_address = false;
    std::string session_direction = "sendrecv";
    bool in_media = false;
    sdp_media m;
    std::vector<int> listed; // the m= line's payload types
    std::map<int, std::string> encodings;
    // The media's a=rtcp: its port, and its address when it names one.
    uint16_t rtcp_port = 0;
    endpoint rtcp_address;
    bool rtcp_has_address = false;

    auto close_media = [&] {
        if (in_media && found.size() < kMaxSdpMedia) {
            if (!m.has_address && have_session_address) {
                const uint16_t port = m.receiver.port;
                m.receiver = session_address;
                m.receiver.port = port;
                m.has_address = true;
            }
            // Without an address of its own the attribute is about the
            // media's, known only now that the session's c= may stand in.
            if (rtcp_port > 0 && (rtcp_has_address || m.has_address)) {
                m.rtcp = rtcp_has_address ? rtcp_address : m.receiver;
                m.rtcp.port = rtcp_port;
                m.has_rtcp = true;
            }
            for (int pt : listed) {
                const auto e = encodings.find(pt);
                const std::string name = e != encodings.end() ? e->second : static_codec(pt);
                m.codecs.push_back(std::to_string(pt) + (name.empty() ? "" : " " + name));
            }
            found.push_back(m);
        }
        in_media = false;
        m = sdp_media{};
        m.direction = session_direction;
        listed.clear();
        encodings.clear();
        rtcp_port = 0;
        rtcp_has_address = false;
    };

    std::size_t i = 0;
    while (i < size) {
        std::size_t end = i;
        while (end < size && text[end] != '\n' && text[end] != '\r') ++end;
        const std::string line(text + i, end - i);
        i = end;
        while (i < size && (text[i] == '\n' || text[i] == '\r')) ++i;
        if (line.size() < 2 || line[1] != '=') continue;
        const std::string value = line.substr(2);
        switch (line[0]) {
        case 'v':
            close_media();
            have_session_address = false;
            session_direction = "sendrecv";
            m.direction = session_direction;
            break;
        case 'm': {
            close_media();
            const std::vector<std::string> w = words(value);
            in_media = true;
            m.media = w.empty() ? "" : bounded(w[0]);
            const int port = w.size() > 1 ? std::atoi(w[1].c_str()) : 0;
            m.receiver.port = port > 0 && port <= 65535 ? uint16_t(port) : 0;
            for (std::size_t k = 3; k < w.size() && listed.size() < kMaxSdpCodecs; ++k) {
                const int pt = std::atoi(w[k].c_str());
                if (pt >= 0 && pt < 128 && w[k].find_first_not_of("0123456789") == std::string::npos) listed.push_back(pt);
            }
            break;
        }
        case 'c':
            if (in_media) {
                endpoint at;
                if (read_connection(value, at)) {
                    at.port = m.receiver.port;
                    m.receiver = at;
                    m.has_address = true;
                }
            } else {
                have_session_address = read_connection(value, session_address) || have_session_address;
            }
            break;
        case 'a':
            if (is_direction(value)) {
                if (in_media)
                    m.direction = value;
                else
                    session_direction = m.direction = value;
            } else if (in_media && value.rfind("ptime:", 0) == 0) {
                const int ptime = std::atoi(value.c_str() + 6);
                if (ptime > 0 && ptime <= 1000) m.ptime = ptime;
            } else if (in_media && rtcp_port == 0 && value.rfind("rtcp:", 0) == 0) {
                // One a=rtcp a media; a second one is not read over the first.
                read_rtcp_attribute(value.substr(5), rtcp_port, rtcp_address, rtcp_has_address);
            } else if (in_media && value.rfind("rtpmap:", 0) == 0) {
                const std::vector<std::string> w = words(value.substr(7));
                if (w.size() >= 2) {
                    const int pt = std::atoi(w[0].c_str());
                    if (pt >= 0 && pt < 128) {
                        if (encodings.size() < kMaxSdpCodecs) encodings[pt] = bounded(w[1]);
                        if (is_g729_name(w[1])) m.g729_types.insert(pt);
                        if (is_event_name(w[1])) m.event_types.insert(pt);
                    }
                }
            }
            break;
        default: break;
        }
    }
    close_media();
    return found;
}

std::vector<sdp_g729> read_sdp(const char* text, std::size_t size) {
    std::vector<sdp_g729> found;
    for (const sdp_media& m : read_sdp_media(text, size))
        if (m.media == "audio" && m.has_address && m.receiver.port > 0 && (!m.g729_types.empty() || !m.event_types.empty()))
            found.push_back(sdp_g729{m.receiver, m.rtcp, m.has_rtcp, m.g729_types, m.event_types});
    return found;
}

std::string sdp_media_text(const sdp_media& m) {
    std::string text = m.has_address ? m.receiver.text() : "port " + std::to_string(m.receiver.port);
    if (m.media != "audio") text += " " + m.media;
    for (const std::string& c : m.codecs) {
        const std::size_t space = c.find(' ');
        text += " " + (space == std::string::npos ? c : c.substr(space + 1));
    }
    if (m.ptime > 0) text += " ptime " + std::to_string(m.ptime);
    text += " " + m.direction;
    if (m.has_rtcp) text += " rtcp " + m.rtcp.text();
    return text;
}
} // namespace g729::tool

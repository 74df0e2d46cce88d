#include "tools/capture/sdp.h"

#include <arpa/inet.h>

#include <cctype>
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

// "telephone-event/8000": the events beside 8 kHz audio, on its clock.
bool is_event_name(const std::string& encoding) { return lower(encoding) == "telephone-event/8000"; }

} // namespace

std::vector<sdp_g729> read_sdp(const char* text, std::size_t size) {
    std::vector<sdp_g729> found;
    endpoint session_address;
    bool have_session_address = false;
    bool in_media = false;
    bool audio = false;
    int port = 0;
    endpoint media_address;
    bool have_media_address = false;
    std::set<int> pts;
    std::set<int> event_pts;

    auto close_media = [&] {
        if (in_media && audio && port > 0 && (!pts.empty() || !event_pts.empty()) && (have_media_address || have_session_address)) {
            sdp_g729 s;
            s.receiver = have_media_address ? media_address : session_address;
            s.receiver.port = uint16_t(port);
            s.payload_types = pts;
            s.event_payload_types = event_pts;
            found.push_back(s);
        }
        in_media = audio = have_media_address = false;
        port = 0;
        pts.clear();
        event_pts.clear();
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
            break;
        case 'm': {
            close_media();
            const std::vector<std::string> w = words(value);
            in_media = true;
            audio = !w.empty() && w[0] == "audio";
            if (w.size() > 1) port = std::atoi(w[1].c_str());
            if (port < 0 || port > 65535) port = 0;
            break;
        }
        case 'c':
            if (in_media)
                have_media_address = read_connection(value, media_address) || have_media_address;
            else
                have_session_address = read_connection(value, session_address) || have_session_address;
            break;
        case 'a':
            if (in_media && value.rfind("rtpmap:", 0) == 0) {
                const std::vector<std::string> w = words(value.substr(7));
                const int pt = w.size() >= 2 ? std::atoi(w[0].c_str()) : -1;
                if (pt >= 0 && pt < 128 && is_g729_name(w[1])) pts.insert(pt);
                if (pt >= 0 && pt < 128 && is_event_name(w[1])) event_pts.insert(pt);
            }
            break;
        default: break;
        }
    }
    close_media();
    return found;
}
} // namespace g729::tool

#include "tools/capture/call.h"

#include <algorithm>
#include <map>
#include <set>

#include "tools/capture/capture_reader.h"
#include "tools/capture/sdp.h"
#include "tools/capture/sip_reader.h"
#include "tools/common/text.h"
#include "tools/common/tool_error.h"

namespace g729::tool {

namespace {

struct collected_stream {
    std::vector<rtp_packet> packets;
    std::map<int, std::size_t> audio_types; // G.729 packets by payload type
};

// Streams of other codecs listed by info, and addresses SDP describes;
// beyond this many (a crafted capture can make one per packet) streams are
// only counted as other traffic and SDP is not read, so that memory follows
// the G.729 kept and not the capture.
constexpr std::size_t kMaxOtherStreams = 10000;
// The RTCP reports listed for all of a capture's streams together.
constexpr std::size_t kMaxRtcpListed = 20000;
// How far outside a stream's packets an RTCP report may arrive and still be
// about it: reports come every few seconds, and one may follow the last
// packet by an interval.
constexpr int64_t kRtcpSlackNs = int64_t(60) * 1000 * 1000 * 1000;

bool looks_like_sdp(const uint8_t* data, std::size_t size) {
    static const char kMedia[] = "m=audio";
    return size > 0 && std::search(data, data + size, kMedia, kMedia + sizeof kMedia - 1) != data + size;
}

using sdp_map = std::map<endpoint, std::set<int>>;
// Where the RTCP of an RTP receiver goes when its SDP's a=rtcp moves it off
// the port above: one receiver may be offered again with another port.
using rtcp_map = std::map<endpoint, std::set<endpoint>>;
// The RTCP endpoints kept for one receiver; a crafted capture can offer it
// again and again, each time with another port.
constexpr std::size_t kMaxRtcpEndpoints = 16;

// The first pass: the payload types that SDP anywhere in the capture maps
// to G.729 (and, into `events`, to telephone-event), by the address and
// port that receives them, where those receive their RTCP when a=rtcp
// says (into `rtcp`), and the SIP calls. Reading them all first lets
// the second pass keep only G.729 packets, whatever the order of signalling
// and media in the file.
sdp_map read_signalling(const capture_source& in, capture_contents& c, sip_reader& sip, sdp_map& events, rtcp_map& rtcp) {
    const std::string& path = in.name;
    capture_reader reader(in.open, in.name);
    c.format = reader.format();
    c.link = link_type_name(reader.link_type());
    if (!known_link_type(reader.link_type()))
        throw tool_error(path, "link type " + c.link +
                                   ": the capture is read from Ethernet, Linux cooked capture, raw IP or loopback");
    sdp_map mappings;
    auto read_sdp_in = [&](const uint8_t* data, std::size_t size) {
        if (!looks_like_sdp(data, size)) return;
        for (const sdp_g729& s : read_sdp(reinterpret_cast<const char*>(data), size))
            if (mappings.size() < kMaxOtherStreams || mappings.count(s.receiver)) {
                mappings[s.receiver].insert(s.payload_types.begin(), s.payload_types.end());
                events[s.receiver].insert(s.event_payload_types.begin(), s.event_payload_types.end());
                if (s.has_rtcp && rtcp[s.receiver].size() < kMaxRtcpEndpoints) rtcp[s.receiver].insert(s.rtcp);
            }
    };
    captured_packet packet;
    while (reader.next(packet)) {
        const ip_payload ip = unwrap_packet(reader.link_type(), packet.data, packet.captured);
        if (ip.kind != packet_class::udp && ip.kind != packet_class::tcp) continue;
        // SIP over TCP is read message by message as its segments complete
        // them, the SDP of each with it.
        if (ip.kind == packet_class::tcp && sip.read_tcp(packet.number, packet.time_known, packet.time_ns, ip.source, ip.destination,
                                                         ip.tcp, ip.data, ip.size, read_sdp_in))
            continue;
        if (ip.kind == packet_class::udp && looks_like_sip(ip.data, ip.size))
            sip.read(packet.number, packet.time_known, packet.time_ns, ip.source, ip.destination, ip.data, ip.size);
        read_sdp_in(ip.data, ip.size);
    }
    sip.finish();
    return mappings;
}

// The same address with the port above: where RTCP goes beside RTP.
endpoint rtcp_port_of(const endpoint& e) {
    endpoint next = e;
    next.port = uint16_t(e.port + 1);
    return next;
}

// Gives each stream the RTCP reports that concern it. A report is about a
// stream only when its packet went between the stream's two ends (their
// RTP ports, the RTCP ports next to them, or where their SDP's a=rtcp put
// their RTCP) and arrived while the stream ran: an SSRC is chosen at
// random by each sender, so one seen between other hosts, or long after,
// is another stream's. And finishes each stream's figures with them.
void match_rtcp(capture_contents& c, const command_options& options, const rtcp_map& rtcp) {
    std::map<std::pair<endpoint, endpoint>, std::vector<const rtcp_report*>> by_flow;
    for (std::size_t i = 0; i < c.rtcp.size(); ++i) by_flow[c.rtcp_flows[i]].push_back(&c.rtcp[i]);
    std::size_t budget = kMaxRtcpListed;
    for (g729_stream& g : c.streams) {
        const stream_stats& st = g.rebuilt.stats;
        const int64_t from = saturating_sub(st.first_arrival_ns, kRtcpSlackNs);
        const int64_t to = saturating_add(st.last_arrival_ns, kRtcpSlackNs);
        auto ends = [&](const endpoint& e) {
            std::set<endpoint> all{e};
            if (e.port < 0xFFFF) all.insert(rtcp_port_of(e));
            const auto announced = rtcp.find(e);
            if (announced != rtcp.end()) all.insert(announced->second.begin(), announced->second.end());
            return all;
        };
        auto between = [&](const endpoint& sender, const endpoint& receiver) {
            std::vector<const rtcp_report*> found;
            for (const endpoint& s : ends(sender))
                for (const endpoint& d : ends(receiver)) {
                    const auto it = by_flow.find({s, d});
                    if (it == by_flow.end()) continue;
                    for (const rtcp_report* r : it->second)
                        if (r->arrival_ns >= from && r->arrival_ns <= to) found.push_back(r);
                }
            // In capture order: the reports are one list.
            std::sort(found.begin(), found.end());
            return found;
        };
        finish_network(g.network, g.rebuilt, g.key.ssrc, between(g.key.source, g.key.destination),
                       between(g.key.destination, g.key.source), budget, options.one_way_delay_ms);
    }
}

} // namespace

capture_contents read_capture(const capture_source& in, const command_options& options) {
    capture_contents c;
    sip_reader sip;
    sdp_map sdp_events;
    rtcp_map sdp_rtcp;
    const sdp_map sdp = read_signalling(in, c, sip, sdp_events, sdp_rtcp);
    capture_reader reader(in.open, in.name);
    std::set<endpoint> described;
    for (const auto& [receiver, types] : sdp) described.insert(receiver);
    event_collector events(std::move(sdp_events), std::move(described));

    // Which payload types are G.729 on a flow: 18, those given with --pt,
    // and those the SDP of either end maps to G729. An SDP binds its types
    // to the address and port it describes and nowhere else.
    const std::set<int> always = [&] {
        std::set<int> t{kG729PayloadType};
        t.insert(options.payload_types.begin(), options.payload_types.end());
        return t;
    }();
    auto by_sdp = [&](const endpoint& e, int pt) {
        const auto it = sdp.find(e);
        return it != sdp.end() && it->second.count(pt) > 0;
    };

    std::map<stream_key, collected_stream> found;
    std::map<stream_key, other_stream> other_found;
    std::map<std::pair<endpoint, endpoint>, std::size_t> other_versions;
    captured_packet packet;
    while (reader.next(packet)) {
        ++c.packets;
        const ip_payload ip = unwrap_packet(reader.link_type(), packet.data, packet.captured);
        switch (ip.kind) {
        case packet_class::truncated: ++c.skipped.truncated; continue;
        case packet_class::fragment: ++c.skipped.fragments; continue;
        case packet_class::udp: break;
        default: ++c.other_traffic; continue;
        }
        rtp_header h;
        switch (parse_rtp(ip.data, ip.size, h)) {
        case rtp_parse::ok: break;
        case rtp_parse::truncated: ++c.skipped.truncated; continue;
        case rtp_parse::wrong_version:
            // SIP, among others, reads as a version other than 2.
            if (other_versions.size() < kMaxOtherStreams || other_versions.count({ip.source, ip.destination}))
                ++other_versions[{ip.source, ip.destination}];
            else
                ++c.other_traffic;
            continue;
        case rtp_parse::rtcp:
            if (packet.time_known && c.rtcp.size() < kMaxRtcpReports) {
                read_rtcp(ip.data, ip.size, packet.time_ns, c.rtcp);
                // One compound packet may hold thousands of reports.
                if (c.rtcp.size() > kMaxRtcpReports) c.rtcp.resize(kMaxRtcpReports);
                c.rtcp_flows.resize(c.rtcp.size(), {ip.source, ip.destination});
            } else if (packet.time_known) {
                ++c.rtcp_packets_not_read;
            }
            ++c.other_traffic;
            continue;
        default: ++c.other_traffic; continue;
        }
        const stream_key key{ip.source, ip.destination, h.ssrc};
        const bool audio = always.count(h.payload_type) > 0 || by_sdp(ip.destination, h.payload_type) ||
                           by_sdp(ip.source, h.payload_type);
        // A type read as G.729 is never taken for telephone events.
        if (!audio && packet.time_known) events.add(ip.source, ip.destination, h, packet.time_ns);
        auto it = found.find(key);
        if (it == found.end() && !audio) {
            const auto o = other_found.find(key);
            if (o != other_found.end())
                ++o->second.packets;
            else if (other_found.size() < kMaxOtherStreams)
                other_found[key] = other_stream{key, h.payload_type, 1};
            else
                ++c.other_traffic;
            continue;
        }
        if (!packet.time_known) {
            if (c.skipped.bad_time++ == 0) c.skipped.first_bad_time = packet.number;
            continue;
        }
        if (it == found.end()) {
            it = found.emplace(key, collected_stream{}).first;
            // Packets of another type before the first G.729 one.
            const auto o = other_found.find(key);
            if (o != other_found.end()) {
                c.skipped.other_payload += o->second.packets;
                other_found.erase(o);
            }
        }
        rtp_packet p;
        p.arrival_ns = packet.time_ns;
        p.number = packet.number;
        p.sequence = h.sequence;
        p.timestamp = h.timestamp;
        p.marker = h.marker;
        p.payload_type = h.payload_type;
        p.audio = audio;
        p.payload_size = h.payload_size;
        // Another type (telephone events, say) keeps its place in the
        // sequence but not its bytes.
        if (audio) {
            p.payload.assign(h.payload, h.payload + h.payload_size);
            ++it->second.audio_types[h.payload_type];
        }
        it->second.packets.push_back(std::move(p));
    }
    c.problem = reader.problem();
    confirm_round_trips(c.rtcp);

    const std::size_t max_gap_frames = std::size_t(options.max_gap_seconds) * 100;
    std::set<std::pair<endpoint, endpoint>> g729_flows;
    for (auto& [key, s] : found) {
        g729_stream g;
        g.key = key;
        g.payload_type = std::max_element(s.audio_types.begin(), s.audio_types.end(), [](const auto& a, const auto& b) {
                             return a.second < b.second;
                         })->first;
        if (g.payload_type != kG729PayloadType)
            g.payload_source = always.count(g.payload_type) ? "--pt" : "SDP";
        g.network = analyse_network(s.packets, options.jitter_buffer, &g.packets);
        std::vector<packet_fate> fates(g.packets.rows.size());
        g.rebuilt = rebuild_stream(s.packets, max_gap_frames, &fates);
        for (std::size_t i = 0; i < fates.size(); ++i) {
            packet_row& r = g.packets.rows[i];
            r.lost_before = fates[i].lost_before;
            r.reordered = fates[i].reordered;
            r.duplicate = fates[i].duplicate;
            r.stale = fates[i].stale;
        }
        std::vector<rtp_packet>().swap(s.packets); // the timeline holds the frames now
        c.skipped.other_payload += g.rebuilt.stats.other_payload;
        c.skipped.unusable += g.rebuilt.stats.unusable;
        g729_flows.insert({key.source, key.destination});
        c.streams.push_back(std::move(g));
    }
    for (const auto& [key, o] : other_found) {
        // A lone packet that happens to look like RTP is not a stream.
        if (o.packets < 2) {
            c.other_traffic += o.packets;
        } else {
            c.skipped.other_payload += o.packets;
            c.others.push_back(o);
        }
    }
    // A packet of another RTP version on a G.729 stream's ports is a broken
    // packet of that stream; elsewhere it is just other traffic.
    for (const auto& [flow, n] : other_versions) {
        if (g729_flows.count(flow))
            c.skipped.wrong_version += n;
        else
            c.other_traffic += n;
    }
    match_rtcp(c, options, sdp_rtcp);
    std::vector<event_owner> owners;
    for (g729_stream& g : c.streams)
        owners.push_back({g.key.source, g.key.destination, g.key.ssrc, g.rebuilt.stats.first_arrival_ns,
                          g.rebuilt.stats.last_arrival_ns, &g.events});
    events.attach(owners);
    std::stable_sort(c.streams.begin(), c.streams.end(), [](const g729_stream& a, const g729_stream& b) {
        return a.rebuilt.stats.start_ns < b.rebuilt.stats.start_ns;
    });
    c.calls = sip.take_calls();
    c.sip = sip.counts();
    group_streams(c.calls, c.streams);
    return c;
}

void check_readable(const std::string& path, const capture_contents& c) {
    if (c.packets == 0 && !c.problem.empty()) throw tool_error(path, "no packet can be read: " + c.problem);
}

capture_contents read_call(const capture_source& in, const command_options& options) {
    capture_contents c = read_capture(in, options);
    check_readable(in.name, c);
    if (c.streams.empty()) throw tool_error(in.name, no_g729_text(c));
    return c;
}

std::vector<const g729_stream*> chosen_streams(const std::string& path, const capture_contents& c, const command_options& options) {
    std::vector<const g729_stream*> chosen;
    for (const g729_stream& s : c.streams)
        if (!options.stream || s.key.ssrc == *options.stream) chosen.push_back(&s);
    if (chosen.empty()) {
        std::vector<const g729_stream*> all;
        for (const g729_stream& s : c.streams) all.push_back(&s);
        throw tool_error(path, "no G.729 stream has SSRC " + hex_ssrc(*options.stream) + "; the capture holds " + stream_list(all));
    }
    return chosen;
}


// The audio a decode may write when --max-audio does not say: ten minutes,
// and twenty times the audio that the chosen streams' packets carry. A real
// call is mostly received frames (speech, and comfort noise between), so
// even two outputs of every stream (files and --mix) with long silences
// stay far below; a capture of a few packets spread over hours does not.
std::size_t audio_limit_frames(const command_options& options, const std::vector<const g729_stream*>& chosen) {
    if (options.max_audio_seconds > 0) return std::size_t(options.max_audio_seconds) * 100;
    std::size_t received = 0;
    for (const g729_stream* s : chosen) received += s->rebuilt.stats.speech_frames + s->rebuilt.stats.sid_frames;
    return 600 * 100 + 20 * received;
}

// Refuses, naming the file, a run that would decode `total` frames of the
// chosen streams, more than their limit on audio: "would VERB ... of
// audio PURPOSE, more than the limit of ...".
void check_audio_limit(const std::string& path, std::size_t total, const char* verb, const char* purpose,
                       const command_options& options, const std::vector<const g729_stream*>& chosen) {
    const std::size_t limit = audio_limit_frames(options, chosen);
    if (total > limit)
        throw tool_error(path, std::string("would ") + verb + " " + hours_text(total) + " of audio" + purpose +
                                   ", more than the limit of " + hours_text(limit) +
                                   (options.max_audio_seconds > 0 ? "" : " (ten minutes and twenty times the audio its packets carry)") +
                                   "; --max-audio SECONDS raises it");
}

} // namespace g729::tool

#include "tools/capture/commands.h"

#include <sndfile.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <tuple>

#include "g729a.h"
#include "tools/formats/audio_io.h"
#include "tools/capture/capture_file.h"
#include "tools/cli/codec_handles.h"
#include "tools/cli/json.h"
#include "tools/cli/output_file.h"
#include "tools/cli/progress.h"
#include "tools/cli/standard_input.h"
#include "tools/capture/network_report.h"
#include "tools/capture/rtp_stream.h"
#include "tools/plot/plot.h"
#include "tools/formats/sndfile_descriptor.h"
#include "tools/cli/text.h"
#include "tools/cli/tool_error.h"

namespace g729::tool {

namespace {

constexpr int kG729PayloadType = 18;
constexpr int kFrameSamples = G729A_FRAME_SAMPLES;

std::string hex_ssrc(uint32_t ssrc) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", ssrc);
    return text;
}

std::string capture_time(int64_t ns) {
    // Rounded down, also before 1970, without going past the ends of the range.
    int64_t whole = ns / 1000000000;
    int64_t rest = ns % 1000000000;
    if (rest < 0) {
        --whole;
        rest += 1000000000;
    }
    const std::time_t seconds = std::time_t(whole);
    const long micros = long(rest / 1000);
    std::tm tm{};
    gmtime_r(&seconds, &tm);
    char text[64];
    const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
    std::snprintf(text + n, sizeof text - n, ".%06ld UTC", micros);
    return text;
}

// --- reading the capture ------------------------------------------------

struct stream_key {
    endpoint source;
    endpoint destination;
    uint32_t ssrc = 0;
    bool operator<(const stream_key& o) const {
        return std::tie(source, destination, ssrc) < std::tie(o.source, o.destination, o.ssrc);
    }
};

struct collected_stream {
    std::vector<rtp_packet> packets;
    std::map<int, std::size_t> audio_types; // G.729 packets by payload type
};

// An RTP stream of no G.729: counted, never kept.
struct other_stream {
    stream_key key;
    int payload_type = 0;
    std::size_t packets = 0;
};

// Streams of other codecs listed by info, and addresses SDP describes;
// beyond this many (a crafted capture can make one per packet) streams are
// only counted as other traffic and SDP is not read, so that memory follows
// the G.729 kept and not the capture.
constexpr std::size_t kMaxOtherStreams = 10000;
// RTCP reports kept from one capture, for the same reason (each may carry
// 31 blocks), and the reports listed for all of its streams together.
constexpr std::size_t kMaxRtcpReports = 10000;
constexpr std::size_t kMaxRtcpListed = 20000;
// How far outside a stream's packets an RTCP report may arrive and still be
// about it: reports come every few seconds, and one may follow the last
// packet by an interval.
constexpr int64_t kRtcpSlackNs = int64_t(60) * 1000 * 1000 * 1000;

// Packets the tool cannot use, by reason.
struct skipped_counts {
    std::size_t truncated = 0;
    std::size_t fragments = 0;
    std::size_t wrong_version = 0;
    std::size_t other_payload = 0;
    std::size_t unusable = 0;
    std::size_t bad_time = 0;
    uint64_t first_bad_time = 0; // the capture's packet number
    std::size_t total() const { return truncated + fragments + wrong_version + other_payload + unusable + bad_time; }
};

struct g729_stream {
    stream_key key;
    int payload_type = kG729PayloadType;
    const char* payload_source = "static";
    rebuilt_stream rebuilt;
    stream_network network;
};

struct capture_contents {
    std::string format;
    std::string link;
    std::size_t packets = 0;
    std::size_t other_traffic = 0; // not IP/UDP RTP at all: ARP, DNS, SIP, RTCP, ...
    skipped_counts skipped;
    std::vector<g729_stream> streams; // by start time
    std::vector<other_stream> others;
    std::string problem; // why reading stopped before the end of the file
    // The capture's RTCP reports, held once however many streams they
    // concern (the streams point into this list), each with the source
    // and destination of its packet.
    std::vector<rtcp_report> rtcp;
    std::vector<std::pair<endpoint, endpoint>> rtcp_flows;
    std::size_t rtcp_packets_not_read = 0; // beyond kMaxRtcpReports
};

bool looks_like_sdp(const uint8_t* data, std::size_t size) {
    static const char kMedia[] = "m=audio";
    return size > 0 && std::search(data, data + size, kMedia, kMedia + sizeof kMedia - 1) != data + size;
}

using sdp_map = std::map<endpoint, std::set<int>>;

// Where a capture is read from, and how messages name it (standard input
// is read from a copy).
struct capture_source {
    std::string open;
    std::string name;
};

// The first pass: the payload types that SDP anywhere in the capture maps
// to G.729, by the address and port that receives them. Reading them all
// first lets the second pass keep only G.729 packets, whatever the order of
// signalling and media in the file.
sdp_map read_sdp_mappings(const capture_source& in, capture_contents& c) {
    const std::string& path = in.name;
    capture_reader reader(in.open, in.name);
    c.format = reader.format();
    c.link = link_type_name(reader.link_type());
    if (!known_link_type(reader.link_type()))
        throw tool_error(path, "link type " + c.link +
                                   ": the capture is read from Ethernet, Linux cooked capture, raw IP or loopback");
    sdp_map mappings;
    captured_packet packet;
    while (reader.next(packet)) {
        const ip_payload ip = unwrap_packet(reader.link_type(), packet.data, packet.captured);
        if ((ip.kind != packet_class::udp && ip.kind != packet_class::tcp) || !looks_like_sdp(ip.data, ip.size)) continue;
        for (const sdp_g729& s : read_sdp(reinterpret_cast<const char*>(ip.data), ip.size))
            if (mappings.size() < kMaxOtherStreams || mappings.count(s.receiver))
                mappings[s.receiver].insert(s.payload_types.begin(), s.payload_types.end());
    }
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
// RTP ports, or the RTCP ports next to them) and arrived while the stream
// ran: an SSRC is chosen at random by each sender, so one seen between
// other hosts, or long after, is another stream's.
void match_rtcp(capture_contents& c) {
    std::map<std::pair<endpoint, endpoint>, std::vector<const rtcp_report*>> by_flow;
    for (std::size_t i = 0; i < c.rtcp.size(); ++i) by_flow[c.rtcp_flows[i]].push_back(&c.rtcp[i]);
    std::size_t budget = kMaxRtcpListed;
    for (g729_stream& g : c.streams) {
        const stream_stats& st = g.rebuilt.stats;
        const int64_t from = saturating_sub(st.first_arrival_ns, kRtcpSlackNs);
        const int64_t to = saturating_add(st.last_arrival_ns, kRtcpSlackNs);
        auto ends = [](const endpoint& e) {
            std::vector<endpoint> both{e};
            if (e.port < 0xFFFF) both.push_back(rtcp_port_of(e));
            return both;
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
                       between(g.key.destination, g.key.source), budget);
    }
}

capture_contents read_capture(const capture_source& in, const command_options& options) {
    capture_contents c;
    const sdp_map sdp = read_sdp_mappings(in, c);
    capture_reader reader(in.open, in.name);

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
    std::optional<jitter_buffer_setting> buffer;
    if (!options.jitter_buffer.empty()) {
        std::string problem;
        buffer = parse_jitter_buffer(options.jitter_buffer, problem);
        if (!buffer) throw usage_error(problem);
    }
    std::set<std::pair<endpoint, endpoint>> g729_flows;
    for (auto& [key, s] : found) {
        g729_stream g;
        g.key = key;
        g.payload_type = std::max_element(s.audio_types.begin(), s.audio_types.end(), [](const auto& a, const auto& b) {
                             return a.second < b.second;
                         })->first;
        if (g.payload_type != kG729PayloadType)
            g.payload_source = always.count(g.payload_type) ? "--pt" : "SDP";
        g.network = analyse_network(s.packets, buffer);
        g.rebuilt = rebuild_stream(s.packets, max_gap_frames);
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
    match_rtcp(c);
    std::stable_sort(c.streams.begin(), c.streams.end(), [](const g729_stream& a, const g729_stream& b) {
        return a.rebuilt.stats.start_ns < b.rebuilt.stats.start_ns;
    });
    return c;
}

std::string skipped_text(const skipped_counts& s) {
    std::string text;
    auto add = [&](std::size_t n, const char* what) {
        if (n == 0) return;
        text += (text.empty() ? "" : ", ") + std::to_string(n) + " " + what;
    };
    add(s.truncated, "truncated");
    add(s.fragments, "IP fragments");
    add(s.wrong_version, "not RTP version 2");
    add(s.other_payload, "other payload types");
    add(s.unusable, "G.729 payloads without a whole frame");
    if (s.bad_time > 0)
        add(s.bad_time, ("G.729 packets with a capture time out of range (first: packet " + std::to_string(s.first_bad_time) + ")").c_str());
    return text;
}

std::string no_g729_text(const capture_contents& c) {
    std::string text = "no G.729 RTP stream (payload type 18, or one that SDP in the capture or --pt maps to G.729) among " +
                       plural(c.packets, "packet", "packets");
    if (!c.others.empty()) {
        std::set<int> types;
        for (const other_stream& o : c.others) types.insert(o.payload_type);
        std::string list;
        for (int t : types) list += (list.empty() ? "" : ", ") + std::to_string(t);
        text += "; it holds RTP of payload type " + list + " (--pt N reads a type as G.729)";
    }
    return text;
}

std::string cut_short_text(const capture_contents& c) {
    return "cut short after packet " + std::to_string(c.packets) + ": " + c.problem;
}

void check_readable(const std::string& path, const capture_contents& c) {
    if (c.packets == 0 && !c.problem.empty()) throw tool_error(path, "no packet can be read: " + c.problem);
}

// Frames that the shortened gaps of a stream left out.
std::size_t left_out_frames(const rebuilt_stream& r) {
    std::size_t n = 0;
    for (const shortened_gap& g : r.shortened) n += g.claimed - g.kept;
    return n;
}

std::string seconds_text(std::size_t frames) {
    char text[48];
    std::snprintf(text, sizeof text, "%.2f s", double(frames) / 100.0);
    return text;
}

std::string shortened_text(const rebuilt_stream& r) {
    return plural(r.shortened.size(), "gap", "gaps") + ", " + seconds_text(left_out_frames(r)) + " left out";
}

std::string gap_text(const shortened_gap& g, std::size_t max_gap_seconds) {
    return "the gap before packet " + std::to_string(g.packet) + " (sequence " + std::to_string(g.sequence) + ") shortened from " +
           seconds_text(g.claimed) + " to " + seconds_text(g.kept) +
           (g.by_limit ? " (the limit is " + std::to_string(max_gap_seconds) + " s; --max-gap SECONDS raises it)"
                       : " (as much as the capture clock shows)");
}

// --- info ---------------------------------------------------------------

// Seconds since the epoch to the microsecond, from the integer count (a
// double would blur the last digits).
std::string seconds(int64_t ns) {
    const int64_t micros = ns / 1000;
    char text[40];
    std::snprintf(text, sizeof text, "%s%lld.%06lld", micros < 0 ? "-" : "", static_cast<long long>(std::llabs(micros) / 1000000),
                  static_cast<long long>(std::llabs(micros) % 1000000));
    return text;
}

double duration_s(const stream_stats& st) { return double(st.frames) * kFrameSamples / G729A_SAMPLE_RATE; }

std::string rtcp_not_read_text(const capture_contents& c) {
    return plural(c.rtcp_packets_not_read, "packet", "packets") + " after the first " + std::to_string(kMaxRtcpReports) +
           " reports not read (the limit of reports kept from one capture)";
}

void print_info_text(const std::string& path, const capture_contents& c) {
    std::printf("file:          %s\n", path.c_str());
    std::printf("format:        %s, %s\n", c.format.c_str(), c.link.c_str());
    std::printf("packets:       %zu\n", c.packets);
    std::printf("G.729 streams: %zu\n", c.streams.size());
    const std::string skipped = skipped_text(c.skipped);
    std::printf("skipped:       %s\n", skipped.empty() ? "none" : (std::to_string(c.skipped.total()) + " (" + skipped + ")").c_str());
    std::printf("other traffic: %s\n", plural(c.other_traffic, "packet", "packets").c_str());
    if (!c.problem.empty()) std::printf("malformed:     %s\n", cut_short_text(c).c_str());
    if (c.rtcp_packets_not_read > 0) std::printf("RTCP:          %s\n", rtcp_not_read_text(c).c_str());
    for (std::size_t i = 0; i < c.streams.size(); ++i) {
        const g729_stream& s = c.streams[i];
        const stream_stats& st = s.rebuilt.stats;
        std::printf("\nstream %zu:\n", i + 1);
        std::printf("  SSRC:          %s\n", hex_ssrc(s.key.ssrc).c_str());
        std::printf("  source:        %s\n", s.key.source.text().c_str());
        std::printf("  destination:   %s\n", s.key.destination.text().c_str());
        std::printf("  payload type:  %d%s\n", s.payload_type,
                    s.payload_type == kG729PayloadType ? "" : (std::string(" (G.729 by ") + s.payload_source + ")").c_str());
        std::printf("  packets:       %zu\n", st.packets);
        std::printf("  frames:        %zu (%zu speech, %zu SID)\n", st.speech_frames + st.sid_frames, st.speech_frames,
                    st.sid_frames);
        std::printf("  lost:          %s (%s)\n", plural(st.lost_packets, "packet", "packets").c_str(),
                    plural(st.lost_frames, "frame", "frames").c_str());
        std::printf("  duplicated:    %zu\n", st.duplicates);
        std::printf("  reordered:     %zu\n", st.reordered);
        std::printf("  stale:         %zu (dropped: far from the sequence, not a restart)\n", st.stale);
        std::printf("  restarts:      %zu\n", st.restarts);
        std::printf("  DTX gaps:      %zu (%s)\n", st.dtx_gaps, plural(st.dtx_frames, "frame", "frames").c_str());
        if (st.unusable + st.other_payload > 0)
            std::printf("  unused:        %zu without a whole frame, %zu other payload types (%s)\n", st.unusable, st.other_payload,
                        plural(st.skipped_frames, "frame", "frames").c_str());
        if (st.remainders > 0)
            std::printf("  remainders:    %s with bytes after the whole frames (first: packet %llu; those bytes left out)\n",
                        plural(st.remainders, "packet", "packets").c_str(), static_cast<unsigned long long>(st.first_remainder_packet));
        if (!s.rebuilt.shortened.empty())
            std::printf("  shortened:     %s\n", shortened_text(s.rebuilt).c_str());
        std::printf("  first packet:  %s\n", capture_time(st.first_arrival_ns).c_str());
        std::printf("  last packet:   %s\n", capture_time(st.last_arrival_ns).c_str());
        std::printf("  duration:      %.2f s\n", duration_s(st));
        if (st.late_packets > 0) std::printf("  late:          %s (%s concealed)\n", plural(st.late_packets, "packet", "packets").c_str(),
                                             plural(st.late_frames, "frame", "frames").c_str());
        std::fputs(network_text(s.network, "  ", capture_time).c_str(), stdout);
        for (std::size_t k = 0; k < i; ++k)
            if (c.streams[k].key.source == s.key.source && c.streams[k].key.destination == s.key.destination)
                std::printf("  SSRC change:   from %s at %s\n", hex_ssrc(c.streams[k].key.ssrc).c_str(),
                            capture_time(st.first_arrival_ns).c_str());
    }
    if (!c.others.empty()) {
        std::printf("\nother RTP streams (not read as G.729):\n");
        for (const other_stream& o : c.others)
            std::printf("  %s %s -> %s, payload type %d, %s\n", hex_ssrc(o.key.ssrc).c_str(), o.key.source.text().c_str(),
                        o.key.destination.text().c_str(), o.payload_type, plural(o.packets, "packet", "packets").c_str());
    }
}

void print_info_json(const std::string& path, const capture_contents& c) {
    std::string j = "{\n";
    j += "  \"file\": " + json_string(path) + ",\n";
    j += "  \"format\": " + json_string(c.format) + ",\n";
    j += "  \"link_type\": " + json_string(c.link) + ",\n";
    j += "  \"packets\": " + std::to_string(c.packets) + ",\n";
    j += "  \"skipped\": {\"truncated\": " + std::to_string(c.skipped.truncated) +
         ", \"ip_fragments\": " + std::to_string(c.skipped.fragments) +
         ", \"wrong_version\": " + std::to_string(c.skipped.wrong_version) +
         ", \"other_payload_types\": " + std::to_string(c.skipped.other_payload) +
         ", \"unusable_payloads\": " + std::to_string(c.skipped.unusable) +
         ", \"time_out_of_range\": " + std::to_string(c.skipped.bad_time) + "},\n";
    j += "  \"other_traffic\": " + std::to_string(c.other_traffic) + ",\n";
    j += "  \"malformed\": " + (c.problem.empty() ? std::string("null") : json_string(cut_short_text(c))) + ",\n";
    j += "  \"rtcp_packets_not_read\": " + std::to_string(c.rtcp_packets_not_read) + ",\n";
    j += "  \"streams\": [";
    for (std::size_t i = 0; i < c.streams.size(); ++i) {
        const g729_stream& s = c.streams[i];
        const stream_stats& st = s.rebuilt.stats;
        char duration[32];
        std::snprintf(duration, sizeof duration, "%.2f", duration_s(st));
        j += std::string(i ? "," : "") + "\n    {";
        j += "\"ssrc\": " + json_string(hex_ssrc(s.key.ssrc));
        j += ", \"source\": " + json_string(s.key.source.text());
        j += ", \"destination\": " + json_string(s.key.destination.text());
        j += ", \"payload_type\": " + std::to_string(s.payload_type);
        j += ", \"packets\": " + std::to_string(st.packets);
        j += ", \"frames\": " + std::to_string(st.speech_frames + st.sid_frames);
        j += ", \"speech_frames\": " + std::to_string(st.speech_frames);
        j += ", \"sid_frames\": " + std::to_string(st.sid_frames);
        j += ", \"lost_packets\": " + std::to_string(st.lost_packets);
        j += ", \"lost_frames\": " + std::to_string(st.lost_frames);
        j += ", \"duplicated\": " + std::to_string(st.duplicates);
        j += ", \"reordered\": " + std::to_string(st.reordered);
        j += ", \"stale\": " + std::to_string(st.stale);
        j += ", \"restarts\": " + std::to_string(st.restarts);
        j += ", \"remainder_packets\": " + std::to_string(st.remainders);
        j += ", \"shortened_gaps\": " + std::to_string(s.rebuilt.shortened.size());
        j += ", \"frames_left_out\": " + std::to_string(left_out_frames(s.rebuilt));
        j += ", \"dtx_gaps\": " + std::to_string(st.dtx_gaps);
        j += ", \"dtx_frames\": " + std::to_string(st.dtx_frames);
        j += ", \"unusable_packets\": " + std::to_string(st.unusable);
        j += ", \"other_payload_packets\": " + std::to_string(st.other_payload);
        j += ", \"timeline_frames\": " + std::to_string(st.frames);
        j += ", \"first_time\": " + seconds(st.first_arrival_ns);
        j += ", \"last_time\": " + seconds(st.last_arrival_ns);
        j += ", \"first_time_utc\": " + json_string(capture_time(st.first_arrival_ns));
        j += ", \"last_time_utc\": " + json_string(capture_time(st.last_arrival_ns));
        j += ", \"late_packets\": " + std::to_string(st.late_packets);
        j += ", \"late_frames\": " + std::to_string(st.late_frames);
        j += network_json(s.network);
        std::string changes;
        for (std::size_t k = 0; k < i; ++k)
            if (c.streams[k].key.source == s.key.source && c.streams[k].key.destination == s.key.destination)
                changes += (changes.empty() ? "" : ", ") + json_string(hex_ssrc(c.streams[k].key.ssrc));
        j += ", \"ssrc_change_from\": [" + changes + "]";
        j += ", \"duration\": " + std::string(duration) + "}";
    }
    j += c.streams.empty() ? "],\n" : "\n  ],\n";
    j += "  \"other_rtp_streams\": [";
    for (std::size_t i = 0; i < c.others.size(); ++i) {
        const other_stream& o = c.others[i];
        j += std::string(i ? ", " : "") + "{\"ssrc\": " + json_string(hex_ssrc(o.key.ssrc)) +
             ", \"source\": " + json_string(o.key.source.text()) + ", \"destination\": " + json_string(o.key.destination.text()) +
             ", \"payload_type\": " + std::to_string(o.payload_type) + ", \"packets\": " + std::to_string(o.packets) + "}";
    }
    j += "]\n}\n";
    std::fputs(j.c_str(), stdout);
}

int capture_info(const capture_source& in, const command_options& options) {
    const std::string& path = in.name;
    reporter report(options.quiet, "info");
    const capture_contents c = read_capture(in, options);
    check_readable(path, c);
    if (options.json)
        print_info_json(path, c);
    else
        print_info_text(path, c);
    std::fflush(stdout);
    if (c.streams.empty()) throw tool_error(path, no_g729_text(c));
    if (!c.problem.empty()) throw tool_error(path, cut_short_text(c));
    std::size_t frames = 0;
    for (const g729_stream& s : c.streams) frames += s.rebuilt.stats.frames;
    report.summary(frames);
    return 0;
}

// --- decode -------------------------------------------------------------

// Decodes a stream's timeline 80 samples at a time, so that a call of any
// length needs no more memory than its packets.
class timeline_player {
public:
    explicit timeline_player(const std::vector<timeline_entry>& timeline) : timeline_(timeline), decoder_(make_decoder()) {}

    // The next frame's samples; false at the end of the timeline.
    bool next(int16_t* block) {
        while (entry_ < timeline_.size() && within_ == timeline_[entry_].frames) {
            ++entry_;
            within_ = 0;
        }
        if (entry_ == timeline_.size()) return false;
        const timeline_entry& e = timeline_[entry_];
        if (e.missing()) {
            // One call per missing frame: the decoder continues the comfort
            // noise or conceals, 80 samples each, and the timeline stays exact.
            g729a_decode(decoder_.get(), nullptr, 0, block, kFrameSamples);
        } else {
            const std::size_t length = e.kind == slot_kind::sid ? G729A_SID_FRAME_BYTES : G729A_SPEECH_FRAME_BYTES;
            g729a_decode(decoder_.get(), e.bytes.data(), length, block, kFrameSamples);
        }
        ++within_;
        return true;
    }
    // The entry of the frame next() gave last, and the decoder.
    const timeline_entry& current() const { return timeline_[entry_]; }
    const g729a_decoder* decoder() const { return decoder_.get(); }

private:
    const std::vector<timeline_entry>& timeline_;
    decoder_handle decoder_;
    std::size_t entry_ = 0;
    std::size_t within_ = 0;
};

// One channel of the --mix file: `offset` samples of silence, the stream,
// then silence for as long as asked.
class delayed_channel {
public:
    delayed_channel(const std::vector<timeline_entry>& timeline, std::size_t offset) : player_(timeline), offset_(offset) {}

    int16_t next() {
        if (offset_ > 0) {
            --offset_;
            return 0;
        }
        if (used_ == kFrameSamples) {
            if (ended_ || !player_.next(block_)) {
                ended_ = true;
                return 0;
            }
            used_ = 0;
        }
        return block_[used_++];
    }

private:
    timeline_player player_;
    std::size_t offset_;
    int16_t block_[kFrameSamples] = {};
    int used_ = kFrameSamples;
    bool ended_ = false;
};

std::string stream_file_name(const g729_stream& s) {
    return s.key.source.file_text() + "-" + s.key.destination.file_text() + "_" + hex_ssrc(s.key.ssrc).substr(2) + ".wav";
}

std::string stream_label(const g729_stream& s) {
    return hex_ssrc(s.key.ssrc) + " " + s.key.source.text() + " -> " + s.key.destination.text();
}

std::string stream_summary(const g729_stream& s) {
    const stream_stats& st = s.rebuilt.stats;
    std::string text = stream_label(s) + ", " + plural(st.frames, "frame", "frames");
    std::string details;
    auto add = [&](std::size_t n, const std::string& what) {
        if (n > 0) details += (details.empty() ? "" : ", ") + what;
    };
    add(st.lost_packets, plural(st.lost_packets, "packet", "packets") + " lost");
    add(st.dtx_gaps, plural(st.dtx_gaps, "DTX gap", "DTX gaps"));
    add(st.duplicates, plural(st.duplicates, "duplicate", "duplicates"));
    add(st.reordered, std::to_string(st.reordered) + " reordered");
    add(st.stale, std::to_string(st.stale) + " stale");
    add(st.restarts, plural(st.restarts, "restart", "restarts"));
    return details.empty() ? text : text + " (" + details + ")";
}

bool reverse_of(const g729_stream& a, const g729_stream& b) {
    return a.key.source == b.key.destination && a.key.destination == b.key.source;
}

bool reverse_addresses_of(const g729_stream& a, const g729_stream& b) {
    return a.key.source.same_address(b.key.destination) && a.key.destination.same_address(b.key.source);
}

std::string stream_list(const std::vector<const g729_stream*>& streams) {
    std::string list;
    for (const g729_stream* s : streams) list += (list.empty() ? "" : "; ") + stream_label(*s);
    return list;
}

// The two directions of the call for --mix: the two streams there are, or
// the chosen one and the stream going the other way.
std::vector<const g729_stream*> mix_pair(const std::string& path, const std::vector<const g729_stream*>& chosen,
                                         const std::vector<g729_stream>& all, bool stream_given) {
    if (!stream_given && chosen.size() == 2) return chosen;
    std::vector<std::vector<const g729_stream*>> pairs;
    for (const g729_stream* a : chosen) {
        for (bool exact : {true, false}) {
            std::vector<const g729_stream*> found;
            for (const g729_stream& b : all)
                if (&b != a && (exact ? reverse_of(*a, b) : reverse_addresses_of(*a, b))) found.push_back(&b);
            if (found.size() == 1) {
                const g729_stream* first = std::min(a, found[0]);
                const g729_stream* second = std::max(a, found[0]);
                bool known = false;
                for (const auto& p : pairs) known = known || (p[0] == first && p[1] == second);
                if (!known) pairs.push_back({first, second});
                break;
            }
        }
    }
    if (pairs.size() == 1) return pairs[0];
    if (chosen.size() == 1) return chosen; // one direction only
    throw tool_error(path, "--mix needs the two directions of one call, and the capture holds " +
                               plural(chosen.size(), "G.729 stream", "G.729 streams") +
                               ": choose one with --stream SSRC (" + stream_list(chosen) + ")");
}

// One file a capture decode writes: a stream, or the two directions of
// --mix side by side.
struct planned_file {
    std::string path;
    bool generated = false; // a name made up inside the output folder
    file_format format = file_format::wav;
    const g729_stream* stream = nullptr; // null: the --mix file
    std::size_t frames = 0;              // 10 ms frames of audio it holds
};

// A folder the run makes: filled under a temporary name beside its final
// one and renamed into place at the end, so that it never exists half
// written. Removed, with the files the run put in it, unless kept.
class new_folder {
public:
    explicit new_folder(const std::string& final_path) : final_(final_path) {
        std::string templ = final_path + ".tmp-XXXXXX";
        std::vector<char> buffer(templ.begin(), templ.end());
        buffer.push_back('\0');
        // Made and known to the signal handler at once.
        const signals_held held;
        if (!mkdtemp(buffer.data())) throw tool_error(final_path, std::string("cannot create directory: ") + std::strerror(errno));
        path_ = buffer.data();
        register_temporary_directory(path_);
        // mkdtemp makes it private; give it the mode a plain mkdir would.
        const mode_t mask = umask(0);
        umask(mask);
        chmod(path_.c_str(), 0777 & ~mask);
    }
    ~new_folder() {
        if (kept_) return;
        for (const std::string& name : made_) unlink((path_ + "/" + name).c_str());
        rmdir(path_.c_str());
        release_temporary_directory();
    }
    new_folder(const new_folder&) = delete;
    new_folder& operator=(const new_folder&) = delete;

    const std::string& path() const { return path_; }
    void made(const std::string& name) { made_.push_back(name); }
    // Under its final name, unless something took that name meanwhile.
    void keep() {
        if (renameat2(AT_FDCWD, path_.c_str(), AT_FDCWD, final_.c_str(), RENAME_NOREPLACE) != 0)
            throw tool_error(final_, std::string("cannot create directory: ") + std::strerror(errno));
        kept_ = true;
        release_temporary_directory();
    }

private:
    std::string final_;
    std::string path_;
    std::vector<std::string> made_;
    bool kept_ = false;
};

void write_mono(output_file& target, file_format format, const g729_stream& stream, const sink_options& options) {
    audio_sink sink(target, format_id(format), options);
    timeline_player player(stream.rebuilt.timeline);
    int16_t block[kFrameSamples];
    while (player.next(block)) sink.write(block, kFrameSamples);
    sink.finish();
}

void write_stereo(output_file& target, delayed_channel& left, delayed_channel& right, std::size_t length, sink_options options) {
    options.channels = 2;
    audio_sink sink(target, format_id(file_format::wav), options);
    constexpr std::size_t kChunk = 4096;
    int16_t interleaved[2 * kChunk];
    for (std::size_t done = 0; done < length;) {
        const std::size_t n = std::min(kChunk, length - done);
        for (std::size_t i = 0; i < n; ++i) {
            interleaved[2 * i] = left.next();
            interleaved[2 * i + 1] = right.next();
        }
        sink.write(interleaved, n);
        done += n;
    }
    sink.finish();
}

std::string hours_text(std::size_t frames) {
    char text[48];
    std::snprintf(text, sizeof text, "%.1f s (%.2f h)", double(frames) / 100.0, double(frames) / 360000.0);
    return text;
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

int capture_decode(const capture_source& in, const std::string* out, const command_options& options) {
    const std::string& path = in.name;
    reporter report(options.quiet, "decode");
    const capture_contents c = read_capture(in, options);
    check_readable(path, c);
    if (c.streams.empty()) throw tool_error(path, no_g729_text(c));
    if (!c.problem.empty()) {
        if (options.strict) throw tool_error(path, cut_short_text(c));
        report.notice(path, cut_short_text(c) + "; decoded the packets before it");
    }

    std::vector<const g729_stream*> chosen;
    if (!options.stream.empty()) {
        uint32_t ssrc = 0;
        parse_ssrc(options.stream, ssrc);
        for (const g729_stream& s : c.streams)
            if (s.key.ssrc == ssrc) chosen.push_back(&s);
        if (chosen.empty()) {
            std::vector<const g729_stream*> all;
            for (const g729_stream& s : c.streams) all.push_back(&s);
            throw tool_error(path, "no G.729 stream has SSRC " + hex_ssrc(ssrc) + "; the capture holds " + stream_list(all));
        }
    } else {
        for (const g729_stream& s : c.streams) chosen.push_back(&s);
    }

    // Where each stream goes.
    std::vector<planned_file> plan;
    bool make_directory = false;
    if (out) {
        struct stat st;
        const bool is_directory = stat(out->c_str(), &st) == 0 && S_ISDIR(st.st_mode);
        const file_format format = format_from_extension(*out);
        if (format == file_format::sndfile || format == file_format::g729 || format == file_format::bit)
            throw tool_error(*out, "decode of a capture writes a directory of .wav files, or one .wav, .raw or .sln file");
        if (!is_directory && (format == file_format::raw || format == file_format::wav)) {
            if (chosen.size() != 1)
                throw tool_error(path, "holds " + plural(chosen.size(), "G.729 stream", "G.729 streams") +
                                           ": give a directory as OUT, or choose one with --stream SSRC (" + stream_list(chosen) +
                                           ")");
            plan.push_back({*out, false, format, chosen[0], chosen[0]->rebuilt.stats.frames});
        } else {
            make_directory = !is_directory;
            for (const g729_stream* s : chosen)
                plan.push_back({stream_file_name(*s), true, file_format::wav, s, s->rebuilt.stats.frames});
        }
    }
    std::vector<const g729_stream*> mixed;
    std::vector<std::size_t> offsets;
    if (!options.mix.empty()) {
        if (format_from_extension(options.mix) != file_format::wav)
            throw tool_error(options.mix, "--mix writes a stereo .wav file");
        if (out && !make_directory && plan.size() == 1 && !plan[0].generated && plan[0].path == options.mix)
            throw usage_error("OUT and --mix name the same file");
        mixed = mix_pair(path, chosen, c.streams, !options.stream.empty());
        std::sort(mixed.begin(), mixed.end(), [](const g729_stream* a, const g729_stream* b) {
            return a->rebuilt.stats.start_ns < b->rebuilt.stats.start_ns;
        });
        // Each direction starts where its first audio fell on the capture
        // clock; the later one is preceded by silence, never longer than
        // the longest gap the streams themselves may have.
        std::size_t mix_length = 0;
        for (const g729_stream* s : mixed) {
            const int64_t delay_ns = saturating_sub(s->rebuilt.stats.start_ns, mixed[0]->rebuilt.stats.start_ns);
            if (delay_ns / 1000000000 > int64_t(options.max_gap_seconds))
                throw tool_error(path, "the two directions for --mix start " + std::to_string(delay_ns / 1000000000) +
                                           " s apart, more than the limit of " + std::to_string(options.max_gap_seconds) +
                                           " s (--max-gap SECONDS raises it): not one call");
            offsets.push_back(std::size_t((delay_ns + 62500) / 125000)); // 125 us a sample
            mix_length = std::max(mix_length, offsets.back() + s->rebuilt.stats.frames * kFrameSamples);
        }
        plan.push_back({options.mix, false, file_format::wav, nullptr, (mix_length + kFrameSamples - 1) / kFrameSamples});
    }

    // The limits that keep a crafted capture from filling the disk: refused
    // before anything is written.
    if (plan.size() > options.max_files)
        throw tool_error(path, "would write " + std::to_string(plan.size()) + " files, more than the limit of " +
                                   std::to_string(options.max_files) +
                                   " (--max-files N raises it; --stream SSRC decodes one stream)");
    std::size_t total = 0;
    for (const planned_file& f : plan) total += f.frames;
    check_audio_limit(path, total, "write", "", options, chosen);

    for (const g729_stream* s : chosen) {
        const rebuilt_stream& r = s->rebuilt;
        constexpr std::size_t kShown = 3;
        for (std::size_t i = 0; i < r.shortened.size() && i < kShown; ++i)
            report.notice(path, hex_ssrc(s->key.ssrc) + ": " + gap_text(r.shortened[i], options.max_gap_seconds));
        if (r.shortened.size() > kShown)
            report.notice(path, hex_ssrc(s->key.ssrc) + ": " + std::to_string(r.shortened.size() - kShown) +
                                    " more gaps shortened (" + shortened_text(r) + " in all)");
        if (r.stats.remainders > 0)
            report.warning(path, hex_ssrc(s->key.ssrc) + ": " + plural(r.stats.remainders, "packet carries", "packets carry") +
                                     " bytes after its whole frames (first: packet " + std::to_string(r.stats.first_remainder_packet) +
                                     "); the whole frames are decoded, the rest left out");
    }

    // All or nothing: every file is written and synced under a temporary
    // name first; only then are they renamed into place, with the signals
    // that could cut the renames short held. A failure before that point,
    // or an interruption, leaves the folder as it was: the temporary files
    // go, earlier files of the same names stay.
    std::unique_ptr<new_folder> folder;
    if (make_directory) folder = std::make_unique<new_folder>(*out);
    std::vector<std::unique_ptr<output_file>> targets;
    std::size_t frames = 0;
    for (const planned_file& f : plan) {
        if (f.generated) {
            const std::string dir = folder ? folder->path() : *out;
            targets.push_back(std::make_unique<output_file>(dir + "/" + f.path, output_file::generated{}));
        } else {
            targets.push_back(std::make_unique<output_file>(operand{f.path}));
        }
        output_file& target = *targets.back();
        if (f.stream) {
            write_mono(target, f.format, *f.stream, options.audio);
            frames += f.frames;
        } else {
            const std::vector<timeline_entry> nothing;
            delayed_channel left(mixed[0]->rebuilt.timeline, offsets[0]);
            delayed_channel right(mixed.size() > 1 ? mixed[1]->rebuilt.timeline : nothing, mixed.size() > 1 ? offsets[1] : 0);
            write_stereo(target, left, right, f.frames * kFrameSamples, options.audio);
            if (plan.size() == 1)
                for (const g729_stream* s : mixed) frames += s->rebuilt.stats.frames;
        }
        target.finish();
    }
    {
        const signals_held held;
        for (std::size_t i = 0; i < plan.size(); ++i) {
            targets[i]->commit();
            if (folder && plan[i].generated) folder->made(plan[i].path);
        }
        if (folder) folder->keep();
    }
    for (const planned_file& f : plan) {
        const std::string shown = f.generated ? *out + "/" + f.path : f.path;
        if (f.stream) {
            report.notice(shown, stream_summary(*f.stream));
        } else {
            report.notice(shown, "left: " + stream_label(*mixed[0]) +
                                     (mixed.size() > 1 ? "; right: " + stream_label(*mixed[1]) + ", " +
                                                             std::to_string(offsets[1]) + " samples later"
                                                       : "; right: silent (no stream in the other direction)"));
        }
    }
    if (c.skipped.total() > 0)
        report.notice(path, plural(c.skipped.total(), "packet", "packets") + " skipped: " + skipped_text(c.skipped));
    report.summary(frames);
    return 0;
}

} // namespace

bool is_capture_file(const std::string& path) {
    const std::string e = extension_of(path);
    if (e == "pcap" || e == "pcapng" || e == "cap") return true;
    // A capture saved under another name (tcpdump -w call) is known by its
    // first four bytes: pcap in either byte order, with micro- or
    // nanosecond times, or a pcapng section header.
    if (path == "-" || format_from_extension(path) != file_format::unknown) return false;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    uint8_t magic[4] = {};
    const bool got = std::fread(magic, 1, 4, f) == 4;
    std::fclose(f);
    const uint32_t m = uint32_t(magic[0]) << 24 | uint32_t(magic[1]) << 16 | uint32_t(magic[2]) << 8 | magic[3];
    return got && (m == 0xA1B2C3D4 || m == 0xD4C3B2A1 || m == 0xA1B23C4D || m == 0x4D3CB2A1 || m == 0x0A0D0D0A);
}

bool parse_ssrc(const std::string& text, uint32_t& ssrc) {
    std::string digits = lower(text);
    if (digits.rfind("0x", 0) == 0) digits = digits.substr(2);
    if (digits.empty() || digits.size() > 8) return false;
    uint32_t value = 0;
    for (char c : digits) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
        value = value * 16 + uint32_t(std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : c - 'a' + 10);
    }
    ssrc = value;
    return true;
}

namespace {

std::vector<plot_track> plot_tracks(const capture_source& in, const command_options& options) {
    const std::string& path = in.name;
    const capture_contents c = read_capture(in, options);
    check_readable(path, c);
    if (c.streams.empty()) throw tool_error(path, no_g729_text(c));
    // Each stream is a band of the picture: thousands would make a picture
    // of hundreds of megabytes, or one taller than a PNG can be.
    if (c.streams.size() > options.max_streams)
        throw tool_error(path, "holds " + plural(c.streams.size(), "G.729 stream", "G.729 streams") + ", more than the limit of " +
                                   std::to_string(options.max_streams) + " in one picture (--max-streams N raises it)");
    // Drawing decodes every stream for its level: the same limit as a
    // decode keeps a few packets spread over hours from costing minutes.
    std::vector<const g729_stream*> all;
    std::size_t total = 0;
    for (const g729_stream& s : c.streams) {
        all.push_back(&s);
        total += s.rebuilt.stats.frames;
    }
    check_audio_limit(path, total, "decode", " to draw", options, all);
    int64_t first_ns = c.streams.front().rebuilt.stats.start_ns;
    for (const g729_stream& s : c.streams) first_ns = std::min(first_ns, s.rebuilt.stats.start_ns);
    std::vector<plot_track> tracks;
    for (const g729_stream& s : c.streams) {
        const stream_stats& st = s.rebuilt.stats;
        plot_track t;
        t.title = stream_label(s);
        t.start_frame = saturating_sub(st.start_ns, first_ns) / (10 * 1000 * 1000);
        for (const timeline_entry& e : s.rebuilt.timeline) {
            frame_mark mark = frame_mark::speech;
            switch (e.kind) {
            case slot_kind::speech: mark = frame_mark::speech; break;
            case slot_kind::sid: mark = frame_mark::sid; break;
            case slot_kind::dtx: mark = frame_mark::untransmitted; break;
            case slot_kind::lost: mark = frame_mark::lost; break;
            case slot_kind::late: mark = frame_mark::late; break;
            case slot_kind::skipped: mark = frame_mark::concealed; break;
            }
            t.frames.insert(t.frames.end(), e.frames, mark);
        }
        timeline_player player(s.rebuilt.timeline);
        int16_t pair[2 * kFrameSamples];
        for (;;) {
            if (!player.next(pair)) break;
            const bool second = player.next(pair + kFrameSamples);
            t.level_dbfs.push_back(level_dbfs(pair, second ? 2 * kFrameSamples : kFrameSamples));
            if (!second) break;
        }
        t.network = true;
        const double start_s = double(saturating_sub(st.start_ns, first_ns)) / 1e9 - double(t.start_frame) / 100.0;
        for (const jitter_point& p : s.network.arrivals.series) {
            const double at = double(saturating_sub(p.arrival_ns, st.start_ns)) / 1e9 + start_s;
            t.arrival_delta_ms.push_back({at, p.delta_ms});
            t.jitter_ms.push_back({at, p.jitter_ms});
        }
        const stream_network& n = s.network;
        char line[256];
        std::snprintf(line, sizeof line,
                      "%.2f s; %zu packets, %zu lost, %zu late (%.2f%%); jitter mean %.2f ms, max %.2f ms; max delta %.1f ms; "
                      "R %.1f, MOS %.2f (E-model estimate)",
                      duration_s(st), st.packets, st.lost_packets, st.late_packets, n.loss_percent, n.arrivals.mean_jitter_ms,
                      n.arrivals.max_jitter_ms, n.arrivals.max_delta_ms, n.quality.r, n.quality.mos);
        t.legend.push_back(line);
        tracks.push_back(std::move(t));
    }
    return tracks;
}

// The largest capture taken from standard input: it is copied to disk to
// be read, and a pipe that never ends must not fill the disk.
constexpr uint64_t kMaxSpooledBytes = uint64_t(2) << 30;

// Standard input copied to an unnamed temporary file, which a capture
// needs: it is read twice. Only a capture by its first bytes is copied, and
// no more than kMaxSpooledBytes of it. The copy goes when the process does,
// however it ends.
class spooled_input {
public:
    spooled_input() {
        const char* dir = std::getenv("TMPDIR");
        fd_ = open(dir && *dir ? dir : "/tmp", O_TMPFILE | O_RDWR, 0600);
        if (fd_ < 0) throw tool_error("standard input", std::string("cannot keep a copy to read: ") + std::strerror(errno));
        // stdin, not the descriptor: the first bytes were looked at already
        // and come back through it.
        char buffer[65536];
        uint64_t copied = 0;
        for (;;) {
            const std::size_t n = std::fread(buffer, 1, sizeof buffer, stdin);
            if (n == 0) {
                if (std::ferror(stdin)) throw tool_error("standard input", std::string("cannot read: ") + std::strerror(errno));
                break;
            }
            copied += n;
            if (copied > kMaxSpooledBytes)
                throw tool_error("standard input", "a capture on standard input is copied to be read, and this one is larger than " +
                                                       std::to_string(kMaxSpooledBytes >> 30) +
                                                       " GiB: save it to a file and name that instead");
            for (std::size_t done = 0; done < n;) {
                const ssize_t w = write(fd_, buffer + done, n - done);
                if (w < 0) {
                    if (errno == EINTR) continue;
                    throw tool_error("standard input", std::string("cannot keep a copy to read: ") + std::strerror(errno));
                }
                done += std::size_t(w);
            }
        }
    }
    ~spooled_input() { close(fd_); }
    spooled_input(const spooled_input&) = delete;
    spooled_input& operator=(const spooled_input&) = delete;
    std::string path() const { return "/proc/self/fd/" + std::to_string(fd_); }

private:
    int fd_ = -1;
};

// The capture an operand names; '-' must be a capture by its first bytes,
// and is copied from standard input first.
template <typename Work> auto with_capture(const std::string& operand, const std::string& command, Work work) {
    if (operand != "-") return work(capture_source{operand, operand});
    if (standard_input_kind() != input_kind::capture) throw tool_error("standard input", unknown_standard_input_text(command));
    const spooled_input copy;
    if (!is_capture_file(copy.path())) throw tool_error("standard input", unknown_standard_input_text(command));
    return work(capture_source{copy.path(), "standard input"});
}

} // namespace

// dump of a capture: every stream's timeline frame by frame, as dump
// shows a coded file, the missing frames named for why they are missing.
int capture_dump(const capture_source& in, const command_options& options) {
    const capture_contents c = read_capture(in, options);
    check_readable(in.name, c);
    if (c.streams.empty()) throw tool_error(in.name, no_g729_text(c));
    uint32_t wanted = 0;
    const bool one = !options.stream.empty() && parse_ssrc(options.stream, wanted);
    // A line per 10 ms of every stream: the decode's limit on audio keeps a
    // few packets hours apart from printing millions of lines.
    std::vector<const g729_stream*> chosen;
    std::size_t total = 0;
    for (const g729_stream& s : c.streams)
        if (!one || s.key.ssrc == wanted) {
            chosen.push_back(&s);
            total += s.rebuilt.stats.frames;
        }
    if (!chosen.empty()) check_audio_limit(in.name, total, "decode", " to dump", options, chosen);
    std::size_t shown = 0;
    for (const g729_stream& s : c.streams) {
        if (one && s.key.ssrc != wanted) continue;
        std::string text = std::string(shown++ ? "\n" : "") + dump_header(in.name + ", stream " + stream_label(s)) +
                           "# missing frames: lost, late (after the jitter buffer's playout time), untransmitted (the sender\n"
                           "# sent nothing) or skipped (unusable packets), then concealed or comfort noise\n";
        if (std::fputs(text.c_str(), stdout) < 0) throw tool_error("standard output", std::string("cannot write: ") + std::strerror(errno));
        timeline_player player(s.rebuilt.timeline);
        int16_t pcm[kFrameSamples];
        for (std::size_t index = 0; player.next(pcm); ++index) {
            const timeline_entry& e = player.current();
            char head[48];
            std::snprintf(head, sizeof head, "%6zu %9.2f ", index, double(index) / 100.0);
            std::string line = head;
            if (!e.missing()) {
                coded_frame f;
                f.kind = e.kind == slot_kind::sid ? frame_kind::sid : frame_kind::speech;
                f.bits = e.kind == slot_kind::sid ? 16 : 80;
                std::copy(e.bytes.begin(), e.bytes.end(), f.bytes.begin());
                line += frame_text(f);
            } else {
                line += e.kind == slot_kind::lost ? "lost" : e.kind == slot_kind::late ? "late" : e.kind == slot_kind::dtx ? "untransmitted" : "skipped";
                line += g729a_decoder_frame_kind(player.decoder()) == G729A_FRAME_COMFORT_NOISE ? " comfort_noise" : " concealed";
            }
            line += " energy=" + energy_text(pcm) + "\n";
            if (std::fputs(line.c_str(), stdout) < 0)
                throw tool_error("standard output", std::string("cannot write: ") + std::strerror(errno));
        }
    }
    if (one && shown == 0) throw tool_error(in.name, "no G.729 stream with SSRC " + options.stream + " (info lists them)");
    if (std::fflush(stdout) != 0) throw tool_error("standard output", std::string("cannot write: ") + std::strerror(errno));
    if (!c.problem.empty()) throw tool_error(in.name, cut_short_text(c));
    return 0;
}

int dump_capture(const std::vector<std::string>& operands, const command_options& options) {
    if (operands.size() != 1) throw usage_error("dump of a capture takes one file, IN; got " + std::to_string(operands.size()));
    if (!options.mix.empty()) throw usage_error("--mix applies to decode");
    return with_capture(operands[0], "dump", [&](const capture_source& in) { return capture_dump(in, options); });
}

int info_capture(const std::vector<std::string>& operands, const command_options& options) {
    if (operands.size() != 1) throw usage_error("info takes one file, IN; got " + std::to_string(operands.size()));
    if (!options.mix.empty() || !options.stream.empty()) throw usage_error("--mix and --stream apply to decode");
    return with_capture(operands[0], "info", [&](const capture_source& in) { return capture_info(in, options); });
}

std::vector<plot_track> capture_plot_tracks(const std::string& path, const command_options& options) {
    return with_capture(path, "plot", [&](const capture_source& in) { return plot_tracks(in, options); });
}

int decode_capture(const std::vector<std::string>& operands, const command_options& options) {
    if (operands.size() == 1 && options.mix.empty())
        throw usage_error("decode of a capture takes IN and OUT (a directory or an audio file), or IN and --mix FILE");
    if (operands.size() != 1 && operands.size() != 2)
        throw usage_error("decode takes two files, IN and OUT; got " + std::to_string(operands.size()));
    const std::string* out = operands.size() == 2 ? &operands[1] : nullptr;
    if (out && *out == "-") throw usage_error("decode of a capture writes files: OUT is a directory or an audio file, not '-'");
    if ((out && *out == operands[0]) || options.mix == operands[0]) throw usage_error("IN and OUT are the same file");
    return with_capture(operands[0], "decode", [&](const capture_source& in) { return capture_decode(in, out, options); });
}

} // namespace g729::tool

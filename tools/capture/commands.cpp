#include "tools/capture/commands.h"

#include <sndfile.h>
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
#include <set>
#include <tuple>

#include "g729a.h"
#include "tools/formats/audio_io.h"
#include "tools/capture/capture_file.h"
#include "tools/cli/codec_handles.h"
#include "tools/cli/json.h"
#include "tools/cli/output_file.h"
#include "tools/cli/progress.h"
#include "tools/capture/rtp_stream.h"
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

std::string capture_time(int64_t ns) {
    const std::time_t seconds = std::time_t(ns >= 0 ? ns / 1000000000 : (ns - 999999999) / 1000000000);
    const long micros = long((ns - int64_t(seconds) * 1000000000) / 1000);
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
    std::vector<int> payload_types; // one per packet
};

// Packets the tool cannot use, by reason.
struct skipped_counts {
    std::size_t truncated = 0;
    std::size_t fragments = 0;
    std::size_t wrong_version = 0;
    std::size_t other_payload = 0;
    std::size_t unusable = 0;
    std::size_t total() const { return truncated + fragments + wrong_version + other_payload + unusable; }
};

struct g729_stream {
    stream_key key;
    int payload_type = kG729PayloadType;
    const char* payload_source = "static";
    rebuilt_stream rebuilt;
};

struct other_stream {
    stream_key key;
    int payload_type = 0;
    std::size_t packets = 0;
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
};

bool looks_like_sdp(const uint8_t* data, std::size_t size) {
    static const char kMedia[] = "m=audio";
    return size > 0 && std::search(data, data + size, kMedia, kMedia + sizeof kMedia - 1) != data + size;
}

capture_contents read_capture(const std::string& path, const command_options& options) {
    capture_reader reader(path);
    capture_contents c;
    c.format = reader.format();
    c.link = link_type_name(reader.link_type());
    if (!known_link_type(reader.link_type()))
        throw tool_error(path, "link type " + c.link +
                                   ": the capture is read from Ethernet, Linux cooked capture, raw IP or loopback");

    std::map<stream_key, collected_stream> found;
    std::map<std::pair<endpoint, endpoint>, std::size_t> other_versions;
    std::map<endpoint, std::set<int>> sdp_by_receiver;
    std::set<int> sdp_any;
    auto read_sdp_in = [&](const uint8_t* data, std::size_t size) {
        if (!looks_like_sdp(data, size)) return;
        for (const sdp_g729& s : read_sdp(reinterpret_cast<const char*>(data), size)) {
            sdp_by_receiver[s.receiver].insert(s.payload_types.begin(), s.payload_types.end());
            sdp_any.insert(s.payload_types.begin(), s.payload_types.end());
        }
    };

    captured_packet packet;
    while (reader.next(packet)) {
        ++c.packets;
        const ip_payload ip = unwrap_packet(reader.link_type(), packet.data, packet.captured);
        switch (ip.kind) {
        case packet_class::truncated: ++c.skipped.truncated; continue;
        case packet_class::fragment: ++c.skipped.fragments; continue;
        case packet_class::tcp:
            read_sdp_in(ip.data, ip.size);
            ++c.other_traffic;
            continue;
        case packet_class::udp: break;
        default: ++c.other_traffic; continue;
        }
        rtp_header h;
        switch (parse_rtp(ip.data, ip.size, h)) {
        case rtp_parse::ok: {
            collected_stream& s = found[stream_key{ip.source, ip.destination, h.ssrc}];
            rtp_packet p;
            p.arrival_ns = packet.time_ns;
            p.sequence = h.sequence;
            p.timestamp = h.timestamp;
            p.payload.assign(h.payload, h.payload + h.payload_size);
            s.packets.push_back(std::move(p));
            s.payload_types.push_back(h.payload_type);
            break;
        }
        case rtp_parse::truncated: ++c.skipped.truncated; break;
        case rtp_parse::wrong_version:
            // SIP, among others, reads as a version other than 2.
            read_sdp_in(ip.data, ip.size);
            ++other_versions[{ip.source, ip.destination}];
            break;
        default:
            read_sdp_in(ip.data, ip.size);
            ++c.other_traffic;
            break;
        }
    }
    c.problem = reader.problem();

    // Which payload types are G.729 for a stream: 18, those given with
    // --pt, and those the SDP of either end maps to G729 (any SDP's, when
    // neither end's is in the capture).
    std::set<std::pair<endpoint, endpoint>> g729_flows;
    for (auto& [key, s] : found) {
        std::set<int> g729{kG729PayloadType};
        g729.insert(options.payload_types.begin(), options.payload_types.end());
        std::set<int> from_sdp;
        for (const endpoint* e : {&key.destination, &key.source}) {
            const auto it = sdp_by_receiver.find(*e);
            if (it != sdp_by_receiver.end()) from_sdp.insert(it->second.begin(), it->second.end());
        }
        if (from_sdp.empty()) from_sdp = sdp_any;
        g729.insert(from_sdp.begin(), from_sdp.end());

        std::map<int, std::size_t> audio_types;
        for (std::size_t i = 0; i < s.packets.size(); ++i) {
            s.packets[i].audio = g729.count(s.payload_types[i]) > 0;
            if (s.packets[i].audio) ++audio_types[s.payload_types[i]];
        }
        if (audio_types.empty()) {
            // A lone packet that happens to look like RTP is not a stream.
            if (s.packets.size() < 2) {
                c.other_traffic += s.packets.size();
            } else {
                c.skipped.other_payload += s.packets.size();
                c.others.push_back({key, s.payload_types.front(), s.packets.size()});
            }
            continue;
        }
        g729_stream g;
        g.key = key;
        g.payload_type = std::max_element(audio_types.begin(), audio_types.end(), [](const auto& a, const auto& b) {
                             return a.second < b.second;
                         })->first;
        if (g.payload_type != kG729PayloadType)
            g.payload_source = from_sdp.count(g.payload_type) ? "SDP" : "--pt";
        g.rebuilt = rebuild_stream(s.packets);
        c.skipped.other_payload += g.rebuilt.stats.other_payload;
        c.skipped.unusable += g.rebuilt.stats.unusable;
        g729_flows.insert({key.source, key.destination});
        c.streams.push_back(std::move(g));
    }
    // A packet of another RTP version on a G.729 stream's ports is a broken
    // packet of that stream; elsewhere it is just other traffic.
    for (const auto& [flow, n] : other_versions) {
        if (g729_flows.count(flow))
            c.skipped.wrong_version += n;
        else
            c.other_traffic += n;
    }
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
    add(s.unusable, "G.729 payloads that are not whole frames");
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

void print_info_text(const std::string& path, const capture_contents& c) {
    std::printf("file:          %s\n", path.c_str());
    std::printf("format:        %s, %s\n", c.format.c_str(), c.link.c_str());
    std::printf("packets:       %zu\n", c.packets);
    std::printf("G.729 streams: %zu\n", c.streams.size());
    const std::string skipped = skipped_text(c.skipped);
    std::printf("skipped:       %s\n", skipped.empty() ? "none" : (std::to_string(c.skipped.total()) + " (" + skipped + ")").c_str());
    std::printf("other traffic: %s\n", plural(c.other_traffic, "packet", "packets").c_str());
    if (!c.problem.empty()) std::printf("malformed:     %s\n", cut_short_text(c).c_str());
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
        std::printf("  DTX gaps:      %zu (%s)\n", st.dtx_gaps, plural(st.dtx_frames, "frame", "frames").c_str());
        if (st.unusable + st.other_payload > 0)
            std::printf("  unused:        %zu not whole frames, %zu other payload types (%s)\n", st.unusable, st.other_payload,
                        plural(st.skipped_frames, "frame", "frames").c_str());
        std::printf("  first packet:  %s\n", capture_time(st.first_arrival_ns).c_str());
        std::printf("  last packet:   %s\n", capture_time(st.last_arrival_ns).c_str());
        std::printf("  duration:      %.2f s\n", duration_s(st));
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
         ", \"unusable_payloads\": " + std::to_string(c.skipped.unusable) + "},\n";
    j += "  \"other_traffic\": " + std::to_string(c.other_traffic) + ",\n";
    j += "  \"malformed\": " + (c.problem.empty() ? std::string("null") : json_string(cut_short_text(c))) + ",\n";
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
        j += ", \"dtx_gaps\": " + std::to_string(st.dtx_gaps);
        j += ", \"dtx_frames\": " + std::to_string(st.dtx_frames);
        j += ", \"unusable_packets\": " + std::to_string(st.unusable);
        j += ", \"other_payload_packets\": " + std::to_string(st.other_payload);
        j += ", \"timeline_frames\": " + std::to_string(st.frames);
        j += ", \"first_time\": " + seconds(st.first_arrival_ns);
        j += ", \"last_time\": " + seconds(st.last_arrival_ns);
        j += ", \"first_time_utc\": " + json_string(capture_time(st.first_arrival_ns));
        j += ", \"last_time_utc\": " + json_string(capture_time(st.last_arrival_ns));
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

int capture_info(const std::string& path, const command_options& options) {
    reporter report(options.quiet, "info");
    const capture_contents c = read_capture(path, options);
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
    return details.empty() ? text : text + " (" + details + ")";
}

// Files written so far; removed again if a later one fails, so that a
// failed decode leaves nothing behind.
class written_files {
public:
    ~written_files() {
        if (done_) return;
        for (const std::string& p : paths_) std::remove(p.c_str());
        if (!directory_.empty()) rmdir(directory_.c_str());
    }
    void add(const std::string& p) { paths_.push_back(p); }
    void made_directory(const std::string& d) { directory_ = d; }
    void done() { done_ = true; }

private:
    std::vector<std::string> paths_;
    std::string directory_;
    bool done_ = false;
};

void write_mono(const std::string& path, file_format format, const g729_stream& stream) {
    output_file target(operand{path});
    audio_sink sink(target, format);
    timeline_player player(stream.rebuilt.timeline);
    int16_t block[kFrameSamples];
    while (player.next(block)) sink.write(block, kFrameSamples);
    sink.finish();
    target.commit();
}

void write_stereo_wav(const std::string& path, delayed_channel& left, delayed_channel& right, std::size_t length) {
    output_file target(operand{path});
    SF_INFO info{};
    info.samplerate = G729A_SAMPLE_RATE;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* snd = open_sndfile_descriptor(fileno(target.stream()), SFM_WRITE, &info, path);
    if (!snd) throw tool_error(path, std::string("cannot write audio: ") + sf_strerror(nullptr));
    constexpr std::size_t kChunk = 4096;
    int16_t interleaved[2 * kChunk];
    bool ok = true;
    for (std::size_t done = 0; done < length && ok;) {
        const std::size_t n = std::min(kChunk, length - done);
        for (std::size_t i = 0; i < n; ++i) {
            interleaved[2 * i] = left.next();
            interleaved[2 * i + 1] = right.next();
        }
        ok = sf_writef_short(snd, interleaved, sf_count_t(n)) == sf_count_t(n);
        done += n;
    }
    const std::string problem = sf_strerror(snd);
    if (sf_close(snd) != 0 || !ok) throw tool_error(path, "cannot write audio: " + problem);
    target.commit();
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

struct planned_file {
    std::string path;
    file_format format = file_format::wav;
    const g729_stream* stream = nullptr;
};

int capture_decode(const std::string& path, const std::string* out, const command_options& options) {
    reporter report(options.quiet, "decode");
    const capture_contents c = read_capture(path, options);
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
            plan.push_back({*out, format, chosen[0]});
        } else {
            make_directory = !is_directory;
            for (const g729_stream* s : chosen) plan.push_back({*out + "/" + stream_file_name(*s), file_format::wav, s});
        }
    }
    std::vector<const g729_stream*> mixed;
    if (!options.mix.empty()) {
        if (format_from_extension(options.mix) != file_format::wav)
            throw tool_error(options.mix, "--mix writes a stereo .wav file");
        mixed = mix_pair(path, chosen, c.streams, !options.stream.empty());
        std::sort(mixed.begin(), mixed.end(), [](const g729_stream* a, const g729_stream* b) {
            return a->rebuilt.stats.start_ns < b->rebuilt.stats.start_ns;
        });
    }

    // Each direction of the mix starts where its first audio fell on the
    // capture clock; the later one is preceded by silence.
    std::vector<std::size_t> offsets;
    std::size_t mix_length = 0;
    for (const g729_stream* s : mixed) {
        const int64_t delay_ns = s->rebuilt.stats.start_ns - mixed[0]->rebuilt.stats.start_ns;
        if (delay_ns > int64_t(kMaxGapFrames) * 10 * 1000 * 1000)
            throw tool_error(path, "the two directions for --mix start over an hour apart: not one call");
        offsets.push_back(std::size_t((delay_ns * G729A_SAMPLE_RATE + 500000000) / 1000000000));
        mix_length = std::max(mix_length, offsets.back() + s->rebuilt.stats.frames * kFrameSamples);
    }

    // Every file goes to a temporary name first; one that fails removes
    // those already written too.
    written_files written;
    std::size_t frames = 0;
    if (make_directory) {
        if (mkdir(out->c_str(), 0777) != 0) throw tool_error(*out, std::string("cannot create directory: ") + std::strerror(errno));
        written.made_directory(*out);
    }
    for (const planned_file& f : plan) {
        write_mono(f.path, f.format, *f.stream);
        written.add(f.path);
        frames += f.stream->rebuilt.stats.frames;
        report.notice(f.path, stream_summary(*f.stream));
    }
    if (!mixed.empty()) {
        const std::vector<timeline_entry> nothing;
        delayed_channel left(mixed[0]->rebuilt.timeline, offsets[0]);
        delayed_channel right(mixed.size() > 1 ? mixed[1]->rebuilt.timeline : nothing, mixed.size() > 1 ? offsets[1] : 0);
        write_stereo_wav(options.mix, left, right, mix_length);
        written.add(options.mix);
        if (plan.empty())
            for (const g729_stream* s : mixed) frames += s->rebuilt.stats.frames;
        report.notice(options.mix, "left: " + stream_label(*mixed[0]) +
                                       (mixed.size() > 1 ? "; right: " + stream_label(*mixed[1]) +
                                                               ", " + std::to_string(offsets[1]) + " samples later"
                                                         : "; right: silent (no stream in the other direction)"));
    }
    if (c.skipped.total() > 0)
        report.notice(path, plural(c.skipped.total(), "packet", "packets") + " skipped: " + skipped_text(c.skipped));
    written.done();
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

bool take_valued_option(const std::vector<std::string>& args, std::size_t& i, command_options& options) {
    const std::string& a = args[i];
    for (const std::string name : {"--bad-frames", "--pt", "--stream", "--mix"}) {
        std::string value;
        if (a == name) {
            if (i + 1 == args.size()) throw usage_error(name + " needs a value");
            value = args[++i];
        } else if (a.rfind(name + "=", 0) == 0) {
            value = a.substr(name.size() + 1);
        } else {
            continue;
        }
        if (name == "--bad-frames") {
            if (value != "decode" && value != "conceal") throw usage_error("--bad-frames takes decode or conceal, not '" + value + "'");
            options.decode_bad_frames = value == "decode";
        } else if (name == "--pt") {
            char* end = nullptr;
            const long pt = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || pt < 0 || pt > 127)
                throw usage_error("--pt takes an RTP payload type, 0 to 127, not '" + value + "'");
            options.payload_types.push_back(int(pt));
        } else if (name == "--stream") {
            uint32_t ssrc;
            if (!parse_ssrc(value, ssrc)) throw usage_error("--stream takes an SSRC in hexadecimal, as info shows it, not '" + value + "'");
            options.stream = value;
        } else {
            if (value.empty()) throw usage_error("--mix needs a file name");
            options.mix = value;
        }
        return true;
    }
    return false;
}

void check_no_capture_options(const command_options& options) {
    if (!options.payload_types.empty() || !options.stream.empty() || !options.mix.empty())
        throw usage_error("--pt, --stream and --mix apply to packet captures (.pcap, .pcapng) only");
}

int run_capture_command(const std::string& command, const std::vector<std::string>& operands, const command_options& options) {
    if (options.formats_given) throw usage_error("--format does not apply to a packet capture, which is known by its header");
    if (command == "info") {
        if (operands.size() != 1) throw usage_error("info takes one file, IN; got " + std::to_string(operands.size()));
        if (!options.mix.empty() || !options.stream.empty()) throw usage_error("--mix and --stream apply to decode");
        return capture_info(operands[0], options);
    }
    if (command == "decode") {
        if (options.json) throw usage_error("--json applies to info");
        if (operands.size() == 1 && options.mix.empty())
            throw usage_error("decode of a capture takes IN and OUT (a directory or an audio file), or IN and --mix FILE");
        if (operands.size() != 1 && operands.size() != 2)
            throw usage_error("decode takes two files, IN and OUT; got " + std::to_string(operands.size()));
        const std::string* out = operands.size() == 2 ? &operands[1] : nullptr;
        if (out && *out == "-") throw usage_error("decode of a capture writes files: OUT is a directory or an audio file, not '-'");
        if ((out && *out == operands[0]) || options.mix == operands[0]) throw usage_error("IN and OUT are the same file");
        return capture_decode(operands[0], out, options);
    }
    throw usage_error(command + " does not read packet captures; decode and info do");
}

} // namespace g729::tool

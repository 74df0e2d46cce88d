// The call model: a packet capture read into the G.729 RTP streams it
// holds, each rebuilt on its timeline and analysed (arrivals, jitter
// buffer, RTCP, quality), with the other traffic counted, the streams a
// command is asked for, the limits on the audio they may give, and the
// words every capture command describes them with. info, decode, dump and
// plot all read a capture through here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "g729a.h"
#include "tools/capture/network_report.h"
#include "tools/capture/packet_table.h"
#include "tools/capture/packets.h"
#include "tools/capture/rtcp.h"
#include "tools/capture/rtp_stream.h"
#include "tools/capture/sip_call.h"
#include "tools/capture/telephone_events.h"
#include "tools/common/command_options.h"
#include "tools/common/progress.h"

namespace g729::tool {

constexpr int kG729PayloadType = 18;
constexpr int kFrameSamples = G729A_FRAME_SAMPLES;

// A stream as RTP tells it apart: its two ends and its SSRC.
struct stream_key {
    endpoint source;
    endpoint destination;
    uint32_t ssrc = 0;
    bool operator<(const stream_key& o) const {
        return std::tie(source, destination, ssrc) < std::tie(o.source, o.destination, o.ssrc);
    }
};

// An RTP stream of no G.729: counted, never kept.
struct other_stream {
    stream_key key;
    int payload_type = 0;
    std::size_t packets = 0;
};

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

// One G.729 stream: its payload type and what made it G.729 ("static" 18,
// "--pt" or "SDP"), its timeline rebuilt, and its network figures.
struct g729_stream {
    stream_key key;
    int payload_type = kG729PayloadType;
    const char* payload_source = "static";
    rebuilt_stream rebuilt;
    stream_network network;
    packet_table packets; // every packet on record
    stream_events events; // telephone events (DTMF) between its ends
};

// A capture as read: its format and link layer, what it held, and its G.729
// streams.
struct capture_contents {
    std::string format;
    std::string link;
    std::size_t packets = 0;
    std::size_t other_traffic = 0; // not IP/UDP RTP at all: ARP, DNS, SIP, RTCP, ...
    skipped_counts skipped;
    std::vector<g729_stream> streams; // by start time
    std::vector<other_stream> others;
    std::vector<sip_call> calls; // from the SIP signalling, by start time
    sip_counts sip;              // the SIP messages read, and those of no call
    std::string problem; // why reading stopped before the end of the file
    // The capture's RTCP reports, held once however many streams they
    // concern (the streams point into this list), each with the source
    // and destination of its packet.
    std::vector<rtcp_report> rtcp;
    std::vector<std::pair<endpoint, endpoint>> rtcp_flows;
    std::size_t rtcp_packets_not_read = 0; // beyond kMaxRtcpReports
};

// RTCP reports kept from one capture: beyond this many (each may carry 31
// blocks) its RTCP packets are counted, not read, so that memory follows
// the G.729 kept and not the capture.
constexpr std::size_t kMaxRtcpReports = 10000;

// Where a capture is read from, and how messages name it (standard input
// is read from a copy).
struct capture_source {
    std::string open;
    std::string name;
};

// Reads the whole capture: its G.729 streams rebuilt, by start time. Throws
// tool_error when the file is no capture or of a link type not read.
capture_contents read_capture(const capture_source& in, const command_options& options);

// tool_error when not one packet of the capture can be read.
void check_readable(const std::string& path, const capture_contents& c);
// read_capture for the commands that need streams: tool_error when no
// packet can be read or no G.729 stream is found.
capture_contents read_call(const capture_source& in, const command_options& options);

// The streams --stream SSRC chooses (every one without it); tool_error
// naming the streams there are when none has that SSRC.
std::vector<const g729_stream*> chosen_streams(const std::string& path, const capture_contents& c, const command_options& options);

// The audio a run may decode from the chosen streams, in 10 ms frames.
std::size_t audio_limit_frames(const command_options& options, const std::vector<const g729_stream*>& chosen);
// Refuses, naming the file, a run that would decode `total` frames of the
// chosen streams, more than their limit on audio: "would VERB ... of
// audio PURPOSE, more than the limit of ...".
void check_audio_limit(const std::string& path, std::size_t total, const char* verb, const char* purpose,
                       const command_options& options, const std::vector<const g729_stream*>& chosen);

// What rebuilding the chosen streams changed, told before they are
// written: the gaps shortened (the first three a stream, then a count), and
// a warning for packets with bytes after their whole frames, which are
// `used` ("decoded") without those bytes.
void report_rebuilt_streams(reporter& report, const std::string& path, const std::vector<const g729_stream*>& chosen,
                            const command_options& options, const char* used);

// --- the words for them

std::string hex_ssrc(uint32_t ssrc);              // 0x0000abcd
std::string capture_time(int64_t ns);             // 2024-01-02 03:04:05.678901 UTC
std::string epoch_seconds(int64_t ns);            // 1704164645.678901, to the microsecond
double duration_s(const stream_stats& st);        // of the timeline
std::string stream_label(const g729_stream& s);   // SSRC source -> destination
std::string stream_list(const std::vector<const g729_stream*>& streams);
std::string skipped_text(const skipped_counts& s);
std::string no_g729_text(const capture_contents& c);
std::string cut_short_text(const capture_contents& c);
// Frames that the shortened gaps of a stream left out, and how that reads.
std::size_t left_out_frames(const rebuilt_stream& r);
std::string shortened_text(const rebuilt_stream& r);
std::string gap_text(const shortened_gap& g, std::size_t max_gap_seconds);
std::string hours_text(std::size_t frames);
// Stream i of the capture as one JSON object, as info --json lists it.
std::string stream_json(const capture_contents& c, std::size_t i);

// "SRC_PORT-DST_PORT_SSRC": the name of a stream's file in an output folder,
// before its extension.
std::string stream_file_stem(const g729_stream& s);

} // namespace g729::tool

// The network side of a captured G.729 stream, as info reports it: arrival
// jitter and gaps, the sender's clock, timestamp jumps that were not
// believed, what a modelled jitter buffer would have dropped as late, the
// RTCP reports about the stream, and the E-model's estimate of the
// listening quality from all of that.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tools/capture/emodel.h"
#include "tools/capture/jitter_buffer.h"
#include "tools/capture/packet_table.h"
#include "tools/capture/rtcp.h"
#include "tools/capture/rtp_stream.h"
#include "tools/capture/stream_analysis.h"

namespace g729::tool {

struct stream_network {
    arrival_analysis arrivals;
    bool buffered = false;             // a jitter buffer was modelled
    jitter_buffer_setting buffer;
    // What it did, as the buffer gave it (the per-packet marks are on the
    // packets themselves: late ones carry `late`).
    playout_result playout;
    double packetization_ms = 0.0;     // the most common packet duration
    // Filled once the stream is rebuilt.
    double loss_percent = 0.0;         // lost and late packets of those expected
    double mean_loss_burst = 0.0;      // packets per run of losses
    emodel_result quality;
    double one_way_delay_ms = 0.0;     // the delay the quality estimate assumes
    bool one_way_delay_given = false;  // by --one-way-delay, not put together from the parts below
    bool network_delay_known = false;  // RTCP measured a round trip
    double network_delay_ms = 0.0;     // half of it
    // The capture's RTCP reports that concern the stream, each held once
    // for the whole capture (many streams may share an SSRC): these point
    // into the capture's list, which outlives them.
    std::vector<const rtcp_report*> sender_reports;   // from the stream's SSRC
    std::vector<std::pair<const rtcp_report*, const rtcp_report_block*>> receiver_reports; // about it
    std::size_t rtcp_not_listed = 0;      // reports about the stream beyond the limit
    std::size_t rtcp_blocks_not_shown = 0; // further blocks about it in reports listed (one is shown a report)
};

// RTCP reports listed for one stream, sender and receiver reports each; the
// rest are counted. A call of an hour sends about 720 of each.
constexpr std::size_t kMaxRtcpReportsPerStream = 1000;

// The figures from the packets before the stream is rebuilt; with a jitter
// buffer, marks the packets it would have dropped as late. With `table`,
// gives it a row for each packet (up to kMaxPacketRows, the rest counted):
// its header, its arrival figures and what the buffer did with it.
stream_network analyse_network(std::vector<rtp_packet>& packets, const std::optional<jitter_buffer_setting>& buffer,
                               packet_table* table = nullptr);

// The loss and quality figures once the stream is rebuilt, and the RTCP
// reports that concern `ssrc`: the sender reports of `from_sender` (sent
// from the stream's side) and the report blocks of `from_receiver` (sent
// from the other side), each list in capture order. At most
// kMaxRtcpReportsPerStream of each are listed, and no more than `budget`
// in all (taken from it), so that a capture's streams together list a
// bounded number; one block about the stream is shown a report. The
// quality estimate assumes `one_way_delay_ms` when given, else the delay of
// a packet, the codec, the buffer and the network when RTCP measured it.
void finish_network(stream_network& n, const rebuilt_stream& stream, uint32_t ssrc,
                    const std::vector<const rtcp_report*>& from_sender, const std::vector<const rtcp_report*>& from_receiver,
                    std::size_t& budget, const std::optional<double>& one_way_delay_ms = std::nullopt);

// "60 ms", "adaptive": the jitter buffer modelled, as the texts name it.
std::string buffer_name(const jitter_buffer_setting& b);

// Indented lines for info's text, with times written by `time_text`, and
// the members of its JSON object.
std::string network_text(const stream_network& n, const std::string& indent,
                         const std::function<std::string(int64_t)>& time_text);
std::string network_json(const stream_network& n);

} // namespace g729::tool

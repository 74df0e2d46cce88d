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
#include "tools/capture/rtcp.h"
#include "tools/capture/rtp_stream.h"
#include "tools/capture/stream_analysis.h"

namespace g729::tool {

struct stream_network {
    arrival_analysis arrivals;
    bool buffered = false;             // a jitter buffer was modelled
    jitter_buffer_setting buffer;
    std::size_t late_packets = 0;
    std::size_t discarded_packets = 0; // so early that the buffer was full
    double buffer_mean_delay_ms = 0.0;
    double buffer_max_delay_ms = 0.0;
    std::size_t buffer_delay_changes = 0;
    double packetization_ms = 0.0;     // the most common packet duration
    // Filled once the stream is rebuilt.
    double loss_percent = 0.0;         // lost and late packets of those expected
    double mean_loss_burst = 0.0;      // packets per run of losses
    emodel_result quality;
    std::vector<rtcp_report> sender_reports;          // from the stream's SSRC
    std::vector<std::pair<rtcp_report, rtcp_report_block>> receiver_reports; // about it
};

// The figures from the packets before the stream is rebuilt; with a jitter
// buffer, marks the packets it would have dropped as late.
stream_network analyse_network(std::vector<rtp_packet>& packets, const std::optional<jitter_buffer_setting>& buffer);

// The loss and quality figures once the stream is rebuilt, and the RTCP
// reports of the capture that concern `ssrc`.
void finish_network(stream_network& n, const rebuilt_stream& stream, uint32_t ssrc, const std::vector<rtcp_report>& rtcp);

// Indented lines for info's text, with times written by `time_text`, and
// the members of its JSON object.
std::string network_text(const stream_network& n, const std::string& indent,
                         const std::function<std::string(int64_t)>& time_text);
std::string network_json(const stream_network& n);

// "20", "adaptive": the value of --jitter-buffer; nullopt and a message in
// `problem` when it is neither a delay in ms (0-1000) nor "adaptive".
std::optional<jitter_buffer_setting> parse_jitter_buffer(const std::string& value, std::string& problem);

} // namespace g729::tool

#include "tools/capture/rtcp.h"

#include <algorithm>
#include <map>
#include <utility>

#include "tools/capture/packets.h"

namespace g729::tool {

namespace {

constexpr int kSenderReport = 200;
constexpr int kReceiverReport = 201;
constexpr std::size_t kReportBlockBytes = 24;
constexpr std::size_t kSenderInfoBytes = 20;
// Seconds from the NTP era (1900) to the Unix epoch (1970).
constexpr int64_t kNtpToUnixSeconds = 2208988800;
// The longest round trip taken for one: ten seconds is past any path a call
// survives on, so a longer one is a stale or wrong LSR, not a measurement.
constexpr uint32_t kMaxRoundTrip = 10 * 65536;

rtcp_report_block read_block(const uint8_t* p, int64_t arrival_ns) {
    rtcp_report_block b;
    b.source = be32(p);
    b.fraction_lost = double(p[4]) / 256.0;
    const uint32_t lost = uint32_t(p[5]) << 16 | uint32_t(p[6]) << 8 | uint32_t(p[7]);
    b.cumulative_lost = (lost & 0x800000) ? int32_t(lost) - 0x1000000 : int32_t(lost);
    b.highest_sequence = be32(p + 8);
    b.jitter_ticks = be32(p + 12);
    b.last_sr = be32(p + 16);
    b.delay_since_last_sr = be32(p + 20);
    if (b.last_sr != 0) {
        // In units of 1/65536 s, modulo 2^32: A - LSR - DLSR.
        const uint32_t rtt = ntp_middle(arrival_ns) - b.last_sr - b.delay_since_last_sr;
        if (rtt <= kMaxRoundTrip) {
            b.rtt_known = true;
            b.rtt_ms = double(rtt) * 1000.0 / 65536.0;
        }
    }
    return b;
}

} // namespace

void confirm_round_trips(std::vector<rtcp_report>& reports) {
    // The earliest arrival of each (sender, NTP time) pair.
    std::map<std::pair<uint32_t, uint32_t>, int64_t> sent;
    for (const rtcp_report& r : reports)
        if (r.sender_report) {
            const auto [it, added] = sent.emplace(std::pair{r.reporter, r.sent_at_ntp}, r.arrival_ns);
            if (!added) it->second = std::min(it->second, r.arrival_ns);
        }
    for (rtcp_report& r : reports)
        for (rtcp_report_block& b : r.blocks) {
            if (!b.rtt_known) continue;
            const auto it = sent.find({b.source, b.last_sr});
            b.rtt_known = it != sent.end() && it->second <= r.arrival_ns;
        }
}

uint32_t ntp_middle(int64_t unix_ns) {
    const int64_t seconds = (unix_ns >= 0 ? unix_ns / 1000000000 : (unix_ns - 999999999) / 1000000000);
    const int64_t rest_ns = unix_ns - seconds * 1000000000;
    const uint64_t ntp_seconds = uint64_t(seconds + kNtpToUnixSeconds);
    const uint64_t fraction16 = uint64_t(rest_ns) * 65536 / 1000000000;
    return uint32_t((ntp_seconds << 16) | fraction16);
}

void read_rtcp(const uint8_t* data, std::size_t size, int64_t arrival_ns, std::vector<rtcp_report>& reports) {
    std::size_t offset = 0;
    while (size - offset >= 4) {
        const uint8_t* p = data + offset;
        if ((p[0] >> 6) != 2) return;
        const std::size_t count = p[0] & 0x1F;
        const int type = p[1];
        const std::size_t length = (std::size_t(p[2]) << 8 | p[3]) * 4 + 4;
        if (length > size - offset) return;
        const std::size_t info = type == kSenderReport ? kSenderInfoBytes : 0;
        if ((type == kSenderReport || type == kReceiverReport) && length >= 8 + info + count * kReportBlockBytes) {
            rtcp_report r;
            r.arrival_ns = arrival_ns;
            r.reporter = be32(p + 4);
            r.sender_report = type == kSenderReport;
            if (r.sender_report) {
                r.sent_at_ntp = be32(p + 10); // the low half of the NTP seconds, the high half of the fraction
                r.packets_sent = be32(p + 20);
                r.octets_sent = be32(p + 24);
            }
            for (std::size_t k = 0; k < count; ++k)
                r.blocks.push_back(read_block(p + 8 + info + k * kReportBlockBytes, arrival_ns));
            reports.push_back(r);
        }
        offset += length;
    }
}

} // namespace g729::tool

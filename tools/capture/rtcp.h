// RTCP sender and receiver reports as a capture carries them: what a
// sender says it sent, what each receiver says it lost and the jitter it
// saw, and the round-trip time that a report's LSR and DLSR give.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace g729::tool {

struct rtcp_report_block {
    uint32_t source = 0;          // the SSRC the block reports on
    double fraction_lost = 0.0;   // since the previous report, 0-1
    int32_t cumulative_lost = 0;  // may be negative (duplicates)
    uint32_t highest_sequence = 0;
    uint32_t jitter_ticks = 0;
    uint32_t last_sr = 0;         // middle 32 bits of the NTP time of the last SR received
    uint32_t delay_since_last_sr = 0; // in 1/65536 s
    bool rtt_known = false;       // a round trip from 0 to 10 s whose LSR names a sender report seen
    double rtt_ms = 0.0;          // arrival of this report - LSR - DLSR
};

struct rtcp_report {
    int64_t arrival_ns = 0;
    uint32_t reporter = 0; // SSRC of the sender of the report
    bool sender_report = false;
    uint32_t packets_sent = 0; // sender reports only
    uint32_t octets_sent = 0;
    uint32_t sent_at_ntp = 0;  // sender reports: the middle 32 bits of their NTP time, what a later LSR names
    std::vector<rtcp_report_block> blocks;
};

// Reads the SR and RR packets of a compound RTCP packet that arrived at
// `arrival_ns` (Unix time); other RTCP packets in it are stepped over.
// Nothing is appended when the packet is not well-formed RTCP: a length
// that runs past the datagram stops the walk there.
void read_rtcp(const uint8_t* data, std::size_t size, int64_t arrival_ns, std::vector<rtcp_report>& reports);

// A round trip is a measurement only when the LSR names a sender report of
// the capture, from the SSRC the block reports on, that came before the
// report: otherwise LSR is a clock reading of unknown origin (or a crafted
// number) and A - LSR - DLSR anything at all. Clears rtt_known of the rest.
void confirm_round_trips(std::vector<rtcp_report>& reports);

// The middle 32 bits of the NTP timestamp of a Unix time in ns.
uint32_t ntp_middle(int64_t unix_ns);

} // namespace g729::tool

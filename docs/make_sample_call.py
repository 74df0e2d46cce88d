#!/usr/bin/env python3
"""Builds data/sample_call.pcap, the sample call that docs/sample_call.png
draws: a SIP call (INVITE with an SDP offer, 100, 180, 200 with the answer,
ACK; BYE from the caller and its 200 after the media) and its two directions
of G.729 over RTP, each coded by the g729a tool from the bundled speech,
sent in 20 ms packets through a network that delays them by 0 to 15 ms,
loses a burst of three packets and holds one back by 80 ms, with an RTCP
sender and receiver report. Deterministic: the same tool gives the same
capture.

    docs/make_sample_call.py build/tools/g729a data/sample_call.pcap
    build/tools/g729a plot --jitter-buffer 40 data/sample_call.pcap docs/sample_call.png
"""
import random
import subprocess
import sys
import tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests/tools/capture"))
from capture_writer import ethernet_udp, ntp_middle32, pcap, rtcp_report, rtp, sdp, sip  # noqa: E402

MACS = (bytes([2, 0, 0, 0, 0, 2]), bytes([2, 0, 0, 0, 0, 1]))
START_NS = 1700000000 * 10**9


def coded_frames(tool, raw):
    with tempfile.TemporaryDirectory() as scratch:
        out = Path(scratch) / "call.g729"
        subprocess.run([tool, "encode", "-q", str(raw), str(out)], check=True)
        data = out.read_bytes()
    return [data[i:i + 10] for i in range(0, len(data) - 9, 10)]


def ip_udp(src, dst, sport, dport, payload):
    return ethernet_udp(src, dst, sport, dport, payload, MACS)


def direction(frames, ssrc, first_sequence, start_ns, rng, losses, late):
    """(arrival_ns, rtp bytes) of each packet that arrives."""
    packets = []
    for n in range(len(frames) // 2):
        if n in losses:
            continue
        packet = rtp(first_sequence + n, 0x1000 + 160 * n, frames[2 * n] + frames[2 * n + 1], ssrc=ssrc, marker=n == 0)
        delay_ms = min(15.0, abs(rng.gauss(0, 5)))
        if n == late:
            delay_ms += 80
        packets.append((start_ns + n * 20 * 10**6 + int(delay_ms * 10**6), packet))
    return packets


def main():
    tool, out = sys.argv[1], Path(sys.argv[2])
    rng = random.Random(729)
    a, b = [10, 0, 0, 1], [10, 0, 0, 2]
    male = coded_frames(tool, ROOT / "tests/data/vectors/speech_male_librivox.raw")
    female = coded_frames(tool, ROOT / "tests/data/vectors/speech_female_espeak.raw")
    records = [(t, ip_udp(a, b, 4000, 5000, p)) for t, p in
               direction(male, 0x1a2b3c4d, 1000, START_NS, rng, {100, 101, 102}, 180)]
    records += [(t, ip_udp(b, a, 5000, 4000, p)) for t, p in
                direction(female, 0x55667788, 2000, START_NS + 2500 * 10**6, rng, {40}, None)]
    sr_ns = START_NS + 2000 * 10**6
    # The report's NTP time is what the receiver's LSR names.
    sr = rtcp_report(0x1a2b3c4d, sent=(100, 2000), sent_at_ns=sr_ns)
    rr = rtcp_report(0x55667788, [(0x1a2b3c4d, 8, 3, 1103, 40, ntp_middle32(sr_ns), 65536 // 20)])
    records.append((sr_ns, ip_udp(a, b, 4001, 5001, sr)))
    records.append((sr_ns + 70 * 10**6, ip_udp(b, a, 5001, 4001, rr)))
    records += signalling(a, b, START_NS, max(t for t, _ in records))
    records.sort(key=lambda r: r[0])
    out.write_bytes(pcap(records))


def signalling(a, b, media_start_ns, media_end_ns):
    """The call's SIP between a and b (port 5060): rung 2.3 s before the
    first packet, ringing 0.4 s later, answered 0.1 s before it, hung up by
    the caller 0.3 s after the last packet."""
    ms = 10**6
    call_id = "3c26b1f0e8a5@10.0.0.1"
    caller = '"Alice" <sip:alice@10.0.0.1>;tag=a1c3'
    callee = "<sip:bob@10.0.0.2>"
    answered = callee + ";tag=b2d4"
    invite = media_start_ns - 2300 * ms
    bye = media_end_ns + 300 * ms
    contact = ("Contact: <sip:alice@10.0.0.1>",)
    messages = [
        (invite, a, b, sip("INVITE sip:bob@10.0.0.2 SIP/2.0", call_id, caller, callee, "1 INVITE",
                           sdp("10.0.0.1", 4000, (18, 101)), contact)),
        (invite + 40 * ms, b, a, sip("SIP/2.0 100 Trying", call_id, caller, callee, "1 INVITE")),
        (invite + 400 * ms, b, a, sip("SIP/2.0 180 Ringing", call_id, caller, answered, "1 INVITE")),
        (invite + 2200 * ms, b, a, sip("SIP/2.0 200 OK", call_id, caller, answered, "1 INVITE",
                                       sdp("10.0.0.2", 5000, (18, 101)), ("Contact: <sip:bob@10.0.0.2>",))),
        (invite + 2220 * ms, a, b, sip("ACK sip:bob@10.0.0.2 SIP/2.0", call_id, caller, answered, "1 ACK")),
        (bye, a, b, sip("BYE sip:bob@10.0.0.2 SIP/2.0", call_id, caller, answered, "2 BYE")),
        (bye + 30 * ms, b, a, sip("SIP/2.0 200 OK", call_id, caller, answered, "2 BYE")),
    ]
    return [(t, ip_udp(src, dst, 5060, 5060, message)) for t, src, dst, message in messages]


if __name__ == "__main__":
    main()

"""The capture writer of the scripts: fuzz/make_seeds.py writes the seed
captures with it, docs/make_sample_call.py the sample call. (The tool tests
write theirs with capture_writer.h beside this file.) Packets are UDP
datagrams over IPv4 in Ethernet frames carrying RTP, RTCP or SIP, or TCP
segments carrying SIP; captures are pcap or pcapng files of (time in
nanoseconds since 1970, frame) records.
"""
import struct

# Destination and source addresses of the Ethernet frames, unless given.
MACS = (bytes.fromhex("001122334455"), bytes.fromhex("66778899aabb"))


def rtp(sequence, timestamp, payload, payload_type=18, ssrc=0x1234ABCD, marker=False):
    """An RTP version 2 packet without CSRCs, extension or padding."""
    return struct.pack(">BBHII", 0x80, (0x80 if marker else 0) | payload_type, sequence & 0xFFFF,
                       timestamp & 0xFFFFFFFF, ssrc) + payload


def telephone_event(event, end, volume, duration):
    """An RFC 4733 event payload: the event (0-9, 10 '*', 11 '#', 12-15
    A-D), the end bit, the volume in -dBm0 and the duration in 1/8000 s."""
    return struct.pack(">BBH", event, (0x80 if end else 0) | (volume & 0x3F), duration)


def rtcp_report(reporter, blocks=(), sent=None, sent_at_ns=None):
    """A sender report from `reporter` when `sent` is (packets, octets), its
    NTP time that of `sent_at_ns` (zero without) and its RTP time zero;
    else a receiver report. Up to 31 report blocks (source, fraction lost,
    cumulative lost, highest sequence, jitter, LSR, DLSR)."""
    body = struct.pack(">I", reporter)
    if sent:
        body += struct.pack(">QIII", 0 if sent_at_ns is None else ntp_time(sent_at_ns), 0, *sent)
    for source, fraction, cumulative, highest, jitter, lsr, dlsr in blocks:
        body += struct.pack(">IIIIII", source, (fraction << 24) | (cumulative & 0xFFFFFF), highest, jitter, lsr, dlsr)
    return struct.pack(">BBH", 0x80 | len(blocks), 200 if sent else 201, len(body) // 4) + body


def ntp_time(ns):
    """The 64-bit NTP time of a Unix time in ns: seconds since 1900 and the
    fraction, in 1/2^32 s."""
    return (ns // 10**9 + 2208988800) << 32 | (ns % 10**9) * (1 << 32) // 10**9


def ntp_middle32(ns):
    """The middle 32 bits of the NTP time of a Unix time, as an LSR carries it."""
    return ntp_time(ns) >> 16 & 0xFFFFFFFF


def ethernet_udp(source, destination, source_port, destination_port, payload, macs=MACS):
    """A UDP datagram between two IPv4 addresses (4 bytes each), in an
    Ethernet frame."""
    udp = struct.pack(">HHHH", source_port, destination_port, 8 + len(payload), 0) + payload
    ip = struct.pack(">BBHHHBBH4s4s", 0x45, 0, 20 + len(udp), 0, 0, 64, 17, 0, bytes(source), bytes(destination)) + udp
    return macs[0] + macs[1] + struct.pack(">H", 0x0800) + ip


def ethernet_tcp(source, destination, source_port, destination_port, payload, sequence=1, macs=MACS):
    """A TCP segment (ACK and PSH set, no options) between two IPv4
    addresses, in an Ethernet frame."""
    tcp = struct.pack(">HHIIBBHHH", source_port, destination_port, sequence, 1, 5 << 4, 0x18, 65535, 0, 0) + payload
    ip = struct.pack(">BBHHHBBH4s4s", 0x45, 0, 20 + len(tcp), 0, 0, 64, 6, 0, bytes(source), bytes(destination)) + tcp
    return macs[0] + macs[1] + struct.pack(">H", 0x0800) + ip


def sdp(address, port, payload_types=(18,), ptime=20, direction="sendrecv"):
    """An SDP body offering or answering audio at address:port (text), G.729
    and telephone events."""
    names = {18: "G729/8000", 0: "PCMU/8000", 8: "PCMA/8000", 101: "telephone-event/8000"}
    lines = ["v=0", "o=- 1 1 IN IP4 %s" % address, "s=-", "c=IN IP4 %s" % address, "t=0 0",
             "m=audio %d RTP/AVP %s" % (port, " ".join(str(pt) for pt in payload_types))]
    lines += ["a=rtpmap:%d %s" % (pt, names[pt]) for pt in payload_types if pt in names]
    lines += ["a=ptime:%d" % ptime, "a=" + direction]
    return ("\r\n".join(lines) + "\r\n").encode()


def sip(first_line, call_id, from_, to, cseq, body=b"", extra=()):
    """A SIP message: its first line ("INVITE sip:bob@host SIP/2.0" or
    "SIP/2.0 200 OK"), Via, From, To, Call-ID, CSeq ("1 INVITE"), any
    `extra` header lines, Content-Length and the body (SDP when there is
    one)."""
    headers = [first_line, "Via: SIP/2.0/UDP 10.0.0.1:5060;branch=z9hG4bK" + cseq.split()[0], "Max-Forwards: 70",
               "From: " + from_, "To: " + to, "Call-ID: " + call_id, "CSeq: " + cseq]
    headers += list(extra)
    if body:
        headers.append("Content-Type: application/sdp")
    headers.append("Content-Length: %d" % len(body))
    return ("\r\n".join(headers) + "\r\n\r\n").encode() + body


def pcap(records):
    """A pcap file, Ethernet, microsecond times."""
    # Joined once: adding to one bytes object makes a capture of tens of
    # thousands of packets take minutes.
    out = [struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 65535, 1)]
    for ns, frame in records:
        out.append(struct.pack("<IIII", ns // 10**9, ns % 10**9 // 1000, len(frame), len(frame)) + frame)
    return b"".join(out)


def pcapng(records, tsoffset=None):
    """A section header, one Ethernet interface with microsecond times (and
    with `tsoffset`, an if_tsoffset option: seconds added to every time),
    and an enhanced packet block per packet (times 64-bit)."""
    def block(kind, body):
        return struct.pack("<II", kind, 12 + len(body)) + body + struct.pack("<I", 12 + len(body))
    out = block(0x0A0D0D0A, struct.pack("<IHHq", 0x1A2B3C4D, 1, 0, -1))
    options = b"" if tsoffset is None else struct.pack("<HHqI", 14, 8, tsoffset, 0)
    out += block(1, struct.pack("<HHI", 1, 0, 65535) + options)
    for ns, frame in records:
        micros = ns // 1000
        body = struct.pack("<IIIII", 0, micros >> 32, micros & 0xFFFFFFFF, len(frame), len(frame)) + frame
        body += b"\0" * (-len(body) % 4)
        out += block(6, body)
    return out

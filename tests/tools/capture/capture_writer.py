"""The capture writer of the scripts: fuzz/make_seeds.py writes the seed
captures with it, docs/make_sample_call.py the sample call. (The tool tests
write theirs with capture_writer.h beside this file.) Packets are UDP
datagrams over IPv4 in Ethernet frames carrying RTP or RTCP; captures are
pcap or pcapng files of (time in nanoseconds since 1970, frame) records.
"""
import struct

# Destination and source addresses of the Ethernet frames, unless given.
MACS = (bytes.fromhex("001122334455"), bytes.fromhex("66778899aabb"))


def rtp(sequence, timestamp, payload, payload_type=18, ssrc=0x1234ABCD, marker=False):
    """An RTP version 2 packet without CSRCs, extension or padding."""
    return struct.pack(">BBHII", 0x80, (0x80 if marker else 0) | payload_type, sequence & 0xFFFF,
                       timestamp & 0xFFFFFFFF, ssrc) + payload


def rtcp_sender_report(ssrc, packets, octets):
    """A sender report without report blocks (NTP and RTP times zero)."""
    return struct.pack(">BBHI", 0x80, 200, 6, ssrc) + struct.pack(">IIIII", 0, 0, 0, packets, octets)


def rtcp_receiver_report(ssrc, about, fraction, cumulative, highest, jitter, lsr, dlsr):
    """A receiver report from `ssrc` with one report block about `about`."""
    return struct.pack(">BBHII", 0x81, 201, 7, ssrc, about) + struct.pack(
        ">IIIII", (fraction << 24) | (cumulative & 0xFFFFFF), highest, jitter, lsr, dlsr)


def ntp_middle32(ns):
    """The middle 32 bits of the NTP time of a Unix time, as RTCP carries it."""
    return ((ns // 10**9 + 2208988800) << 16 | (ns % 10**9) * 65536 // 10**9) & 0xFFFFFFFF


def ethernet_udp(source, destination, source_port, destination_port, payload, macs=MACS):
    """A UDP datagram between two IPv4 addresses (4 bytes each), in an
    Ethernet frame."""
    udp = struct.pack(">HHHH", source_port, destination_port, 8 + len(payload), 0) + payload
    ip = struct.pack(">BBHHHBBH4s4s", 0x45, 0, 20 + len(udp), 0, 0, 64, 17, 0, bytes(source), bytes(destination)) + udp
    return macs[0] + macs[1] + struct.pack(">H", 0x0800) + ip


def pcap(records):
    """A pcap file, Ethernet, microsecond times."""
    out = struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 65535, 1)
    for ns, frame in records:
        out += struct.pack("<IIII", ns // 10**9, ns % 10**9 // 1000, len(frame), len(frame)) + frame
    return out


def pcapng(records):
    """A section header, one Ethernet interface with microsecond times, and
    an enhanced packet block per packet (times 64-bit)."""
    def block(kind, body):
        return struct.pack("<II", kind, 12 + len(body)) + body + struct.pack("<I", 12 + len(body))
    out = block(0x0A0D0D0A, struct.pack("<IHHq", 0x1A2B3C4D, 1, 0, -1))
    out += block(1, struct.pack("<HHI", 1, 0, 65535))
    for ns, frame in records:
        micros = ns // 1000
        body = struct.pack("<IIIII", 0, micros >> 32, micros & 0xFFFFFFFF, len(frame), len(frame)) + frame
        body += b"\0" * (-len(body) % 4)
        out += block(6, body)
    return out

#!/usr/bin/env python3
"""Writes the seed corpora under fuzz/corpus/ from the reference vectors in
tests/data/vectors, in each fuzz target's input layout (see the comment at the
top of each target). Run from anywhere; it replaces the seed-* files and
leaves other files (regression inputs) alone.
"""
import math
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "tools", "capture"))
from capture_writer import ethernet_tcp, ethernet_udp, ntp_middle32, pcap, pcapng, rtcp_report, rtp, sdp, sip, telephone_event  # noqa: E402
VECTORS = os.path.join(HERE, "..", "tests", "data", "vectors")
CORPUS = os.path.join(HERE, "corpus")


def vector(name):
    with open(os.path.join(VECTORS, name), "rb") as f:
        return f.read()


def records(pay):
    """The (length, bytes) records of a .pay decoder vector."""
    out, i = [], 0
    while i < len(pay):
        n = pay[i]
        out.append(pay[i + 1:i + 1 + n])
        i += 1 + n
    return out


def write(target, name, data):
    d = os.path.join(CORPUS, target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, "seed-" + name), "wb") as f:
        f.write(bytes(data))


def clear_seeds():
    for target in os.listdir(CORPUS) if os.path.isdir(CORPUS) else []:
        d = os.path.join(CORPUS, target)
        for name in os.listdir(d):
            if name.startswith("seed-"):
                os.remove(os.path.join(d, name))


# --- decoder_fuzz: control byte (call << 6 | n), then data ---------------
def payload(data):  # call 0: a payload with room to spare
    assert len(data) < 64
    return bytes([len(data)]) + data


def payload_room(data, room):  # call 1
    return bytes([0x40 | len(data), room]) + data


def frame(data):  # call 2
    assert len(data) < 32
    return bytes([0x80 | len(data)]) + data


LOST = bytes([0x80 | 32])  # call 2, NULL frame
RESET = bytes([0xC0])


def decoder_seeds():
    speech = vector("speech_male_librivox.g729")
    write("decoder_fuzz", "speech-payloads",
          b"".join(payload(speech[i:i + 20]) for i in range(0, 600, 20)))
    write("decoder_fuzz", "speech-lost-frames",
          b"".join(frame(speech[i:i + 10]) + (LOST if i % 50 == 0 else b"") for i in range(600, 1200, 10)))
    write("decoder_fuzz", "speech-short-room",
          b"".join(payload_room(speech[i:i + 30], 160) for i in range(1200, 1500, 30)) + RESET +
          b"".join(payload(speech[i:i + 12]) for i in range(1500, 1620, 12)))
    square = vector("square_fullscale.g729")
    write("decoder_fuzz", "square-with-sid",
          b"".join(payload(square[i:i + 62]) for i in range(0, 620, 62)))
    for name, count in (("speech_sid_mix.pay", 120), ("random_frames.pay", 40), ("parity_errors.pay", 60)):
        recs = [r for r in records(vector(name)) if len(r) < 32][:count]
        write("decoder_fuzz", name.split(".")[0], b"".join(frame(r) for r in recs))


# --- encoder_fuzz: mode byte, then the signal -----------------------------
def encoder_seeds():
    for name in ("speech_male_librivox", "speech_female_espeak", "tone_1kHz", "square_fullscale", "silence"):
        write("encoder_fuzz", name, bytes([0]) + vector(name + ".raw")[:2 * 1600])
    write("encoder_fuzz", "speech-amplified", bytes([0x80 | 2 | 4 * 4]) + vector("speech_male_espeak.raw")[:2 * 800])
    # Full-scale runs: +max, -max, zero, +-1, alternating at several rates.
    runs = bytes([(31 << 3) | 1, (31 << 3) | 0] * 8 + [(3 << 3) | 1, (3 << 3) | 0] * 40 +
                 [0 << 3 | 1, 0 << 3 | 0] * 200 + [(31 << 3) | 2] * 4 + [(7 << 3) | 3, (7 << 3) | 4] * 40)
    write("encoder_fuzz", "extremes", bytes([1]) + runs)
    write("encoder_fuzz", "top-bytes", bytes([3]) + vector("tone_1kHz.raw")[1:2 * 800:2])
    # Silence suppression: speech, digital silence, speech, as they come.
    speech = vector("speech_male_librivox.raw")
    write("encoder_fuzz", "dtx", bytes([0x40]) + speech[:2 * 1600] + bytes(2 * 2400) + speech[2 * 1600:2 * 2400])


# --- many_channels_fuzz: channel byte, then rounds -------------------------
def many_channels_seeds():
    speeches = [vector(n + ".raw") for n in ("speech_male_librivox", "speech_female_espeak", "speech_male_espeak",
                                             "tone_1kHz", "square_fullscale", "silence")]
    coded = [vector(n + ".g729") for n in ("speech_male_librivox", "speech_female_espeak", "speech_male_espeak",
                                           "tone_1kHz", "square_fullscale", "silence")]
    for channels in (12, 5):
        out = bytes([channels - 1])
        for f in range(6):  # encode rounds: each lane its own signal
            out += bytes([0]) + b"".join(bytes([0]) + speeches[i % 6][160 * f:160 * f + 160] for i in range(channels))
        for f in range(12):  # decode rounds: each lane its own stream
            out += bytes([1]) + b"".join(bytes([0]) + coded[i % 6][10 * f:10 * f + 10] for i in range(channels))
        write("many_channels_fuzz", "speech-%d-channels" % channels, out)
    # Eight lanes: silence suppression on two encoders fed a constant, lanes
    # naming one instance twice, refused lanes, a missing frame and a SID
    # on the decode side, a round without results, a NULL array, a reset.
    speech = speeches[0]
    out = bytes([7, 3 | 0 << 2 | 1 << 4 | 0x80, 3 | 0 << 2 | 2 << 4 | 0x80])
    for f in range(12):
        lanes = [bytes([0]) + speech[160 * f:160 * f + 160], bytes([1, 0x10, 0x00]), bytes([1, 0x10, 0x00]),
                 bytes([2 | 3 << 2]), bytes([3]), bytes([3 | 1 << 2]), bytes([3 | 2 << 2]), bytes([0]) + speech[160 * f + 4000:160 * f + 4160]]
        out += bytes([0]) + b"".join(lanes)
    out += bytes([2, 0, 0, 1, 1, 2, 3, 7, 7])  # lanes name instances 0, 0, 1, 1, 2, 3, 7, 7
    for f in range(4):
        out += bytes([0]) + b"".join(bytes([0]) + speech[160 * (f + 40 + i):160 * (f + 41 + i)] for i in range(8))
        out += bytes([1]) + b"".join(bytes([m]) + coded[0][10 * (f + i):10 * (f + i) + (10 if m == 0 else 2 if m == 1 else 0)]
                                     for i, m in enumerate([0, 0, 1, 2, 3, 0, 0, 1]))
    out += bytes([2, 0, 1, 2, 3, 4, 5, 6, 7])
    out += bytes([3 | 3 << 2]) + bytes([1]) + b"".join(bytes([m]) + bytes(range(10)) for m in [0, 4, 4 | 8 << 3, 5, 6, 7, 0, 1])
    out += bytes([3 | 2 << 2, 3 | 1 << 2 | 3 << 4])
    out += bytes([0]) + b"".join(bytes([0]) + speech[160 * i:160 * i + 160] for i in range(8))
    write("many_channels_fuzz", "dtx-shared-refused", out)


# --- module_fuzz: operation records ---------------------------------------
def slin_in(pcm_bytes):  # op 0 with flags 2: datalen = 2 * samples
    n = len(pcm_bytes) // 2
    return bytes([0]) + struct.pack("<hhB", n, 0, 2) + pcm_bytes


def slin_in_raw(samples, datalen, flags, data=b""):
    return bytes([0]) + struct.pack("<hhB", samples, datalen, flags) + data


def g729_in(data, samples=0, flags=0):  # op 2
    return bytes([2]) + struct.pack("<hBh", len(data), flags, samples) + data


ENC_OUT, DEC_OUT, PIPE, ENC_DRAIN = bytes([1]), bytes([3]), bytes([4]), bytes([5])


def module_seeds():
    pcm = vector("speech_male_librivox.raw")
    write("module_fuzz", "encode-20ms",
          b"".join(slin_in(pcm[i:i + 320]) + ENC_OUT + PIPE + (DEC_OUT if i % 960 == 0 else b"")
                   for i in range(0, 320 * 12, 320)))
    write("module_fuzz", "encode-odd-sizes",
          b"".join(slin_in(pcm[i:i + 2 * n]) + (ENC_DRAIN if n > 100 else b"")
                   for i, n in zip(range(0, 20000, 500), [1, 79, 81, 160, 240, 7, 333] * 6)))
    speech = vector("speech_male_librivox.g729")
    write("module_fuzz", "decode-payloads",
          b"".join(g729_in(speech[i:i + 20], 160) + (DEC_OUT if i % 100 == 0 else b"")
                   for i in range(0, 400, 20)) + g729_in(speech[:22]) + g729_in(speech[:25]))
    write("module_fuzz", "bad-frames",
          slin_in_raw(-1, 0, 0) + slin_in_raw(100, 100, 0, pcm[:100]) + slin_in_raw(10, 20, 1) +
          slin_in_raw(9000, 18000, 2) + g729_in(b"", 0, 1) + bytes([2]) + struct.pack("<hBh", -5, 0, 0) +
          bytes([6 | (2 << 3)]) + bytes([1, 0, 0]) + b"\x12\x34" + bytes([6 | (7 << 3), 0, 0, 0]) + speech[:7] + ENC_OUT + DEC_OUT)


# --- tool_readers_fuzz: selector byte, then the file ----------------------
def bit_frame(frame_bytes, bits, bad=False):
    out = struct.pack("<HH", 0x6B20 if bad else 0x6B21, bits)
    for i in range(bits):
        out += struct.pack("<H", 0x81 if frame_bytes[i // 8] & (0x80 >> (i % 8)) else 0x7F)
    return out


def wav(pcm, rate=8000, channels=1, fmt=1, bits=16):
    fmt_chunk = struct.pack("<HHIIHH", fmt, channels, rate, rate * channels * bits // 8, channels * bits // 8, bits)
    return (b"RIFF" + struct.pack("<I", 4 + 8 + len(fmt_chunk) + 8 + len(pcm)) + b"WAVE" +
            b"fmt " + struct.pack("<I", len(fmt_chunk)) + fmt_chunk + b"data" + struct.pack("<I", len(pcm)) + pcm)


def extended(x):
    """An IEEE 754 80-bit extended value, as AIFF stores its sample rate."""
    exponent = int(math.floor(math.log2(x)))
    mantissa = int(x * 2 ** (63 - exponent))
    return struct.pack(">HQ", 16383 + exponent, mantissa)


def aiff(pcm_le, rate=8000):
    pcm = b"".join(pcm_le[i + 1:i + 2] + pcm_le[i:i + 1] for i in range(0, len(pcm_le), 2))
    comm = struct.pack(">hIh", 1, len(pcm) // 2, 16) + extended(rate)
    ssnd = struct.pack(">II", 0, 0) + pcm
    body = b"AIFF" + b"COMM" + struct.pack(">I", len(comm)) + comm + b"SSND" + struct.pack(">I", len(ssnd)) + ssnd
    return b"FORM" + struct.pack(">I", len(body)) + body


def au(pcm_le, rate=8000):
    pcm = b"".join(pcm_le[i + 1:i + 2] + pcm_le[i:i + 1] for i in range(0, len(pcm_le), 2))
    return b".snd" + struct.pack(">IIIII", 24, len(pcm), 3, rate, 1) + pcm


def tool_seeds():
    speech = vector("speech_male_librivox.g729")
    write("tool_readers_fuzz", "g729", bytes([0]) + speech[:300] + speech[300:302])
    write("tool_readers_fuzz", "g729-ragged", bytes([0]) + speech[:104])
    bit = b"".join(bit_frame(speech[i:i + 10], 80, bad=(i == 30)) for i in range(0, 60, 10))
    bit += bit_frame(b"\xa5\x80", 15) + bit_frame(b"", 0) + bit_frame(b"\x5a\x3c", 16)
    write("tool_readers_fuzz", "bit", bytes([1]) + bit)
    write("tool_readers_fuzz", "bit-sid-last", bytes([1]) + bit_frame(speech[:10], 80) + bit_frame(b"\x12\x34", 16))
    pcm = vector("speech_male_librivox.raw")[8000:8000 + 1600]
    write("tool_readers_fuzz", "wav-8k", bytes([2]) + wav(pcm))
    write("tool_readers_fuzz", "wav-16k-stereo", bytes([2]) + wav(pcm, rate=16000, channels=2))
    write("tool_readers_fuzz", "wav-float", bytes([2]) + wav(b"".join(
        struct.pack("<f", struct.unpack_from("<h", pcm, i)[0] / 16384.0) for i in range(0, 800, 2)), fmt=3, bits=32))
    write("tool_readers_fuzz", "wav-8bit-11k", bytes([2]) + wav(pcm[1::2], rate=11025, bits=8))
    write("tool_readers_fuzz", "aiff-8k", bytes([2]) + aiff(pcm))
    write("tool_readers_fuzz", "au-44k", bytes([2]) + au(pcm[:800], rate=44100))
    write("tool_readers_fuzz", "raw", bytes([3]) + pcm[:800])


START_NS = 1700000000 * 10**9


def every_20_ms(packets):
    """(time, packet) records, one packet each 20 ms."""
    return [(START_NS + i * 20 * 10**6, p) for i, p in enumerate(packets)]


def at_us(times, packets):
    """(time, packet) records from times in microseconds."""
    return [(t * 1000, p) for t, p in zip(times, packets)]


def capture_seeds():
    speech = vector("speech_male_librivox.g729")
    a, b = (10, 0, 0, 1), (10, 0, 0, 2)
    sdp = (b"INVITE sip:b@10.0.0.2 SIP/2.0\r\nContent-Type: application/sdp\r\n\r\n"
           b"v=0\r\no=- 1 1 IN IP4 10.0.0.1\r\ns=-\r\nc=IN IP4 10.0.0.1\r\nt=0 0\r\n"
           b"m=audio 4000 RTP/AVP 18 101\r\na=rtpmap:18 G729/8000\r\na=rtpmap:101 telephone-event/8000\r\n")
    packets = [ethernet_udp(a, b, 5060, 5060, sdp)]
    order = list(range(20))
    order[5], order[6] = order[6], order[5]  # one reordered pair
    del order[12]                              # one lost packet
    for n in order:
        packets.append(ethernet_udp(a, b, 4000, 4002, rtp(1000 + n, 160 * n, speech[20 * n:20 * n + 20])))
    packets.append(ethernet_udp(a, b, 4000, 4002, rtp(1020, 160 * 40, speech[400:410] + b"\x12\x34")))  # after silence, SID at end
    write("tool_readers_fuzz", "pcap-sip-rtp", bytes([4]) + pcap(every_20_ms(packets)))
    write("tool_readers_fuzz", "pcapng-sip-rtp", bytes([4]) + pcapng(every_20_ms(packets)))
    write("tool_readers_fuzz", "packet-rtp", bytes([5, 0]) + packets[3])

    # capture_commands_fuzz: both directions of a call, with the answer on a
    # dynamic payload type its SDP maps, a late packet, a remainder byte and
    # a long silence; as pcap and as pcapng, under every command.
    answer = (b"SIP/2.0 200 OK\r\nContent-Type: application/sdp\r\n\r\n"
              b"v=0\r\no=- 1 1 IN IP4 10.0.0.2\r\ns=-\r\nc=IN IP4 10.0.0.2\r\nt=0 0\r\n"
              b"m=audio 4002 RTP/AVP 97\r\na=rtpmap:97 G729/8000\r\n")
    call = [ethernet_udp(a, b, 5060, 5060, sdp), ethernet_udp(b, a, 5060, 5060, answer)]
    for n in range(24):
        call.append(ethernet_udp(a, b, 4000, 4002, rtp(1000 + n, 160 * n, speech[20 * n:20 * n + 20])))
        back = speech[200 + 20 * n:220 + 20 * n] + (b"\x5a" if n == 7 else b"")
        call.append(ethernet_udp(b, a, 4002, 4000, rtp(7000 + n, 160 * n, back, payload_type=97, ssrc=0x0BADCAFE)))
    call.insert(10, call.pop(30))  # a packet 10 places late
    call.append(ethernet_udp(a, b, 4000, 4002, rtp(1024, 160 * 300, speech[480:500])))  # after 5 s of silence
    times = [1700000000 * 1000000 + i * 10000 for i in range(len(call))]
    times[-1] += 5000000
    for selector, name in [(0, "info"), (1, "info-json"), (2, "decode-folder"), (3, "decode-earlier"),
                           (4, "decode-stream"), (5, "mix"), (6, "mix-folder"), (7, "one-wav"),
                           (2 | 8 | 16, "decode-rate-float"), (5 | 32 | 64, "mix-default-limits-max-gap"),
                           (2 | 128, "decode-max-files")]:
        write("capture_commands_fuzz", "pcap-" + name, bytes([selector]) + pcap(every_20_ms(call)))
        write("capture_commands_fuzz", "pcapng-" + name, bytes([selector]) + pcapng(at_us(times, call)))
    # Centuries apart, and past 2262.
    far = list(times)
    for i in range(3, len(far), 2):
        far[i] += 300 * 366 * 86400 * 1000000
    write("capture_commands_fuzz", "pcapng-centuries-apart", bytes([5 | 32]) + pcapng(at_us(far, call)))
    # An interface time offset that puts the call in 1684 and its second
    # half 567 years on, in 2251: each in range, their difference not.
    offset = [1000000 + i * 10000 for i in range(len(call))]
    for i in range(len(call) // 2, len(call)):
        offset[i] += int(567 * 365.25 * 86400) * 1000000
    for selector, name in [(0, "info"), (1, "info-json")]:
        write("capture_commands_fuzz", "pcapng-interface-offset-" + name,
              bytes([selector]) + pcapng(at_us(offset, call), tsoffset=-9000000000))

    # RTCP about the caller: a sender report, a receiver report naming it,
    # one naming a report the capture does not hold, one 12 s after.
    start_us = 1700000000 * 1000000
    sr = rtcp_report(0x1234ABCD, sent=(24, 480), sent_at_ns=(start_us + 100000) * 1000)

    def rr(lsr_us, dlsr):
        return rtcp_report(0x0BADCAFE, [(0x1234ABCD, 0, 3, 1023, 40, ntp_middle32(lsr_us * 1000), dlsr)])
    reports = [(100000, ethernet_udp(a, b, 4001, 4003, sr)),
               (150000, ethernet_udp(b, a, 4003, 4001, rr(start_us + 100000, 1000))),
               (200000, ethernet_udp(b, a, 4003, 4001, rr(start_us + 50000, 0))),
               (12200000, ethernet_udp(b, a, 4003, 4001, rr(start_us + 100000, 0)))]
    with_rtcp = list(call[:-1]) + [p for _, p in reports]
    rtcp_times = times[:-1] + [start_us + t for t, _ in reports]
    order = sorted(range(len(with_rtcp)), key=lambda i: rtcp_times[i])
    for selector, name in [(0, "info"), (1, "info-json")]:
        write("capture_commands_fuzz", "pcapng-rtcp-round-trips-" + name,
              bytes([selector]) + pcapng(at_us([rtcp_times[i] for i in order], [with_rtcp[i] for i in order])))

    # A burst: a second of one direction's audio captured within a
    # millisecond, under each jitter buffer (the capture's length modulo 3
    # picks it: a filler packet of another kind sets it).
    burst_times = [start_us + i * 10000 for i in range(len(call))]
    for i in range(10, len(call)):
        burst_times[i] = start_us + 100000 + i * 10
    for buffer, name in [(1, "fixed"), (2, "adaptive")]:
        for pad in range(3):
            packets = call + [ethernet_udp(a, b, 9, 9, bytes(4 * pad))]
            capture = pcapng(at_us(burst_times + [burst_times[-1] + 1], packets))
            if len(capture) % 3 == buffer:
                break
        assert len(capture) % 3 == buffer
        write("capture_commands_fuzz", "pcapng-burst-jitter-buffer-" + name, bytes([1]) + capture)

    # Crafted captures of the second round, small versions. Streams of one
    # SSRC from ports a pair apart, sender reports of 31 blocks from that
    # SSRC on the first stream's RTCP ports, and a receiver report about it
    # between two other hosts a year later: reports held once, matched by
    # their ends and time.
    block = (0x1A2B3C4D, 0x10, 3, 1000, 40, 0, 0)
    shared = [ethernet_udp(a, b, 4000 + 2 * k, 5000, rtp(1, 0, speech[10 * k:10 * k + 10], ssrc=0x1A2B3C4D)) for k in range(20)]
    shared += [ethernet_udp(a, b, 4001, 5001, rtcp_report(0x1A2B3C4D, [block] * 31, sent=(50, 1000))) for _ in range(20)]
    shared += [ethernet_udp(b, a, 5001, 4001, rtcp_report(0x55667788, [block] * 31))]
    shared += [ethernet_udp((10, 9, 9, 9), (10, 9, 9, 8), 7001, 7003, rtcp_report(0x55667788, [block]))]
    shared_times = [start_us + i * 1000 for i in range(len(shared))]
    shared_times[-1] += 365 * 86400 * 1000000
    write("capture_commands_fuzz", "pcapng-rtcp-shared-ssrc-info", bytes([0]) + pcapng(at_us(shared_times, shared)))
    write("capture_commands_fuzz", "pcapng-rtcp-shared-ssrc-json", bytes([1]) + pcapng(at_us(shared_times, shared)))
    # Three one-frame packets an hour apart (264 bytes as a pcap): over the
    # default limit on audio for decode, dump and the picture.
    sparse = pcap([(START_NS + i * 3600 * 10**9,
                    ethernet_udp(a, b, 4000, 5000, rtp(1 + i, 1000 + i * 3600 * 8000, speech[10 * i:10 * i + 10])))
                   for i in range(3)])
    for selector, name in [(0 | 32, "info"), (2 | 32, "decode-folder")]:
        write("capture_commands_fuzz", "pcap-hours-apart-" + name, bytes([selector]) + sparse)
    # 150 one-packet streams: more than a picture draws unless told.
    many = [ethernet_udp(a, b, 1024 + k, 5000, rtp(1, 0, speech[:20], ssrc=0x10000 + k)) for k in range(150)]
    write("capture_commands_fuzz", "pcap-150-streams-info", bytes([0]) + pcap(every_20_ms(many)))
    # The call's signalling in front of it, read into a call by info.
    signalled = [ethernet_udp(a, b, 5060, 5060, m) if by_caller else ethernet_udp(b, a, 5060, 5060, m)
                 for by_caller, m in sip_call_messages()]
    write("capture_commands_fuzz", "pcap-signalled-call-info-json", bytes([1]) + pcap(every_20_ms(signalled + call[2:])))
    # The same over TCP, the INVITE in two segments.
    sequence = {True: 1000, False: 90000}
    over_tcp = []
    for by_caller, m in sip_call_messages():
        for piece in ([m[:400], m[400:]] if m.startswith(b"INVITE") else [m]):
            ends = (a, b) if by_caller else (b, a)
            over_tcp.append(ethernet_tcp(ends[0], ends[1], 5060, 5060, piece, sequence=sequence[by_caller]))
            sequence[by_caller] += len(piece)
    write("capture_commands_fuzz", "pcap-tcp-signalled-call-info-json", bytes([1]) + pcap(every_20_ms(over_tcp + call[2:])))

    # Telephone events: a key press in the caller's own SSRC on 101 as its
    # SDP maps it (three packets and the end three times, one repeated and
    # one out of order), a key in an SSRC of its own between the same ends,
    # and 40 events of one packet each; as info, JSON and converted.
    keyed = [ethernet_udp(a, b, 5060, 5060, sdp)]
    sequence = 1000
    for n in range(30):
        keyed.append(ethernet_udp(a, b, 4000, 4002, rtp(sequence, 160 * n, speech[20 * n:20 * n + 20])))
        sequence += 1
        if n == 10:
            press = [telephone_event(5, False, 10, 160 * k) for k in (1, 2, 3)] + [telephone_event(5, True, 10, 480)] * 3
            for k, event in enumerate(press):
                keyed.append(ethernet_udp(a, b, 4000, 4002, rtp(sequence, 160 * 11, event, payload_type=101, marker=k == 0)))
                sequence += 1
            keyed.insert(-3, keyed[-2])
            keyed[-5], keyed[-4] = keyed[-4], keyed[-5]
    for k in range(3):
        keyed.append(ethernet_udp(a, b, 4000, 4002, rtp(50 + k, 8000, telephone_event(11, k == 2, 8, 400), payload_type=101,
                                                        ssrc=0x0E0E0E0E)))
    for k in range(40):
        keyed.append(ethernet_udp(a, b, 4000, 4002, rtp(100 + k, 800 * k, telephone_event(k % 16, True, 20, 80), payload_type=101,
                                                        ssrc=0x0F0F0F0F)))
    for selector, name in [(0, "info"), (1, "info-json"), (2, "decode-and-convert-folder"), (7, "one-wav")]:
        write("capture_commands_fuzz", "pcap-telephone-events-" + name, bytes([selector]) + pcap(every_20_ms(keyed)))


# --- sip_reader_fuzz: records of flags byte, length (2 bytes), bytes -------
CALL_ID = "f81d4fae-7dec@10.0.0.1"
CALLER = '"Alice" <sip:alice@10.0.0.1>;tag=88sja8x'
CALLEE = "<sip:bob@10.0.0.2>"
ANSWERED = CALLEE + ";tag=314159"


def sip_call_messages(end="BYE"):
    """(sent by the caller, message) of a call: INVITE with an offer, 100,
    180, 200 with the answer, ACK and its end: a BYE from the caller and
    its 200, a BYE from the callee, 486 Busy Here, or a CANCEL."""
    invite = sip("INVITE sip:bob@10.0.0.2 SIP/2.0", CALL_ID, CALLER, CALLEE, "1 INVITE", sdp("10.0.0.1", 4000, (18, 101)))
    out = [(True, invite), (False, sip("SIP/2.0 100 Trying", CALL_ID, CALLER, CALLEE, "1 INVITE")),
           (False, sip("SIP/2.0 180 Ringing", CALL_ID, CALLER, ANSWERED, "1 INVITE"))]
    if end == "486":
        return out + [(False, sip("SIP/2.0 486 Busy Here", CALL_ID, CALLER, ANSWERED, "1 INVITE")),
                      (True, sip("ACK sip:bob@10.0.0.2 SIP/2.0", CALL_ID, CALLER, ANSWERED, "1 ACK"))]
    if end == "CANCEL":
        return out + [(True, sip("CANCEL sip:bob@10.0.0.2 SIP/2.0", CALL_ID, CALLER, CALLEE, "1 CANCEL")),
                      (False, sip("SIP/2.0 487 Request Terminated", CALL_ID, CALLER, ANSWERED, "1 INVITE"))]
    out += [(False, sip("SIP/2.0 200 OK", CALL_ID, CALLER, ANSWERED, "1 INVITE", sdp("10.0.0.2", 5000, (18,), 30))),
            (True, sip("ACK sip:bob@10.0.0.2 SIP/2.0", CALL_ID, CALLER, ANSWERED, "1 ACK"))]
    if end == "BYE from callee":
        return out + [(False, sip("BYE sip:alice@10.0.0.1 SIP/2.0", CALL_ID, ANSWERED, CALLER, "1 BYE"))]
    return out + [(True, sip("BYE sip:bob@10.0.0.2 SIP/2.0", CALL_ID, CALLER, ANSWERED, "2 BYE")),
                  (False, sip("SIP/2.0 200 OK", CALL_ID, CALLER, ANSWERED, "2 BYE"))]


def sip_record(data, tcp=False, by_callee=False, after_ms=20, tcp_flags=0, sequence=None):
    """One record; a TCP segment follows the last of its direction unless
    given its `sequence`, and carries `tcp_flags` (1 SYN, 2 FIN, 4 RST)."""
    out = bytes([int(tcp) | int(by_callee) << 1 | min(after_ms, 31) << 3])
    if tcp:
        out += bytes([tcp_flags | (8 if sequence is not None else 0)])
        if sequence is not None:
            out += struct.pack("<I", sequence & 0xFFFFFFFF)
    return out + struct.pack("<H", len(data)) + data


def sip_seeds():
    invite = sip_call_messages()[0][1]
    write("sip_reader_fuzz", "invite-sdp", sip_record(invite))
    for end in ("BYE", "BYE from callee", "486", "CANCEL"):
        write("sip_reader_fuzz", "call-" + end.replace(" ", "-").lower(),
              b"".join(sip_record(m, by_callee=not by_caller) for by_caller, m in sip_call_messages(end)))
    # Over TCP: two messages in one segment, and one ending in part of the next.
    messages = [m for _, m in sip_call_messages()]
    write("sip_reader_fuzz", "tcp-two-messages",
          sip_record(messages[0], tcp=True) + sip_record(messages[1] + b"\r\n" + messages[2], tcp=True, by_callee=True) +
          sip_record(messages[3] + messages[4][:60], tcp=True, by_callee=True))
    write("sip_reader_fuzz", "bye", sip_record(sip_call_messages()[-2][1]))
    # Over TCP in pieces: the INVITE split over three segments after a SYN,
    # one of them sent again; the 200 OK with a segment missing; the
    # callee's sequence numbers wrapping (they start 256 before 2^32); a FIN.
    invite, ok = messages[0], messages[3]
    write("sip_reader_fuzz", "tcp-split-resent-lost",
          sip_record(b"", tcp=True, tcp_flags=1, sequence=0x0FFFFFFF) +
          sip_record(invite[:300], tcp=True) + sip_record(invite[300:700], tcp=True) +
          sip_record(invite[300:700], tcp=True, sequence=0x10000000 + 300) + sip_record(invite[700:], tcp=True, sequence=0x10000000 + 700) +
          sip_record(messages[1] + messages[2][:200], tcp=True, by_callee=True) +
          sip_record(messages[2][200:] + ok[:100], tcp=True, by_callee=True) +
          sip_record(ok[300:], tcp=True, by_callee=True, sequence=0xFFFFFF00 + len(messages[1]) + len(messages[2]) + 300) +
          sip_record(messages[4], tcp=True, sequence=0x10000000 + len(invite)) +
          sip_record(messages[5], tcp=True) + sip_record(b"", tcp=True, tcp_flags=2))
    # An offer whose a=rtcp moves its RTCP to another host and port.
    write("sip_reader_fuzz", "invite-sdp-rtcp",
          sip_record(sip("INVITE sip:bob@10.0.0.2 SIP/2.0", CALL_ID, CALLER, CALLEE, "1 INVITE",
                         sdp("10.0.0.1", 4000, (18, 101)) + b"a=rtcp:4711 IN IP4 10.0.0.9\r\n")))


if __name__ == "__main__":
    clear_seeds()
    decoder_seeds()
    encoder_seeds()
    many_channels_seeds()
    module_seeds()
    tool_seeds()
    capture_seeds()
    sip_seeds()

#!/usr/bin/env python3
"""Peak memory of `g729a info` and `g729a decode` on a trunk capture: one
G.729 call (both directions, 20 ms packets) among G.711 streams, so that
G.729 is 5% of the packets. Memory should follow the G.729 kept, not the
capture. Writes the capture (default 1024 MB) into a scratch folder, prints
the figures, removes it.

    bench/capture_memory.py build/tools/g729a [MEGABYTES]
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time


def frame(src, dst, sport, dport, rtp):
    udp = struct.pack(">HHHH", sport, dport, 8 + len(rtp), 0) + rtp
    ip = struct.pack(">BBHHHBBH4s4s", 0x45, 0, 20 + len(udp), 0, 0, 64, 17, 0, bytes(src), bytes(dst)) + udp
    return b"\x02\0\0\0\0\x01\x02\0\0\0\0\x02\x08\x00" + ip


def write_trunk(path, megabytes, g711_streams=38):
    target = megabytes << 20
    g729, g711 = bytes(range(20)), b"\xd5" * 160
    with open(path, "wb") as out:
        out.write(struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 65535, 1))
        written, i, g729_packets = 24, 0, 0
        while written < target:
            header = struct.pack("<II", 1700000000 + i // 50, (i % 50) * 20000)
            chunk = []
            for d in range(2):
                rtp = struct.pack(">BBHII", 0x80, 18, i & 0xFFFF, i * 160, 0x1000 + d) + g729
                chunk.append(frame([10, 0, 0, 1 + d], [10, 0, 0, 2 - d], 4000 + d, 4001 - d, rtp))
            for s in range(g711_streams):
                rtp = struct.pack(">BBHII", 0x80, 0, i & 0xFFFF, i * 160, 0x2000 + s) + g711
                chunk.append(frame([10, 1, 0, 1], [10, 1, 0, 2], 10000 + 2 * s, 20000 + 2 * s, rtp))
            data = b"".join(header + struct.pack("<II", len(f), len(f)) + f for f in chunk)
            out.write(data)
            written += len(data)
            g729_packets += 2
            i += 1
    return i, g729_packets, g729_packets * (g711_streams + 2) // 2


def peak_kb(args):
    """The child's own high-water mark, read from /proc while it runs."""
    start = time.monotonic()
    child = subprocess.Popen(args, stdout=subprocess.DEVNULL)
    high = 0
    while child.poll() is None:
        try:
            with open("/proc/%d/status" % child.pid) as f:
                for line in f:
                    if line.startswith("VmHWM:"):
                        high = max(high, int(line.split()[1]))
        except OSError:
            pass
        time.sleep(0.001)
    if child.returncode != 0:
        sys.exit("%s failed (%d)" % (" ".join(args), child.returncode))
    return high, time.monotonic() - start


def main():
    tool = sys.argv[1] if len(sys.argv) > 1 else "build/tools/g729a"
    megabytes = int(sys.argv[2]) if len(sys.argv) > 2 else 1024
    scratch = tempfile.mkdtemp(prefix="capture_memory-")
    try:
        capture = os.path.join(scratch, "trunk.pcap")
        intervals, g729, total = write_trunk(capture, megabytes)
        size = os.path.getsize(capture) >> 20
        print("capture: %d MB, %d packets, %d G.729 (%.1f%%), a call of %.0f s" %
              (size, total, g729, 100.0 * g729 / total, intervals * 0.02))
        for name, args in [("info", [tool, "info", "-q", capture]),
                           ("decode", [tool, "decode", "-q", capture, os.path.join(scratch, "out")])]:
            kb, seconds = peak_kb(args)
            print("%-6s peak %6.1f MB in %5.1f s" % (name, kb / 1024.0, seconds))
    finally:
        shutil.rmtree(scratch)


if __name__ == "__main__":
    main()

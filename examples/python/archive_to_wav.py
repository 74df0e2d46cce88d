#!/usr/bin/env python3
"""Decodes a folder of G.729 recordings (.g729, .bit) to WAV on a Dask
cluster, and gathers per-file figures: duration, frames by type (speech,
SID, untransmitted), frames marked bad, and the decoded audio's level.

    archive_to_wav.py IN_DIR OUT_DIR                         a local cluster
    archive_to_wav.py --scheduler tcp://host:8786 IN OUT     a running cluster

Each recording is one task: a worker reads it, decodes it with the g729a
package and writes OUT_DIR/<same relative path>.wav, so IN_DIR and OUT_DIR
must be paths that every worker sees (a shared file system). The figures
come back to this program, which prints them as CSV (or writes --figures)
with a total line on standard error. A malformed recording is reported on
its own line and the run goes on; the exit status is then 1.

The level is the RMS of the whole decoded file in dBFS (full scale: a
square wave at 32768), and the peak in dBFS; silence reads -inf.
"""

import argparse
import csv
import math
import os
import sys
from typing import Dict, List, Optional

import numpy as np

EXTENSIONS = (".g729", ".bit")
FIELDS = ["file", "format", "duration_seconds", "frames", "speech_frames", "sid_frames", "untransmitted_frames",
          "bad_frames", "rms_dbfs", "peak_dbfs", "wav", "error"]


def recordings(folder: str) -> List[str]:
    """The coded recordings under a folder, relative to it, sorted."""
    found = []
    for root, _, files in os.walk(folder):
        for name in files:
            if name.lower().endswith(EXTENSIONS):
                found.append(os.path.relpath(os.path.join(root, name), folder))
    return sorted(found)


def dbfs(value: float) -> float:
    return 20 * math.log10(value / 32768) if value > 0 else -math.inf


def decode_recording(in_dir: str, out_dir: str, relative: str) -> Dict[str, object]:
    """One task, run on a worker: decodes one recording to WAV and returns
    its figures. A malformed or unreadable file gives a row with `error`."""
    import g729a  # on the worker

    row: Dict[str, object] = {"file": relative}
    try:
        stream = g729a.read_coded(os.path.join(in_dir, relative))
        pcm = g729a.decode_frames(stream.frames)
        wav = os.path.splitext(relative)[0] + ".wav"
        target = os.path.join(out_dir, wav)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        g729a.write_wav(target, pcm)
    except (OSError, ValueError) as error:
        row["error"] = str(error)
        return row
    samples = pcm.astype(np.float64)
    row.update({
        "format": stream.format,
        "duration_seconds": len(pcm) / g729a.SAMPLE_RATE,
        "frames": len(stream.frames),
        "speech_frames": stream.count("speech"),
        "sid_frames": stream.count("sid"),
        "untransmitted_frames": stream.count("untransmitted"),
        "bad_frames": sum(1 for frame in stream.frames if frame.bad),
        "rms_dbfs": round(dbfs(math.sqrt(np.mean(samples ** 2))), 2) if len(pcm) else -math.inf,
        "peak_dbfs": round(dbfs(float(np.max(np.abs(samples)))), 2) if len(pcm) else -math.inf,
        "wav": wav,
        "error": "",
    })
    return row


def run(client, in_dir: str, out_dir: str) -> List[Dict[str, object]]:
    """Decodes every recording under in_dir on the client's cluster; the
    figures in the order of the files."""
    files = recordings(in_dir)
    in_dir, out_dir = os.path.abspath(in_dir), os.path.abspath(out_dir)
    futures = client.map(decode_recording, [in_dir] * len(files), [out_dir] * len(files), files)
    return client.gather(futures)


def main(argv: Optional[List[str]] = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("in_dir", help="folder of .g729 and .bit recordings (searched recursively)")
    parser.add_argument("out_dir", help="folder for the WAV files, mirroring in_dir")
    parser.add_argument("--scheduler", help="address of a running Dask scheduler (tcp://host:8786); "
                        "without it a local cluster is started")
    parser.add_argument("--workers", type=int, default=2, help="worker processes of the local cluster (2)")
    parser.add_argument("--figures", help="write the figures to this CSV file instead of standard output")
    args = parser.parse_args(argv)
    if not os.path.isdir(args.in_dir):
        parser.error("%s: not a directory" % args.in_dir)

    from distributed import Client, LocalCluster

    if args.scheduler:
        client = Client(args.scheduler)
    else:
        cluster = LocalCluster(n_workers=args.workers, threads_per_worker=1, processes=True,
                               host="127.0.0.1", dashboard_address=None)
        client = Client(cluster)
    try:
        rows = run(client, args.in_dir, args.out_dir)
    finally:
        client.close()
        if not args.scheduler:
            cluster.close()

    out = open(args.figures, "w", newline="") if args.figures else sys.stdout
    try:
        writer = csv.DictWriter(out, fieldnames=FIELDS)
        writer.writeheader()
        writer.writerows(rows)
    finally:
        if out is not sys.stdout:
            out.close()
    failed = [row for row in rows if row.get("error")]
    decoded = [row for row in rows if not row.get("error")]
    print("%d recordings decoded, %.1f s of audio, %d SID frames; %d failed"
          % (len(decoded), sum(row["duration_seconds"] for row in decoded),
             sum(row["sid_frames"] for row in decoded), len(failed)), file=sys.stderr)
    for row in failed:
        print(row["error"], file=sys.stderr)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())

"""The archive example run as a user runs it: a folder of recordings decoded
to WAV on a local Dask cluster of two worker processes, its figures against
the package's own reading of each file, and a broken recording reported
without stopping the others."""

import csv
import os
import shutil
import subprocess
import sys

import numpy as np
import pytest

import g729a
from test_files import SPEECH, VECTORS, bit_frame, sid_frame

pytest.importorskip("distributed")

EXAMPLE = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, os.pardir, "examples", "python",
                       "archive_to_wav.py")


def test_archive_decodes_on_two_workers_and_gathers_the_figures(tmp_path):
    archive, out = tmp_path / "archive", tmp_path / "wav"
    (archive / "2025" / "03").mkdir(parents=True)
    shutil.copy(os.path.join(VECTORS, "speech_female_espeak.g729"), archive / "female.g729")
    shutil.copy(os.path.join(VECTORS, "silence.g729"), archive / "2025" / "silence.g729")
    (archive / "2025" / "03" / "with_sid.g729").write_bytes(SPEECH[:400] + sid_frame())
    (archive / "2025" / "03" / "gaps.bit").write_bytes(
        bit_frame(SPEECH[:10]) + bit_frame(sid_frame()) + bit_frame(b"", bits=0) * 3 + bit_frame(SPEECH[10:20]))
    (archive / "broken.bit").write_bytes(bit_frame(SPEECH[:10]) * 2 + bit_frame(SPEECH[:10])[:-1])
    (archive / "notes.txt").write_text("not a recording")

    # The script and its workers import the same package as this test.
    package_parent = os.path.dirname(os.path.dirname(os.path.abspath(g729a.__file__)))
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(filter(None, [package_parent, os.environ.get("PYTHONPATH")])))
    result = subprocess.run([sys.executable, EXAMPLE, "--workers", "2", "--figures", str(tmp_path / "figures.csv"),
                             str(archive), str(out)], capture_output=True, text=True, timeout=120, env=env)
    assert result.returncode == 1, result.stderr
    assert "broken.bit: frame 2 at byte 328: truncated" in result.stderr
    assert "4 recordings decoded" in result.stderr and "1 failed" in result.stderr

    with open(tmp_path / "figures.csv", newline="") as f:
        rows = {row["file"]: row for row in csv.DictReader(f)}
    assert sorted(rows) == ["2025/03/gaps.bit", "2025/03/with_sid.g729", "2025/silence.g729", "broken.bit",
                            "female.g729"]
    assert rows["broken.bit"]["error"] and not rows["broken.bit"]["wav"]
    assert not (out / "broken.wav").exists()
    for name, row in rows.items():
        if name == "broken.bit":
            continue
        stream = g729a.read_coded(archive / name)
        pcm = g729a.decode_file(archive / name)
        np.testing.assert_array_equal(g729a.read_wav(out / row["wav"]), pcm)
        assert float(row["duration_seconds"]) == len(pcm) / 8000 == stream.duration
        for kind in ("speech", "sid", "untransmitted"):
            assert int(row[kind + "_frames"]) == stream.count(kind)
        rms = np.sqrt(np.mean(pcm.astype(float) ** 2))
        assert float(row["rms_dbfs"]) == pytest.approx(20 * np.log10(rms / 32768), abs=0.01)
    assert rows["2025/03/gaps.bit"]["untransmitted_frames"] == "3"
    assert rows["2025/03/with_sid.g729"]["sid_frames"] == "1"

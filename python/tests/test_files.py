"""Whole files through the package: .g729 and .bit read into frames and
decoded on the stream's timeline, malformed files refused with the place of
the fault, and WAV written and read back."""

import os
import struct
import wave

import numpy as np
import pytest

import g729a

VECTORS = os.environ.get("G729A_TEST_VECTORS") or os.path.join(
    os.path.dirname(os.path.abspath(__file__)), os.pardir, os.pardir, "tests", "data", "vectors")

SPEECH = open(os.path.join(VECTORS, "speech_male_librivox.g729"), "rb").read()


def sid_frame():
    data = open(os.path.join(VECTORS, "speech_sid_mix.pay"), "rb").read()
    pos = 0
    while data[pos] != 2:
        pos += 1 + data[pos]
    return data[pos + 1:pos + 3]


def bit_frame(data, bits=None, sync=0x6B21):
    """One frame of .bit: sync, size, then a word per bit."""
    bits = 8 * len(data) if bits is None else bits
    words = [sync, bits] + [0x0081 if data[i // 8] & (0x80 >> (i % 8)) else 0x007F for i in range(bits)]
    return struct.pack("<%dH" % len(words), *words)


def test_g729_file_reads_and_decodes_like_the_payload(tmp_path):
    path = tmp_path / "call.g729"
    path.write_bytes(SPEECH[:300] + sid_frame())
    stream = g729a.read_coded(path)
    assert stream.format == "g729" and stream.fault is None
    assert [stream.count(t) for t in ("speech", "sid", "untransmitted")] == [30, 1, 0]
    assert stream.duration == 0.31
    np.testing.assert_array_equal(g729a.decode_file(path), g729a.decode(SPEECH[:300] + sid_frame()))


def test_bit_file_keeps_the_timeline_of_gaps_and_bad_frames(tmp_path):
    sid = sid_frame()
    frames = [SPEECH[i:i + 10] for i in range(0, 60, 10)]
    data = (bit_frame(frames[0]) + bit_frame(frames[1]) + bit_frame(frames[2], sync=0x6B20) +
            bit_frame(sid, bits=15) + bit_frame(b"", bits=0) + bit_frame(b"", bits=0) + bit_frame(frames[3]))
    path = tmp_path / "call.bit"
    path.write_bytes(data)
    stream = g729a.read_coded(path)
    assert [(f.type, f.bad) for f in stream.frames] == [
        ("speech", False), ("speech", False), ("speech", True), ("sid", False), ("untransmitted", False),
        ("untransmitted", False), ("speech", False)]
    # A 15-bit SID frame carries its bits with the 16th clear.
    assert stream.frames[3].data == bytes([sid[0], sid[1] & 0xFE])

    def by_hand(bad_frame):
        decoder = g729a.Decoder()
        return np.concatenate([decoder.decode(frames[0] + frames[1]), bad_frame(decoder),
                               decoder.decode(stream.frames[3].data), decoder.decode_missing(2),
                               decoder.decode(frames[3])])

    np.testing.assert_array_equal(g729a.decode_file(path), by_hand(lambda d: d.decode_missing()))
    np.testing.assert_array_equal(g729a.decode_file(path, bad_frames="decode"),
                                  by_hand(lambda d: d.decode(frames[2])))
    # The same frames as .g729 (no gaps, no marks) read back as speech and SID.
    g729_path = tmp_path / "call.g729"
    g729_path.write_bytes(SPEECH[:30] + sid)
    assert [f.type for f in g729a.read_coded(g729_path).frames] == ["speech"] * 3 + ["sid"]


good = bit_frame(SPEECH[:10])
# A SID frame whose bit 3 is 0x0000, and a speech frame whose bit 13 is.
bad_sid = bytearray(bit_frame(bytes([0xA5, 0x5A]), bits=15))
bad_sid[4 + 2 * 3:4 + 2 * 3 + 2] = b"\x00\x00"
bad_speech = good[:30] + b"\x00\x00" + good[32:]


@pytest.mark.parametrize("suffix, data, frame, offset, problem", [
    (".g729", SPEECH[:20] + b"\x01", 2, 20, "1 byte at the end is not a frame"),
    (".g729", SPEECH[:20] + bytes(9), 2, 20, "9 bytes at the end are not a frame"),
    (".bit", good + b"\x21", 1, len(good), "truncated frame header"),
    (".bit", good + struct.pack("<HH", 0x1234, 80), 1, len(good), "unknown sync word 0x1234"),
    (".bit", good + struct.pack("<HH", 0x6B21, 81), 1, len(good), "unknown size word 0x0051"),
    (".bit", good + good[:-2], 1, len(good), "the size word announces 80 bits, 79 follow"),
    (".bit", bad_speech, 0, 0, "bit 13 is 0x0000"),
    # The first fault in the file counts, whatever its kind or frame type.
    (".bit", good + bad_speech + good[:-2], 1, len(good), "bit 13 is 0x0000"),
    (".bit", good + bytes(bad_sid) + bad_speech, 1, len(good), "bit 3 is 0x0000"),
    (".bit", good + good + bad_speech + struct.pack("<HH", 0, 0), 2, 2 * len(good), "bit 13"),
])
def test_malformed_files_name_the_frame_and_offset(tmp_path, suffix, data, frame, offset, problem):
    path = tmp_path / ("bad" + suffix)
    path.write_bytes(data)
    with pytest.raises(g729a.CodedStreamError) as caught:
        g729a.read_coded(path)
    assert str(caught.value).startswith("%s: frame %d at byte %d: " % (path, frame, offset))
    assert problem in str(caught.value)
    # Not strict: the frames before the fault, to decode if the caller wants.
    stream = g729a.read_coded(path, strict=False)
    assert len(stream.frames) == frame and stream.fault.byte_offset == offset
    with pytest.raises(g729a.CodedStreamError):
        g729a.decode_file(path)


def test_a_file_that_is_no_coded_stream_is_refused_by_name(tmp_path):
    with pytest.raises(ValueError, match="not a coded stream"):
        g729a.read_coded(tmp_path / "x.wav")
    with pytest.raises(FileNotFoundError):
        g729a.read_coded(tmp_path / "missing.g729")
    path = tmp_path / "frames.dat"
    path.write_bytes(SPEECH[:20])
    assert len(g729a.read_coded(path, format="g729").frames) == 2


def test_wav_written_through_the_wave_module_reads_back(tmp_path):
    pcm = g729a.decode(SPEECH[:200])
    path = tmp_path / "out.wav"
    path.write_bytes(b"old")
    g729a.write_wav(path, pcm)
    with wave.open(str(path)) as w:
        assert (w.getnchannels(), w.getsampwidth(), w.getframerate(), w.getnframes()) == (1, 2, 8000, 1600)
    np.testing.assert_array_equal(g729a.read_wav(path), pcm)
    assert os.listdir(tmp_path) == ["out.wav"]  # nothing left beside it
    # Samples the writer cannot take leave the old file as it was.
    with pytest.raises(TypeError):
        g729a.write_wav(path, np.zeros(8, dtype=np.float32))
    np.testing.assert_array_equal(g729a.read_wav(path), pcm)
    assert os.listdir(tmp_path) == ["out.wav"]


@pytest.mark.parametrize("channels, width, rate", [(2, 2, 8000), (1, 1, 8000), (1, 2, 16000)])
def test_wav_the_codec_cannot_take_is_refused(tmp_path, channels, width, rate):
    path = tmp_path / "in.wav"
    with wave.open(str(path), "wb") as w:
        w.setnchannels(channels)
        w.setsampwidth(width)
        w.setframerate(rate)
        w.writeframes(bytes(160 * channels * width))
    with pytest.raises(ValueError, match="in.wav: .*16-bit mono at 8000 Hz"):
        g729a.read_wav(path)
    path.write_bytes(b"RIFF\x00\x00")
    with pytest.raises(ValueError, match="not a readable WAV"):
        g729a.read_wav(path)

"""The Python package over libg729a: the reference vectors through it,
streaming against one-shot use, the input forms it takes, missing frames and
what the decoder says it produced, errors, and what help() shows."""

import inspect
import os
import pydoc

import numpy as np
import pytest

import g729a

VECTORS = os.environ.get("G729A_TEST_VECTORS") or os.path.join(
    os.path.dirname(os.path.abspath(__file__)), os.pardir, os.pardir, "tests", "data", "vectors")

ENCODER_VECTORS = ["speech_male_librivox", "speech_male_espeak", "speech_female_espeak", "tone_1kHz",
                   "square_fullscale", "silence"]
DECODER_VECTORS = ["random_frames", "speech_sid_mix", "parity_errors"]


def read(name):
    with open(os.path.join(VECTORS, name), "rb") as f:
        return f.read()


def samples(name):
    return np.frombuffer(read(name), dtype="<i2").astype(np.int16)


def records(name):
    """(length, bytes) of each record of a .pay file."""
    data = read(name)
    pos = 0
    while pos < len(data):
        length = data[pos]
        yield length, data[pos + 1:pos + 1 + length]
        pos += 1 + length


@pytest.mark.parametrize("name", ENCODER_VECTORS)
def test_encoder_vectors(name):
    coded = g729a.encode(samples(name + ".raw"))
    assert isinstance(coded, bytes)
    assert coded == read(name + ".g729")
    decoded = g729a.decode(coded)
    assert decoded.dtype == np.int16
    np.testing.assert_array_equal(decoded, samples(name + ".g729.raw"))


@pytest.mark.parametrize("name", DECODER_VECTORS)
def test_decoder_vectors(name):
    # Speech and SID records are one-frame payloads. The other lengths are
    # refused by the codec's frame call; as payloads some of them (11, 20)
    # would split into frames, so they are not fed here.
    decoder = g729a.Decoder()
    out = [decoder.decode(record) for length, record in records(name + ".pay") if length in (10, 2)]
    np.testing.assert_array_equal(np.concatenate(out), samples(name + ".pay.raw"))


def test_streaming_equals_one_shot():
    pcm = samples("speech_male_librivox.raw")[:12345]  # not a whole number of frames
    rng = np.random.default_rng(7)
    encoder = g729a.Encoder()
    coded, start = b"", 0
    while start < len(pcm):
        size = int(rng.integers(0, 300))
        coded += encoder.encode(pcm[start:start + size])
        assert encoder.pending == (start + min(size, len(pcm) - start)) % 80
        start += size
    coded += encoder.flush()
    assert encoder.pending == 0 and encoder.flush() == b""
    assert len(coded) == -(-len(pcm) // 80) * 10
    assert coded == g729a.encode(pcm)
    assert coded == g729a.encode(np.concatenate((pcm, np.zeros(-len(pcm) % 80, dtype=np.int16))))

    decoder = g729a.Decoder()
    parts, start = [], 0
    while start < len(coded):
        size = 10 * int(rng.integers(0, 8))
        parts.append(decoder.decode(coded[start:start + size]))
        start += size
    np.testing.assert_array_equal(np.concatenate(parts), g729a.decode(coded))


def test_input_forms_give_the_same_frames():
    pcm = samples("tone_1kHz.raw")[:800]
    want = g729a.encode(pcm)
    raw = pcm.astype("<i2").tobytes()
    for form in (raw, bytearray(raw), memoryview(raw), pcm.astype(">i2"), pcm.astype(np.int32), pcm.tolist(),
                 np.stack((pcm, pcm), axis=1)[:, 0]):  # the last one strided
        assert g729a.encode(form) == want
    assert g729a.encode(b"") == b"" and g729a.encode([]) == b""
    frames = np.frombuffer(want, dtype=np.uint8)
    np.testing.assert_array_equal(g729a.decode(frames), g729a.decode(want))
    np.testing.assert_array_equal(g729a.decode(bytearray(want)), g729a.decode(want))


def test_payload_ends():
    coded = read("speech_male_librivox.g729")[:30]
    sid = next(record for length, record in records("speech_sid_mix.pay") if length == 2)
    assert len(g729a.decode(coded + sid)) == 320
    assert len(g729a.decode(b"")) == 0
    for tail in (1, 3, 4, 5, 6, 7, 8, 9):
        decoder = g729a.Decoder()
        with pytest.raises(g729a.G729AError) as caught:
            decoder.decode(coded + bytes(tail))
        error = caught.value
        assert error.code == g729a.EBADFRAME
        assert error.consumed == 30
        # The frames before the fault were decoded, and the decoder went on.
        np.testing.assert_array_equal(error.samples, g729a.decode(coded))
        assert g729a.strerror(g729a.EBADFRAME) in str(error)
        follow = read("speech_male_librivox.g729")[30:40]
        np.testing.assert_array_equal(decoder.decode(follow), g729a.decode(coded + follow)[240:])


def test_lost_frames_and_reset():
    coded = read("speech_male_librivox.g729")[:200]
    a, b = g729a.Decoder(), g729a.Decoder()
    a.decode(coded)
    b.decode(coded)
    lost = a.decode(None)
    assert lost.dtype == np.int16 and len(lost) == 80
    assert np.any(lost != 0)  # carried on from the speech before it
    np.testing.assert_array_equal(lost, b.conceal())

    a.reset()
    np.testing.assert_array_equal(a.decode(coded), g729a.decode(coded))
    encoder = g729a.Encoder()
    pcm = samples("speech_male_librivox.raw")[:1000]
    encoder.encode(pcm)
    encoder.reset()
    assert encoder.pending == 0
    assert encoder.encode(pcm) + encoder.flush() == g729a.encode(pcm)


@pytest.mark.parametrize("bad, error", [
    (b"\x00\x01\x02", ValueError),                       # half a sample
    (np.zeros((2, 80), dtype=np.int16), ValueError),     # not mono
    (np.zeros(80, dtype=np.float32), TypeError),         # float audio
    (np.array([0, 40000], dtype=np.int32), TypeError),   # out of range
])
def test_bad_samples_raise(bad, error):
    with pytest.raises(error):
        g729a.encode(bad)


def test_closed_instances_refuse():
    encoder, decoder = g729a.Encoder(), g729a.Decoder()
    encoder.close()
    decoder.close()
    encoder.close()  # twice is fine
    # Every call of a closed instance, even one with nothing to do.
    calls = [
        lambda: encoder.encode(np.zeros(80, dtype=np.int16)),
        encoder.flush,
        encoder.reset,
        lambda: decoder.decode(b"\x00" * 10),
        lambda: decoder.decode_stream(b""),
        decoder.flush,
        decoder.decode_missing,
        decoder.conceal,
        decoder.reset,
        lambda: decoder.frame_kind,
    ]
    for call in calls:
        with pytest.raises(ValueError, match="is closed"):
            call()
    with g729a.Encoder() as inside:
        assert len(inside.encode(np.zeros(160, dtype=np.int16))) == 20
    assert inside._handle is None


def test_version_and_constants_come_from_the_header():
    # The installed package carries constants generated at its build; they
    # must be the header's, and the library it loads must be of that version.
    from g729a import _header
    with open(os.path.join(VECTORS, os.pardir, os.pardir, os.pardir, "include", "g729a.h")) as f:
        values = _header.parse(f.read())
    assert g729a.version() == g729a.__version__ == "%d.%d.%d" % (
        values["VERSION_MAJOR"], values["VERSION_MINOR"], values["VERSION_PATCH"])
    for name in ("SAMPLE_RATE", "FRAME_SAMPLES", "SPEECH_FRAME_BYTES", "SID_FRAME_BYTES", "ENCODER_DELAY",
                 "EBADARG", "EBADFRAME", "ENOSPACE", "ENOMEM"):
        assert getattr(g729a, name) == values[name], name
    for kind in g729a.FrameKind:
        assert kind.value == values["FRAME_" + kind.name], kind


def test_a_stream_cut_anywhere_decodes_as_one_payload():
    sid = next(record for length, record in records("speech_sid_mix.pay") if length == 2)
    for coded in (read("speech_male_librivox.g729")[:990], read("speech_male_librivox.g729")[:990] + sid):
        rng = np.random.default_rng(len(coded))
        decoder = g729a.Decoder()
        parts, start = [], 0
        while start < len(coded):
            size = int(rng.integers(0, 37))
            parts.append(decoder.decode_stream(np.frombuffer(coded[start:start + size], dtype=np.uint8)))
            assert decoder.pending == min(start + size, len(coded)) % 10
            start += size
        parts.append(decoder.flush())
        assert decoder.pending == 0
        np.testing.assert_array_equal(np.concatenate(parts), g729a.decode(coded))


def test_a_stream_that_ends_mid_frame_is_refused_at_flush():
    coded = read("speech_male_librivox.g729")[:25]
    decoder = g729a.Decoder()
    assert len(decoder.decode_stream(coded)) == 160
    # Waiting bytes are part of the stream: a payload or a missing frame now
    # would put samples out of order.
    for call in (lambda: decoder.decode(coded[:10]), decoder.decode_missing):
        with pytest.raises(ValueError, match="5 bytes of a stream waiting"):
            call()
    with pytest.raises(g729a.G729AError) as caught:
        decoder.flush()
    assert caught.value.code == g729a.EBADFRAME
    assert decoder.pending == 0 and len(decoder.decode(coded[:10])) == 80


def test_missing_frames_and_what_the_decoder_says_it_produced():
    speech = read("speech_male_librivox.g729")[:100]
    sid = next(record for length, record in records("speech_sid_mix.pay") if length == 2)
    kinds = g729a.FrameKind
    steps = [  # (call, frame kind after it)
        (lambda d: d.decode(speech), kinds.SPEECH),
        (lambda d: d.decode_missing(3), kinds.CONCEALED),
        (lambda d: d.decode(speech[:10] + sid), kinds.SID),
        (lambda d: d.decode(None), kinds.COMFORT_NOISE),
        (lambda d: d.decode_missing(0), kinds.COMFORT_NOISE),
        (lambda d: d.decode(speech[:10]), kinds.SPEECH),
    ]
    decoder, single = g729a.Decoder(), g729a.Decoder()
    assert decoder.frame_kind == kinds.NONE
    for call, kind in steps:
        out = call(decoder)
        assert decoder.frame_kind == kind
        # A decoder fed one frame at a time gives the same samples.
        frames = len(out) // 80
        if call is steps[1][0]:
            ones = [single.decode_missing() for _ in range(frames)]
        else:
            ones = [call(single)]
        np.testing.assert_array_equal(np.concatenate(ones) if ones else np.zeros(0, np.int16), out)
    decoder.reset()
    assert decoder.frame_kind == kinds.NONE
    with pytest.raises(ValueError):
        decoder.decode_missing(-1)


def test_help_shows_every_public_call_with_its_types():
    text = pydoc.render_doc(g729a, renderer=pydoc.plaintext)
    calls = [getattr(g729a, name) for name in g729a.__all__ if inspect.isfunction(getattr(g729a, name))]
    for name in g729a.__all__:
        item = getattr(g729a, name)
        if inspect.isclass(item) and not issubclass(item, Exception):
            calls += [value for member, value in vars(item).items()
                      if not member.startswith("_") and inspect.isfunction(value)]
    for call in calls:
        assert inspect.getdoc(call), call.__qualname__
        assert inspect.signature(call).return_annotation is not inspect.Signature.empty, call.__qualname__
    flat = " ".join(text.replace("|", " ").split())
    for shown in ("class Decoder", "decode_stream(self, data:", "-> numpy.ndarray", "ENCODER_DELAY = 40",
                  "frame_kind What the last frame decoded was"):
        assert shown in flat, shown

"""The encoder and decoder objects, and one-shot encode() and decode()."""

import ctypes
import enum
from typing import Iterable, Optional, Union

import numpy as np

from ._library import header, lib

SAMPLE_RATE: int = header.SAMPLE_RATE
"""Samples per second of the audio on both sides (8000)."""
FRAME_SAMPLES: int = header.FRAME_SAMPLES
"""Samples in one 10 ms frame (80)."""
SPEECH_FRAME_BYTES: int = header.SPEECH_FRAME_BYTES
"""Bytes of one coded speech frame (10)."""
SID_FRAME_BYTES: int = header.SID_FRAME_BYTES
"""Bytes of one silence-description (SID) frame (2)."""
ENCODER_DELAY: int = header.ENCODER_DELAY
"""Samples by which the encoder delays its input (its look-ahead): decoded
sample n corresponds to input sample n - ENCODER_DELAY."""

# Error codes of the library (G729A_E*).
OK: int = header.OK
EBADARG: int = header.EBADARG
EBADFRAME: int = header.EBADFRAME
ENOSPACE: int = header.ENOSPACE
ENOMEM: int = header.ENOMEM

Samples = Union[np.ndarray, bytes, bytearray, memoryview, Iterable[int]]
"""Audio the encoder takes: an int16 array (any byte order), any integer
array or sequence within the 16-bit range, or 16-bit little-endian PCM bytes."""
Payload = Union[bytes, bytearray, memoryview, np.ndarray]
"""Coded speech the decoder takes: bytes-like, or a one-dimensional uint8 array."""


class FrameKind(enum.IntEnum):
    """What the decoder produced for its last frame (Decoder.frame_kind)."""

    NONE = header.FRAME_NONE
    """No frame decoded yet, or since reset()."""
    SPEECH = header.FRAME_SPEECH
    """A speech frame, decoded."""
    SID = header.FRAME_SID
    """A SID frame: comfort noise at the level the frame describes."""
    COMFORT_NOISE = header.FRAME_COMFORT_NOISE
    """A missing frame after a SID frame: the comfort noise went on."""
    CONCEALED = header.FRAME_CONCEALED
    """A missing frame after speech: concealed from the speech before it."""


def version() -> str:
    """The version of the loaded library, "MAJOR.MINOR.PATCH"."""
    return lib.g729a_version().decode()


def strerror(code: int) -> str:
    """The library's description of an error code."""
    return lib.g729a_strerror(code).decode()


class G729AError(Exception):
    """A call the library refused. `code` is the G729A_E* code. A payload
    refused part-way (EBADFRAME) also carries what was decoded before the
    fault: `samples` (an int16 array) and `consumed` (payload bytes)."""

    def __init__(self, code: int, what: str, samples: Optional[np.ndarray] = None, consumed: int = 0):
        super().__init__("%s: %s" % (what, strerror(code)))
        self.code = code
        self.samples = samples
        self.consumed = consumed


def _pcm(samples: Samples) -> np.ndarray:
    """int16 samples from any of the forms Samples names."""
    if isinstance(samples, (bytes, bytearray, memoryview)):
        data = memoryview(samples).cast("B")
        if len(data) % 2:
            raise ValueError("PCM bytes must hold whole 16-bit samples (got %d bytes)" % len(data))
        return np.frombuffer(data, dtype="<i2").astype(np.int16)
    array = np.asarray(samples)
    if array.ndim != 1:
        raise ValueError("samples must be one-dimensional (mono), not of shape %s" % (array.shape,))
    if array.size == 0:
        return np.zeros(0, dtype=np.int16)
    if array.dtype.kind == "i" and array.dtype.itemsize == 2:
        return np.ascontiguousarray(array, dtype=np.int16)
    if array.dtype.kind in "iu" and array.min() >= -32768 and array.max() <= 32767:
        return array.astype(np.int16)
    raise TypeError("samples must be 16-bit integers (got %s); scale float audio with "
                    "np.clip(np.round(x * 32768), -32768, 32767).astype(np.int16)" % array.dtype)


def _payload(payload: Payload) -> np.ndarray:
    if isinstance(payload, np.ndarray):
        if payload.dtype != np.uint8 or payload.ndim != 1:
            raise TypeError("a payload array must be one-dimensional uint8")
        return np.ascontiguousarray(payload)
    return np.frombuffer(memoryview(payload).cast("B"), dtype=np.uint8)


class _Instance:
    """An encoder or decoder handle of the library: closed on close(), at the
    end of a with block, or when garbage-collected."""

    _kind = ""  # "encoder" or "decoder"

    def _create(self) -> None:
        error = ctypes.c_int(0)
        self._handle = getattr(lib, "g729a_%s_create" % self._kind)(ctypes.byref(error))
        if not self._handle:
            raise G729AError(error.value or ENOMEM, "g729a_%s_create" % self._kind)

    def close(self) -> None:
        """Frees the library's instance; later calls raise ValueError."""
        if self._handle:
            getattr(lib, "g729a_%s_destroy" % self._kind)(self._handle)
            self._handle = None

    def _check_open(self) -> None:
        if not self._handle:
            raise ValueError("the %s is closed" % self._kind)

    def __enter__(self):
        return self

    def __exit__(self, *exc) -> None:
        self.close()

    def __del__(self) -> None:
        if getattr(self, "_handle", None):
            self.close()


class Encoder(_Instance):
    """A streaming encoder.

    encode() takes any number of samples and returns the frames of every
    complete 80-sample frame so far; the rest waits for the next call.
    flush() codes what waits, padded with zeros. The output is delayed by
    ENCODER_DELAY samples of look-ahead.

        with g729a.Encoder() as encoder:
            for block in blocks:                # any lengths
                send(encoder.encode(block))
            send(encoder.flush())
    """

    _kind = "encoder"

    def __init__(self) -> None:
        self._create()
        self._pending = np.zeros(0, dtype=np.int16)

    @property
    def pending(self) -> int:
        """Samples waiting for a whole frame."""
        return len(self._pending)

    def encode(self, samples: Samples) -> bytes:
        """Codes samples (see Samples for the forms taken); returns 10 bytes
        per frame completed by them."""
        self._check_open()
        pcm = _pcm(samples)
        if len(self._pending):
            pcm = np.concatenate((self._pending, pcm))
        frames = len(pcm) // FRAME_SAMPLES
        out = np.empty(frames * SPEECH_FRAME_BYTES, dtype=np.uint8)
        source, target = pcm.ctypes.data, out.ctypes.data
        encode, handle = lib.g729a_encode, self._handle
        for f in range(frames):
            result = encode(handle, source + f * FRAME_SAMPLES * 2, FRAME_SAMPLES,
                            target + f * SPEECH_FRAME_BYTES, SPEECH_FRAME_BYTES)
            if result != SPEECH_FRAME_BYTES:
                # The frames before are coded, so they are kept out of the
                # waiting samples; the refused one waits again.
                self._pending = pcm[f * FRAME_SAMPLES:].copy()
                raise G729AError(result, "g729a_encode")
        self._pending = pcm[frames * FRAME_SAMPLES:].copy()
        return out.tobytes()

    def flush(self) -> bytes:
        """Codes the waiting samples padded with zeros to a whole frame;
        b"" when none wait. The encoder goes on from there."""
        self._check_open()
        if not len(self._pending):
            return b""
        padding = np.zeros(FRAME_SAMPLES - len(self._pending), dtype=np.int16)
        return self.encode(padding)

    def reset(self) -> None:
        """Back to a fresh encoder; waiting samples are dropped."""
        self._check_open()
        lib.g729a_encoder_reset(self._handle)
        self._pending = np.zeros(0, dtype=np.int16)


class Decoder(_Instance):
    """A streaming decoder.

    decode() takes one payload as RTP carries it: 10-byte speech frames
    back to back, optionally ended by one 2-byte SID frame. decode_stream()
    takes a .g729 byte stream cut anywhere, keeping a partial frame for the
    next call, and flush() ends that stream. decode_missing() stands in for
    frames that did not arrive. frame_kind tells what the last frame was.

        decoder = g729a.Decoder()
        for packet in packets:
            audio = decoder.decode(packet) if packet is not None else decoder.decode_missing()
    """

    _kind = "decoder"

    def __init__(self) -> None:
        self._create()
        self._stream = b""

    @property
    def pending(self) -> int:
        """Bytes of decode_stream() input waiting for a whole frame."""
        return len(self._stream)

    @property
    def frame_kind(self) -> Union[FrameKind, int]:
        """What the last frame decoded was: speech, a SID frame, comfort
        noise or concealment for a missing frame, or NONE before the first.
        A kind added by a newer library comes as its number; it stands for
        decoded output."""
        self._check_open()
        kind = lib.g729a_decoder_frame_kind(self._handle)
        try:
            return FrameKind(kind)
        except ValueError:
            return kind

    def decode(self, payload: Optional[Payload]) -> np.ndarray:
        """Decodes one payload (bytes-like or uint8 array) to int16 samples,
        80 per frame; None is one missing frame. A payload with 1 or 3 to 9
        bytes left after its frames raises G729AError (EBADFRAME) whose
        `samples` hold the frames before the fault, which the decoder has
        decoded."""
        self._check_open()
        if payload is None:
            return self.decode_missing()
        self._check_no_stream("decode()")
        return self._decode_payload(_payload(payload))

    def decode_stream(self, data: Payload) -> np.ndarray:
        """Decodes the next piece of a .g729 byte stream, cut anywhere: the
        speech frames complete so far, while bytes short of a frame wait
        for the next call or for flush()."""
        self._check_open()
        stream = self._stream + _payload(data).tobytes()
        whole = len(stream) // SPEECH_FRAME_BYTES * SPEECH_FRAME_BYTES
        self._stream = stream[whole:]
        return self._decode_payload(np.frombuffer(stream[:whole], dtype=np.uint8))

    def flush(self) -> np.ndarray:
        """Ends a decode_stream() stream: 2 waiting bytes are its final SID
        frame; no bytes give no samples. Any other remainder raises
        G729AError (EBADFRAME) and is dropped."""
        self._check_open()
        rest, self._stream = self._stream, b""
        return self._decode_payload(np.frombuffer(rest, dtype=np.uint8))

    def decode_missing(self, frames: int = 1) -> np.ndarray:
        """80 samples for each frame that did not arrive, keeping the stream
        on time: comfort noise after a SID frame, concealment after speech."""
        self._check_open()
        self._check_no_stream("decode_missing()")
        if frames < 0:
            raise ValueError("frames must not be negative")
        out = np.empty(frames * FRAME_SAMPLES, dtype=np.int16)
        for f in range(frames):
            result = lib.g729a_decode(self._handle, None, 0, out.ctypes.data + f * FRAME_SAMPLES * 2,
                                      FRAME_SAMPLES)
            if result != FRAME_SAMPLES:
                raise G729AError(result, "g729a_decode")
        return out

    def conceal(self) -> np.ndarray:
        """One missing frame: the same as decode_missing()."""
        return self.decode_missing()

    def reset(self) -> None:
        """Back to a fresh decoder; stream bytes waiting are dropped."""
        self._check_open()
        lib.g729a_decoder_reset(self._handle)
        self._stream = b""

    def _check_no_stream(self, call: str) -> None:
        if self._stream:
            raise ValueError("%s with %d bytes of a stream waiting; flush() the stream first"
                             % (call, len(self._stream)))

    def _decode_payload(self, data: np.ndarray) -> np.ndarray:
        frames = len(data) // SPEECH_FRAME_BYTES + 1
        out = np.empty(frames * FRAME_SAMPLES, dtype=np.int16)
        consumed = ctypes.c_size_t(0)
        result = lib.g729a_decode_payload(self._handle, data.ctypes.data, len(data), out.ctypes.data, len(out),
                                          ctypes.byref(consumed))
        if result < 0:
            done = consumed.value // SPEECH_FRAME_BYTES * FRAME_SAMPLES
            raise G729AError(result, "g729a_decode_payload at byte %d of %d" % (consumed.value, len(data)),
                             samples=out[:done].copy(), consumed=consumed.value)
        return out[:result].copy()


def encode(samples: Samples) -> bytes:
    """Codes a whole signal with a fresh encoder; a last partial frame is
    padded with zeros. Returns 10 bytes per 80 samples, rounded up."""
    with Encoder() as encoder:
        return encoder.encode(samples) + encoder.flush()


def decode(payload: Payload) -> np.ndarray:
    """Decodes coded speech (10-byte frames, optionally ended by a 2-byte
    SID frame) with a fresh decoder; returns int16 samples."""
    with Decoder() as decoder:
        return decoder.decode(payload)

"""G.729 Annex A speech coding for Python, over the shared library libg729a.

Audio is 16-bit mono PCM at 8000 Hz, as numpy int16 arrays; coded speech is
bytes: 10 bytes per 10 ms frame (8 kbit/s), optionally ended by a 2-byte
silence-description (SID) frame, as G.729 travels in RTP.

    import numpy as np
    import g729a

    pcm = np.fromfile("speech.raw", dtype="<i2")    # 8 kHz mono
    coded = g729a.encode(pcm)                       # bytes, 10 per 80 samples
    decoded = g729a.decode(coded)                   # np.int16 array

The encoder delays its input by 40 samples (5 ms): decoded[n] corresponds to
pcm[n - 40]. For streams, Encoder and Decoder keep their state between calls:

    enc, dec = g729a.Encoder(), g729a.Decoder()
    for block in blocks:                            # any lengths
        out = dec.decode(enc.encode(block))
    out = dec.decode(enc.flush())                   # the last partial frame
    lost = dec.decode(None)                         # a frame that did not arrive

The library is looked for in $G729A_LIBRARY, next to this package, in the
project's build tree, and then where the system keeps libraries.
"""

import ctypes
import ctypes.util
import os

import numpy as np

__all__ = [
    "SAMPLE_RATE", "FRAME_SAMPLES", "SPEECH_FRAME_BYTES", "SID_FRAME_BYTES", "ENCODER_DELAY",
    "G729AError", "Encoder", "Decoder", "encode", "decode", "version",
]

SAMPLE_RATE = 8000
FRAME_SAMPLES = 80
SPEECH_FRAME_BYTES = 10
SID_FRAME_BYTES = 2
ENCODER_DELAY = 40

# Error codes of g729a.h.
OK = 0
EBADARG = -1
EBADFRAME = -2
ENOSPACE = -3
ENOMEM = -4

_SONAME = "libg729a.so.1"


def _candidates():
    explicit = os.environ.get("G729A_LIBRARY")
    if explicit:
        yield explicit
        return
    here = os.path.dirname(os.path.abspath(__file__))
    yield os.path.join(here, _SONAME)
    for build in ("build", "build-sanitize"):
        yield os.path.join(here, os.pardir, os.pardir, build, _SONAME)
    found = ctypes.util.find_library("g729a")
    if found:
        yield found
    yield _SONAME


def _load():
    tried = []
    for path in _candidates():
        if os.sep in path and not os.path.exists(path):
            tried.append(path)
            continue
        try:
            return ctypes.CDLL(path)
        except OSError as error:
            tried.append("%s (%s)" % (path, error))
    raise ImportError("g729a: cannot load %s; set G729A_LIBRARY to its path. Tried: %s"
                      % (_SONAME, "; ".join(tried)))


_lib = _load()

_void_p = ctypes.c_void_p
_size_p = ctypes.POINTER(ctypes.c_size_t)

# Buffers are passed as addresses (numpy's .ctypes.data).
for _name, _restype, _argtypes in (
    ("g729a_version", ctypes.c_char_p, []),
    ("g729a_strerror", ctypes.c_char_p, [ctypes.c_int]),
    ("g729a_encoder_create", _void_p, [ctypes.POINTER(ctypes.c_int)]),
    ("g729a_encoder_destroy", None, [_void_p]),
    ("g729a_encoder_reset", ctypes.c_int, [_void_p]),
    ("g729a_encode", ctypes.c_int, [_void_p, _void_p, ctypes.c_size_t, _void_p, ctypes.c_size_t]),
    ("g729a_decoder_create", _void_p, [ctypes.POINTER(ctypes.c_int)]),
    ("g729a_decoder_destroy", None, [_void_p]),
    ("g729a_decoder_reset", ctypes.c_int, [_void_p]),
    ("g729a_decode", ctypes.c_int, [_void_p, _void_p, ctypes.c_size_t, _void_p, ctypes.c_size_t]),
    ("g729a_decode_payload", ctypes.c_int, [_void_p, _void_p, ctypes.c_size_t, _void_p, ctypes.c_size_t, _size_p]),
):
    _function = getattr(_lib, _name)
    _function.restype = _restype
    _function.argtypes = _argtypes


def version():
    """The version of the loaded library, "MAJOR.MINOR.PATCH"."""
    return _lib.g729a_version().decode()


def strerror(code):
    """The library's description of an error code."""
    return _lib.g729a_strerror(code).decode()


class G729AError(Exception):
    """A call the library refused. `code` is the G729A_E* code. A payload
    refused part-way (EBADFRAME) also carries what was decoded before the
    fault: `samples` (an int16 array) and `consumed` (payload bytes)."""

    def __init__(self, code, what, samples=None, consumed=0):
        super().__init__("%s: %s" % (what, strerror(code)))
        self.code = code
        self.samples = samples
        self.consumed = consumed


def _pcm(samples):
    """int16 samples from an int16 array (any byte order), a sequence of
    integers within range, or bytes of 16-bit little-endian PCM."""
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


def _payload(payload):
    if isinstance(payload, np.ndarray):
        if payload.dtype != np.uint8 or payload.ndim != 1:
            raise TypeError("a payload array must be one-dimensional uint8")
        return np.ascontiguousarray(payload)
    return np.frombuffer(memoryview(payload).cast("B"), dtype=np.uint8)


class _Instance:
    """An encoder or decoder handle of the library: closed on close(), at the
    end of a with block, or when garbage-collected."""

    _kind = None  # "encoder" or "decoder"

    def _create(self):
        error = ctypes.c_int(0)
        self._handle = getattr(_lib, "g729a_%s_create" % self._kind)(ctypes.byref(error))
        if not self._handle:
            raise G729AError(error.value or ENOMEM, "g729a_%s_create" % self._kind)

    def close(self):
        if self._handle:
            getattr(_lib, "g729a_%s_destroy" % self._kind)(self._handle)
            self._handle = None

    def _check_open(self):
        if not self._handle:
            raise ValueError("the %s is closed" % self._kind)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def __del__(self):
        if getattr(self, "_handle", None):
            self.close()


class Encoder(_Instance):
    """A streaming encoder. encode() takes any number of samples and returns
    the frames of every complete 80-sample frame so far; the rest waits for
    the next call. flush() codes what waits, padded with zeros."""

    _kind = "encoder"

    def __init__(self):
        self._create()
        self._pending = np.zeros(0, dtype=np.int16)

    @property
    def pending(self):
        """Samples waiting for a whole frame."""
        return len(self._pending)

    def encode(self, samples):
        """Codes samples (int16 array, integers, or little-endian PCM bytes);
        returns 10 bytes per completed frame."""
        self._check_open()
        pcm = _pcm(samples)
        if len(self._pending):
            pcm = np.concatenate((self._pending, pcm))
        frames = len(pcm) // FRAME_SAMPLES
        self._pending = pcm[frames * FRAME_SAMPLES:].copy()
        out = np.empty(frames * SPEECH_FRAME_BYTES, dtype=np.uint8)
        source, target = pcm.ctypes.data, out.ctypes.data
        encode, handle = _lib.g729a_encode, self._handle
        for f in range(frames):
            result = encode(handle, source + f * FRAME_SAMPLES * 2, FRAME_SAMPLES,
                            target + f * SPEECH_FRAME_BYTES, SPEECH_FRAME_BYTES)
            if result != SPEECH_FRAME_BYTES:
                raise G729AError(result, "g729a_encode")
        return out.tobytes()

    def flush(self):
        """Codes the waiting samples padded with zeros to a whole frame;
        b"" when none wait. The encoder goes on from there."""
        if not len(self._pending):
            return b""
        padding = np.zeros(FRAME_SAMPLES - len(self._pending), dtype=np.int16)
        return self.encode(padding)

    def reset(self):
        """Back to a fresh encoder; waiting samples are dropped."""
        self._check_open()
        _lib.g729a_encoder_reset(self._handle)
        self._pending = np.zeros(0, dtype=np.int16)



class Decoder(_Instance):
    """A streaming decoder. Each decode() call takes one payload: 10-byte
    speech frames back to back, optionally ended by one 2-byte SID frame.
    decode(None) or conceal() stands in for a frame that did not arrive."""

    _kind = "decoder"

    def __init__(self):
        self._create()

    def decode(self, payload):
        """Decodes a payload (bytes-like or uint8 array) to int16 samples, 80
        per frame. None is a lost frame. A payload with 1 or 3 to 9 bytes
        left after its frames raises G729AError (EBADFRAME) whose `samples`
        hold the frames before the fault, which the decoder has decoded."""
        self._check_open()
        if payload is None:
            return self.conceal()
        data = _payload(payload)
        frames = len(data) // SPEECH_FRAME_BYTES + 1
        out = np.empty(frames * FRAME_SAMPLES, dtype=np.int16)
        consumed = ctypes.c_size_t(0)
        result = _lib.g729a_decode_payload(self._handle, data.ctypes.data, len(data), out.ctypes.data, len(out),
                                           ctypes.byref(consumed))
        if result < 0:
            done = consumed.value // SPEECH_FRAME_BYTES * FRAME_SAMPLES
            raise G729AError(result, "g729a_decode_payload at byte %d of %d" % (consumed.value, len(data)),
                             samples=out[:done].copy(), consumed=consumed.value)
        return out[:result].copy()

    def conceal(self):
        """80 samples for a frame that did not arrive, keeping the stream on time."""
        self._check_open()
        out = np.empty(FRAME_SAMPLES, dtype=np.int16)
        result = _lib.g729a_decode(self._handle, None, 0, out.ctypes.data, FRAME_SAMPLES)
        if result != FRAME_SAMPLES:
            raise G729AError(result, "g729a_decode")
        return out

    def reset(self):
        """Back to a fresh decoder."""
        self._check_open()
        _lib.g729a_decoder_reset(self._handle)



def encode(samples):
    """Codes a whole signal (int16 array, integers, or little-endian PCM
    bytes) with a fresh encoder; a last partial frame is padded with zeros.
    Returns 10 bytes per 80 samples, rounded up."""
    with Encoder() as encoder:
        return encoder.encode(samples) + encoder.flush()


def decode(payload):
    """Decodes coded speech (10-byte frames, optionally ended by a 2-byte
    SID frame) with a fresh decoder; returns int16 samples."""
    with Decoder() as decoder:
        return decoder.decode(payload)

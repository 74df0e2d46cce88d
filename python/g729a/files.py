"""Whole files: coded streams (.g729, .bit) read into frames and decoded,
and 8 kHz mono WAV read and written with the standard library's wave module.

.g729 holds 10-byte speech frames back to back, optionally ended by one
2-byte SID frame. .bit is the serial format of the standard's test vectors:
per frame a sync word (0x6B21, or 0x6B20 for a frame marked bad), a size
word (80 for speech, 15 or 16 for SID, 0 for a frame not transmitted), then
one 16-bit little-endian word per bit (0x007F for 0, 0x0081 for 1), most
significant payload bit first.
"""

import os
import tempfile
import wave
from typing import List, NamedTuple, Optional, Union

import numpy as np

from .codec import FRAME_SAMPLES, SAMPLE_RATE, SID_FRAME_BYTES, SPEECH_FRAME_BYTES, Decoder, _pcm, Samples

PathLike = Union[str, "os.PathLike[str]"]

SPEECH = "speech"
SID = "sid"
UNTRANSMITTED = "untransmitted"

_SYNC_GOOD = 0x6B21
_SYNC_BAD = 0x6B20
_BIT_ZERO = 0x007F
_BIT_ONE = 0x0081
# Frame types by the bits a .bit frame says it carries.
_SIZE_TYPES = {8 * SPEECH_FRAME_BYTES: SPEECH, 16: SID, 15: SID, 0: UNTRANSMITTED}
_SIZES = tuple(_SIZE_TYPES)


class CodedFrame(NamedTuple):
    """One frame of a coded stream."""

    type: str
    """"speech", "sid" or "untransmitted"."""
    data: bytes
    """The frame's bytes: 10 for speech, 2 for SID, none when untransmitted."""
    bad: bool = False
    """Marked bad by the sender (.bit only)."""


class StreamFault(NamedTuple):
    """Where and why a coded stream stops making sense."""

    frame: int
    """Index of the frame that could not be read (frames count from 0)."""
    byte_offset: int
    """Offset in the file where that frame starts."""
    problem: str


class CodedStream(NamedTuple):
    """The frames of a coded file up to its first fault, and the fault."""

    format: str
    """"g729" or "bit"."""
    frames: List[CodedFrame]
    fault: Optional[StreamFault] = None

    def count(self, frame_type: str) -> int:
        """Frames of one type ("speech", "sid" or "untransmitted")."""
        return sum(1 for frame in self.frames if frame.type == frame_type)

    @property
    def duration(self) -> float:
        """Seconds of audio the frames stand for, 10 ms each."""
        return len(self.frames) * FRAME_SAMPLES / SAMPLE_RATE


class CodedStreamError(ValueError):
    """A coded file that is malformed. `stream` holds the frames before the
    fault and the fault itself; the message names the file, the frame and the
    byte offset."""

    def __init__(self, path: str, stream: CodedStream):
        fault = stream.fault
        super().__init__("%s: frame %d at byte %d: %s" % (path, fault.frame, fault.byte_offset, fault.problem))
        self.path = path
        self.stream = stream


def parse_g729(data: bytes) -> CodedStream:
    """The frames of .g729 bytes, walked as one payload is: 10-byte speech
    frames while 10 bytes remain, then a 2-byte SID frame if exactly 2 do;
    another remainder (1 or 3 to 9 bytes) is the stream's fault."""
    data = bytes(data)
    whole = len(data) // SPEECH_FRAME_BYTES * SPEECH_FRAME_BYTES
    frames = [CodedFrame(SPEECH, data[i:i + SPEECH_FRAME_BYTES]) for i in range(0, whole, SPEECH_FRAME_BYTES)]
    rest = len(data) - whole
    fault = None
    if rest == SID_FRAME_BYTES:
        frames.append(CodedFrame(SID, data[whole:]))
    elif rest:
        fault = StreamFault(len(frames), whole, "%d byte%s at the end %s not a frame (10 bytes, or 2 for a final "
                            "SID frame)" % (rest, "" if rest == 1 else "s", "is" if rest == 1 else "are"))
    return CodedStream("g729", frames, fault)


def parse_bit(data: bytes) -> CodedStream:
    """The frames of .bit bytes; the first malformed frame (unknown sync or
    size word, a bit word that is neither 0x007F nor 0x0081, a frame cut
    short) is the stream's fault."""
    data = bytes(data)
    words = np.frombuffer(data, dtype="<u2", count=len(data) // 2)
    # The frame headers are walked one by one (each size says where the
    # next one is); the bit words of all frames of one size are then checked
    # and packed at once.
    heads = memoryview(words.astype(np.uint16))  # native order; indexing gives ints
    total = len(heads)
    starts: List[int] = []
    fault: Optional[StreamFault] = None
    position = 0  # in words
    while 2 * position < len(data):
        problem = None
        if total - position < 2:
            problem = "truncated frame header"
        else:
            sync, size = heads[position], heads[position + 1]
            if sync not in (_SYNC_GOOD, _SYNC_BAD):
                problem = "unknown sync word 0x%04X" % sync
            elif size not in _SIZES:
                problem = "unknown size word 0x%04X (80, 16, 15 or 0 bits)" % size
            elif total - position - 2 < size:
                follow = total - position - 2
                problem = "truncated: the size word announces %d bits, %d follow%s" % (
                    size, follow, "s" if follow == 1 else "")
        if problem:
            fault = StreamFault(len(starts), 2 * position, problem)
            break
        starts.append(position)
        position += 2 + heads[position + 1]

    offsets = np.array(starts, dtype=np.int64)
    sizes = words[offsets + 1] if len(starts) else np.zeros(0, dtype=np.uint16)
    payloads: List[bytes] = [b""] * len(starts)
    for size in _SIZES:
        which = np.flatnonzero(sizes == size)
        if not len(which) or not size:
            continue
        bits = words[offsets[which, None] + 2 + np.arange(size)]
        wrong = (bits != _BIT_ZERO) & (bits != _BIT_ONE)
        bad_rows = np.flatnonzero(wrong.any(axis=1))
        if len(bad_rows) and (fault is None or which[bad_rows[0]] < fault.frame):
            row = bad_rows[0]
            column = int(np.argmax(wrong[row]))
            frame = int(which[row])
            fault = StreamFault(frame, 2 * starts[frame], "bit %d is 0x%04X, neither 0x007F nor 0x0081"
                                % (column, bits[row, column]))
        for i, packed in zip(which, np.packbits(bits == _BIT_ONE, axis=1)):
            payloads[i] = packed.tobytes()

    count = fault.frame if fault else len(starts)
    frames = [CodedFrame(_SIZE_TYPES[heads[starts[i] + 1]], payloads[i], heads[starts[i]] == _SYNC_BAD)
              for i in range(count)]
    return CodedStream("bit", frames, fault)


def read_coded(path: PathLike, format: Optional[str] = None, strict: bool = True) -> CodedStream:
    """Reads a .g729 or .bit file (the format from the extension unless
    `format` names it). A malformed file raises CodedStreamError, or with
    strict=False returns the frames before the fault with `fault` set."""
    name = os.fspath(path)
    if format is None:
        format = os.path.splitext(name)[1].lower().lstrip(".")
    if format not in ("g729", "bit"):
        raise ValueError("%s: not a coded stream (.g729 or .bit)" % name)
    with open(name, "rb") as f:
        data = f.read()
    stream = parse_g729(data) if format == "g729" else parse_bit(data)
    if stream.fault and strict:
        raise CodedStreamError(name, stream)
    return stream


def decode_frames(frames: List[CodedFrame], decoder: Optional[Decoder] = None,
                  bad_frames: str = "conceal") -> np.ndarray:
    """Decodes frames to int16 samples, 80 per frame whatever its type:
    untransmitted frames, and frames marked bad unless bad_frames="decode",
    are decoded as missing, so the audio keeps the stream's timeline."""
    if bad_frames not in ("conceal", "decode"):
        raise ValueError('bad_frames must be "conceal" or "decode"')
    own = decoder is None
    decoder = decoder or Decoder()
    try:
        parts, run = [], []
        for frame in frames:
            missing = frame.type == UNTRANSMITTED or (frame.bad and bad_frames == "conceal")
            if not missing:
                # Frames that arrived go to the library a run at a time; a
                # SID frame ends its run, as it ends a payload.
                run.append(frame.data)
                if frame.type == SPEECH:
                    continue
            if run:
                parts.append(decoder.decode(b"".join(run)))
                run = []
            if missing:
                parts.append(decoder.decode_missing())
        if run:
            parts.append(decoder.decode(b"".join(run)))
        return np.concatenate(parts) if parts else np.zeros(0, dtype=np.int16)
    finally:
        if own:
            decoder.close()


def decode_file(path: PathLike, format: Optional[str] = None, bad_frames: str = "conceal") -> np.ndarray:
    """Reads and decodes a whole .g729 or .bit file to int16 samples at
    8 kHz; a malformed file raises CodedStreamError."""
    return decode_frames(read_coded(path, format).frames, bad_frames=bad_frames)


def write_wav(path: PathLike, samples: Samples, rate: int = SAMPLE_RATE) -> None:
    """Writes 16-bit mono samples as a WAV file. The file is written beside
    and renamed into place, so a failed write leaves what was there."""
    pcm = _pcm(samples).astype("<i2")
    name = os.fspath(path)
    folder = os.path.dirname(os.path.abspath(name))
    handle, temporary = tempfile.mkstemp(dir=folder, prefix=".%s." % os.path.basename(name), suffix=".tmp")
    try:
        with os.fdopen(handle, "wb") as f:
            with wave.open(f, "wb") as w:
                w.setnchannels(1)
                w.setsampwidth(2)
                w.setframerate(rate)
                w.writeframes(pcm.tobytes())
        os.chmod(temporary, 0o666 & ~_umask())
        os.replace(temporary, name)
    except BaseException:
        os.unlink(temporary)
        raise


def read_wav(path: PathLike) -> np.ndarray:
    """The samples of a 16-bit mono WAV file at 8000 Hz, as int16. Other
    rates, widths and channel counts raise ValueError naming the file (the
    g729a tool converts them)."""
    name = os.fspath(path)
    try:
        with wave.open(name, "rb") as w:
            shape = (w.getnchannels(), w.getsampwidth(), w.getframerate())
            if shape != (1, 2, SAMPLE_RATE):
                raise ValueError("%s: %d channel(s) of %d-bit samples at %d Hz; the codec takes 16-bit mono "
                                 "at 8000 Hz" % (name, shape[0], 8 * shape[1], shape[2]))
            data = w.readframes(w.getnframes())
    except (wave.Error, EOFError) as error:
        raise ValueError("%s: not a readable WAV file (%s)" % (name, error)) from None
    return np.frombuffer(data[:len(data) // 2 * 2], dtype="<i2").astype(np.int16)


def _umask() -> int:
    # Read, not set and restored: setting it would race with files other
    # threads create meanwhile.
    try:
        with open("/proc/self/status", encoding="ascii") as f:
            for line in f:
                if line.startswith("Umask:"):
                    return int(line.split()[1], 8)
    except (OSError, ValueError):
        pass
    return 0o022

"""G.729 Annex A speech coding for Python, over the codec library libg729a.

Audio is 16-bit mono PCM at 8000 Hz, as numpy int16 arrays; coded speech is
bytes: 10 bytes per 10 ms frame (8 kbit/s), optionally ended by a 2-byte
silence-description (SID) frame, as G.729 travels in RTP.

    import g729a

    pcm = g729a.read_wav("speech.wav")              # 8 kHz mono 16-bit
    coded = g729a.encode(pcm)                       # bytes, 10 per 80 samples
    decoded = g729a.decode(coded)                   # int16 array

The encoder delays its input by ENCODER_DELAY samples (5 ms): decoded[n]
corresponds to pcm[n - ENCODER_DELAY]. For streams, Encoder and Decoder keep
their state between calls and take blocks of any length:

    enc, dec = g729a.Encoder(), g729a.Decoder()
    for block in blocks:
        out = dec.decode(enc.encode(block))
    out = dec.decode(enc.flush())                   # the last partial frame
    lost = dec.decode_missing()                     # a frame that did not arrive
    dec.frame_kind                                  # FrameKind.CONCEALED

Whole files: read_coded() reads .g729 and .bit files into frames,
decode_file() decodes one, write_wav() and read_wav() handle WAV.

The library is $G729A_LIBRARY when that is set; otherwise the one pip built
into the package, the one installed with the package into the same prefix,
or the system's, in that order.
"""

from ._library import header as _built_header
from .codec import (EBADARG, EBADFRAME, ENCODER_DELAY, ENOMEM, ENOSPACE, FRAME_SAMPLES, OK, SAMPLE_RATE,
                    SID_FRAME_BYTES, SPEECH_FRAME_BYTES, Decoder, Encoder, FrameKind, G729AError, Payload,
                    Samples, decode, encode, strerror, version)
from .files import (CodedFrame, CodedStream, CodedStreamError, StreamFault, decode_file, decode_frames,
                    parse_bit, parse_g729, read_coded, read_wav, write_wav)

__version__ = "%d.%d.%d" % (_built_header.VERSION_MAJOR, _built_header.VERSION_MINOR, _built_header.VERSION_PATCH)
"""The version of the header the package was built from; version() gives
the loaded library's."""

__all__ = [
    "SAMPLE_RATE", "FRAME_SAMPLES", "SPEECH_FRAME_BYTES", "SID_FRAME_BYTES", "ENCODER_DELAY",
    "OK", "EBADARG", "EBADFRAME", "ENOSPACE", "ENOMEM",
    "Samples", "Payload", "FrameKind", "G729AError", "Encoder", "Decoder", "encode", "decode",
    "version", "strerror",
    "CodedFrame", "CodedStream", "StreamFault", "CodedStreamError", "parse_g729", "parse_bit", "read_coded",
    "decode_frames", "decode_file", "write_wav", "read_wav",
]

"""Finding and binding libg729a, and the constants of the header it was
built from."""

import ctypes
import ctypes.util
import os
from types import SimpleNamespace
from typing import Iterator

from . import _header

try:
    from . import _constants as header
    _IN_SOURCE_TREE = False
except ImportError:
    # Run from the source tree (PYTHONPATH=python): the header is at hand.
    try:
        with open(_header.source_tree_header(), encoding="utf-8") as _f:
            header = SimpleNamespace(**_header.parse(_f.read()))
    except OSError as _error:
        raise ImportError("g729a: neither the constants of a built package nor the source tree's header (%s)"
                          % _error) from None
    _IN_SOURCE_TREE = True

SONAME = "libg729a.so.%d" % header.VERSION_MAJOR
_HERE = os.path.dirname(os.path.abspath(__file__))


def _candidates() -> Iterator[str]:
    """Where the library may be, in the order it is looked for."""
    explicit = os.environ.get("G729A_LIBRARY")
    if explicit:
        yield explicit
        return
    # Built into the package by pip.
    yield os.path.join(_HERE, SONAME)
    # Installed with the library into a prefix: the install wrote down where
    # the prefix's lib/ is, relative to the package.
    try:
        from . import _installed
    except ImportError:
        pass
    else:
        yield os.path.normpath(os.path.join(_HERE, _installed.LIBRARY))
    # The project's build tree, for the package run from the source tree.
    if _IN_SOURCE_TREE:
        for build in ("build", "build-sanitize"):
            yield os.path.join(_HERE, os.pardir, os.pardir, build, SONAME)
    found = ctypes.util.find_library("g729a")
    if found:
        yield found
    yield SONAME


def _load() -> ctypes.CDLL:
    tried = []
    for path in _candidates():
        if os.sep in path and not os.path.exists(path):
            tried.append(path)
            continue
        try:
            return ctypes.CDLL(path)
        except OSError as error:
            tried.append("%s (%s)" % (path, error))
    raise ImportError("g729a: cannot load %s; install the package with pip (it builds the library), "
                      "or set G729A_LIBRARY to the library's path. Tried: %s" % (SONAME, "; ".join(tried)))


lib = _load()

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
    ("g729a_decoder_frame_kind", ctypes.c_int, [_void_p]),
):
    try:
        _function = getattr(lib, _name)
    except AttributeError:
        raise ImportError("g729a: the loaded library (%s, version %s) has no %s; the package needs %s or newer"
                          % (lib._name, lib.g729a_version().decode(), _name, header.VERSION_STRING)) from None
    _function.restype = _restype
    _function.argtypes = _argtypes

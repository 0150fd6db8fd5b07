"""Finds libtarnwel, loads it with ctypes and declares the argument and
result types of every call the module makes, so that ctypes converts and
checks each argument rather than guessing (a guessed size_t or pointer is
cut to an int on the way in)."""

import ctypes
import ctypes.util
import os

# The step calls and their buffers came in 1.1; an older library lacks them.
OLDEST_VERSION = 10100

OK = 0
BAD_WIDTH = 2
CORRUPT_STREAM = 5

size_t = ctypes.c_size_t
c_int = ctypes.c_int
c_int_p = ctypes.POINTER(ctypes.c_int)
size_t_p = ctypes.POINTER(size_t)
c_uint_p = ctypes.POINTER(ctypes.c_uint)
void_p = ctypes.c_void_p


class InBuffer(ctypes.Structure):
    _fields_ = [("data", void_p), ("size", size_t), ("pos", size_t)]


class OutBuffer(ctypes.Structure):
    _fields_ = [("data", void_p), ("size", size_t), ("pos", size_t)]


READ_FUNCTION = ctypes.CFUNCTYPE(c_int, void_p, void_p, size_t, size_t_p)


class Source(ctypes.Structure):
    _fields_ = [("context", void_p), ("read", READ_FUNCTION), ("size", ctypes.c_longlong)]


in_buffer_p = ctypes.POINTER(InBuffer)
out_buffer_p = ctypes.POINTER(OutBuffer)

PROTOTYPES = {
    "tarnwel_status_name": (ctypes.c_char_p, [c_int]),
    "tarnwel_version": (c_int, []),
    "tarnwel_version_string": (ctypes.c_char_p, []),
    "tarnwel_compressor_create": (c_int, [c_int, ctypes.POINTER(void_p)]),
    "tarnwel_compressor_create_width": (c_int, [c_int, ctypes.POINTER(void_p)]),
    "tarnwel_compressor_step": (c_int, [void_p, in_buffer_p, out_buffer_p, c_int, c_int_p]),
    "tarnwel_compressor_width": (c_int, [void_p]),
    "tarnwel_compressor_free": (None, [void_p]),
    "tarnwel_expander_create": (c_int, [c_int, ctypes.POINTER(void_p)]),
    "tarnwel_expander_step": (c_int, [void_p, in_buffer_p, out_buffer_p, c_int, c_int_p]),
    "tarnwel_expander_free": (None, [void_p]),
    "tarnwel_scan_widths": (c_int, [void_p, size_t, c_uint_p]),
    "tarnwel_scan_widths_stream": (c_int, [ctypes.POINTER(Source), c_uint_p]),
}


def _candidates():
    """Where to look, in order: the caller's choice, the copy installed
    beside this module, then the system's search."""
    chosen = os.environ.get("TARNWEL_LIBRARY")
    if chosen:
        yield chosen
        return
    try:
        from . import _location
    except ImportError:
        pass
    else:
        yield os.path.normpath(os.path.join(os.path.dirname(__file__), _location.LIBRARY))
    found = ctypes.util.find_library("tarnwel")
    if found:
        yield found


def _load():
    tried = []
    for path in _candidates():
        try:
            lib = ctypes.CDLL(path)
        except OSError as error:
            tried.append(f"{path}: {error}")
            continue
        # Another library, or a libtarnwel older than the calls: ctypes
        # finds no such name.
        missing = [name for name in PROTOTYPES if not hasattr(lib, name)]
        if missing:
            tried.append(f"{path}: not libtarnwel, or older than 1.1 (it lacks {missing[0]})")
            continue
        for name, (restype, argtypes) in PROTOTYPES.items():
            function = getattr(lib, name)
            function.restype = restype
            function.argtypes = argtypes
        version = lib.tarnwel_version()
        if version // 10000 != OLDEST_VERSION // 10000 or version < OLDEST_VERSION:
            tried.append(f"{path}: version {version}, this module needs 1.1 or a later 1.x")
            continue
        return lib
    raise ImportError(
        "libtarnwel not found"
        + (" (" + "; ".join(tried) + ")" if tried else "")
        + ": set TARNWEL_LIBRARY to the path of libtarnwel.so.1"
    )


lib = _load()


def status_name(status):
    return lib.tarnwel_status_name(status).decode("ascii")

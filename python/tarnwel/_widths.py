"""Telling a stream's width from the stream, for a caller who did not keep
it: the library scans the codes at every width at once, and the one width
that fits is taken; none or several is an error, never a guess."""

import ctypes

from . import _errors
from . import _library
from . import _steps

lib = _library.lib

SCAN_PIECE = 1 << 16


def widths_in(mask):
    """The widths whose bits are set in a scan's result, narrowest first."""
    return [
        width for width in range(_errors.MIN_WIDTH, _errors.MAX_WIDTH + 1) if mask >> width & 1
    ]


def only_width(mask):
    """The one width a scan found, else WidthUnknownError."""
    widths = widths_in(mask)
    if len(widths) != 1:
        raise _errors.WidthUnknownError(widths)
    return widths[0]


def width_of_bytes(stream):
    keeper, address, size = _steps.input_of(stream)
    mask = ctypes.c_uint(0)
    _errors.check(lib.tarnwel_scan_widths(address, size, ctypes.byref(mask)), "tarnwel_scan_widths")
    del keeper
    return only_width(mask.value)


def width_of_file(fileobj):
    """The width of the stream from fileobj's position to its end; the
    position is put back, so the file must be able to seek."""
    start = fileobj.tell()
    failure = []

    def read(context, buffer, capacity, got):
        # An exception must not leave a ctypes callback: it is kept and
        # raised once the library has returned.
        try:
            # Never more than asked for: it goes into the library's buffer.
            piece = _steps.read_piece(fileobj, min(capacity, SCAN_PIECE))
            ctypes.memmove(buffer, piece, len(piece))
            got[0] = len(piece)
            return 1
        except BaseException as error:
            failure.append(error)
            return 0

    callback = _library.READ_FUNCTION(read)
    source = _library.Source(None, callback, -1)
    mask = ctypes.c_uint(0)
    status = lib.tarnwel_scan_widths_stream(ctypes.byref(source), ctypes.byref(mask))
    fileobj.seek(start)
    if failure:
        raise failure[0]
    _errors.check(status, "tarnwel_scan_widths_stream")
    return only_width(mask.value)

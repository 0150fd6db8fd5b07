"""open() and TarnwelFile: a tarnwel stream in a file read and written as a
binary file object, in the manner of gzip.GzipFile and bz2.BZ2File.

Reading runs the expander a step at a time over pieces of the file, so it
holds one piece of the stream and the expander's tables however long the
file. Writing at a given width hands the stream to the file as it comes;
writing with the search cannot write a byte before close, since the width
is chosen only once the whole input has been seen."""

import builtins
import ctypes
import io
import os
import threading

from . import _errors
from . import _library
from . import _oneshot
from . import _steps
from . import _widths

# The size of the pieces read from and written to the underlying file.
PIECE = 1 << 16

_READ_MODES = {"r": "rb", "rb": "rb"}
_WRITE_MODES = {"w": "wb", "wb": "wb", "x": "xb", "xb": "xb"}


class _ExpandingReader(io.RawIOBase):
    """The expanded bytes of a stream read from fp, for io.BufferedReader.
    Once the stream is found corrupt, every read after the bytes expanded
    before the fault raises CorruptStreamError."""

    _expander = None

    def __init__(self, fp, width):
        super().__init__()
        self._fp = fp
        self._expander = _steps.Expander(width)
        self._source = _library.InBuffer(None, 0, 0)
        self._piece = b""  # what self._source points into
        self._input_ends = False
        self._done = False
        self._error = None

    def readable(self):
        return True

    def readinto(self, b):
        if self._error is not None:
            raise self._error
        if self._done:
            return 0
        with memoryview(b) as view, view.cast("B") as bytes_view:
            if len(bytes_view) == 0:
                return 0
            target_memory = (ctypes.c_char * len(bytes_view)).from_buffer(bytes_view)
            try:
                target = _library.OutBuffer(
                    ctypes.addressof(target_memory), len(bytes_view), 0
                )
                return self._expand_into(target)
            finally:
                del target_memory

    def _expand_into(self, target):
        source = self._source
        guard = _steps.ProgressGuard()
        while True:
            if source.pos == source.size and not self._input_ends:
                self._next_piece()
            taken_before = source.pos
            try:
                self._done = self._expander.step(source, target, self._input_ends)
            except _errors.TarnwelError as error:
                self._error = error
                if target.pos > 0:
                    return target.pos
                raise
            if target.pos > 0 or self._done:
                return target.pos
            guard.note(source.pos != taken_before)

    def _next_piece(self):
        piece = self._fp.read(PIECE)
        if not piece:
            self._input_ends = True
            piece = b""
        keeper, address, size = _steps.input_of(bytes(piece))
        self._piece = keeper
        self._source.data, self._source.size, self._source.pos = address, size, 0

    def close(self):
        if self.closed:
            return
        try:
            if self._expander is not None:
                self._expander.close()
        finally:
            super().close()


class TarnwelFile(io.BufferedIOBase):
    """A tarnwel stream as a binary file object.

    filename is a path (str, bytes or path-like) or a binary file object to
    read or write. mode "rb" ("r") reads: width is the stream's; without
    it the stream is scanned for the one width that fits, which needs a
    file that can seek. mode "wb" ("w"), or "xb" ("x") to create a new
    file only, writes: at width (11 to 25), or with widths searched up to
    max_width (12 to 25; 25 when neither is given). .width is the width:
    from the start when given or read, after close for the search."""

    _fp = None  # None once closed, and before it is opened

    def __init__(self, filename, mode="rb", *, width=None, max_width=None):
        if not isinstance(mode, str):
            raise TypeError(f"mode must be a str, not {type(mode).__name__}")
        if mode in _READ_MODES:
            self._mode = "rb"
            if max_width is not None:
                raise ValueError("max_width is for writing; a stream is read at its width")
            width = (
                None if width is None else _errors.checked_width(width, "width", _errors.MIN_WIDTH)
            )
        elif mode in _WRITE_MODES:
            self._mode = "wb"
            width, max_width = _oneshot.choose_widths(width, max_width)
        else:
            raise ValueError(f"invalid mode: {mode!r}")
        # One call at a time: a close while another thread writes must not
        # free the compressor under it.
        self._lock = threading.RLock()
        self._fp = None
        self._owns_fp = False
        self._buffer = None
        self._compressor = None
        self._width = width
        if isinstance(filename, (str, bytes, os.PathLike)):
            self._fp = builtins.open(filename, _READ_MODES.get(mode) or _WRITE_MODES[mode])
            self._owns_fp = True
            self.name = os.fspath(filename)
        elif hasattr(filename, "read" if self._mode == "rb" else "write"):
            self._fp = filename
            self.name = getattr(filename, "name", "")
        else:
            raise TypeError("filename must be a str, bytes or path-like object, or a file object")
        try:
            if self._mode == "rb":
                self._open_reading()
            else:
                self._compressor = _steps.Compressor(width=width, max_width=max_width)
                self._output = _steps.OutputPiece(PIECE)
        except BaseException:
            if self._owns_fp:
                self._fp.close()
            self._fp = None
            raise

    def _open_reading(self):
        if self._width is None:
            if not self._fp.seekable():
                raise ValueError(
                    "the file cannot seek, so its stream cannot be scanned for its width: "
                    "give the width"
                )
            self._width = _widths.width_of_file(self._fp)
        self._buffer = io.BufferedReader(
            _ExpandingReader(self._fp, self._width), buffer_size=PIECE
        )

    @property
    def mode(self):
        return self._mode

    @property
    def width(self):
        if self._compressor is not None and self._width is None:
            return self._compressor.width
        return self._width

    @property
    def closed(self):
        return self._fp is None

    def close(self):
        if self._fp is None:
            return
        with self._lock:
            if self._fp is not None:
                self._close_locked()

    def _close_locked(self):
        try:
            if self._mode == "wb":
                self._finish_stream()
            else:
                self._buffer.close()
        finally:
            try:
                if self._compressor is not None:
                    self._compressor.close()
                if self._owns_fp:
                    self._fp.close()
            finally:
                self._fp = None
                self._buffer = None
                self._compressor = None

    def _finish_stream(self):
        output = self._output
        source = _library.InBuffer(None, 0, 0)
        guard = _steps.ProgressGuard()
        while True:
            done = self._compressor.step(source, output.buffer, True)
            written = output.taken()
            self._fp.write(written)
            if done:
                break
            guard.note(written)
        self._width = self._compressor.width
        self._fp.flush()

    def fileno(self):
        self._check_open()
        return self._fp.fileno()

    def readable(self):
        self._check_open()
        return self._mode == "rb"

    def writable(self):
        self._check_open()
        return self._mode == "wb"

    def seekable(self):
        self._check_open()
        return False

    def _check_open(self):
        if self._fp is None:
            raise ValueError("I/O operation on closed file")

    def _check_reading(self):
        self._check_open()
        if self._mode != "rb":
            raise io.UnsupportedOperation("File not open for reading")

    def _reading(self, call):
        """Runs call on the expanded bytes' buffer, once reading is allowed."""
        with self._lock:
            self._check_reading()
            return call(self._buffer)

    def read(self, size=-1):
        return self._reading(lambda buffer: buffer.read(size))

    def read1(self, size=-1):
        return self._reading(lambda buffer: buffer.read1(size))

    def readinto(self, b):
        return self._reading(lambda buffer: buffer.readinto(b))

    def peek(self, size=0):
        return self._reading(lambda buffer: buffer.peek(size))

    def readline(self, size=-1):
        return self._reading(lambda buffer: buffer.readline(size))

    def write(self, data):
        """Compresses data (any bytes-like object); returns its length."""
        with self._lock:
            self._check_open()
            if self._mode != "wb":
                raise io.UnsupportedOperation("File not open for writing")
            keeper, address, size = _steps.input_of(data)
            source = _library.InBuffer(address, size, 0)
            output = self._output
            guard = _steps.ProgressGuard()
            while source.pos < size:
                taken_before = source.pos
                self._compressor.step(source, output.buffer, False)
                written = output.taken()
                if written:
                    self._fp.write(written)
                guard.note(written or source.pos != taken_before)
            del keeper
            return size

    def flush(self):
        """Hands what the compressor has written on to the file."""
        with self._lock:
            self._check_open()
            if self._mode == "wb":
                self._fp.flush()


def open(filename, mode="rb", *, width=None, max_width=None, encoding=None, errors=None,
         newline=None):
    """A tarnwel stream opened as a file object, as gzip.open opens one.
    mode is "rb" or "wb" (also "r", "w", "xb", "x"), with "t" for text
    ("rt", "wt"), which wraps it in io.TextIOWrapper with encoding, errors
    and newline. width and max_width as for TarnwelFile."""
    if not isinstance(mode, str):
        raise TypeError(f"mode must be a str, not {type(mode).__name__}")
    if "t" in mode:
        if "b" in mode:
            raise ValueError(f"invalid mode: {mode!r}")
        binary = TarnwelFile(filename, mode.replace("t", ""), width=width, max_width=max_width)
        return io.TextIOWrapper(binary, io.text_encoding(encoding), errors, newline)
    if encoding is not None or errors is not None or newline is not None:
        raise ValueError("encoding, errors and newline are for text modes only")
    return TarnwelFile(filename, mode, width=width, max_width=max_width)

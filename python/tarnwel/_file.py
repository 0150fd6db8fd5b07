"""open() and TarnwelFile: a tarnwel stream in a file read and written as a
binary file object, in the manner of gzip.GzipFile and bz2.BZ2File.

Reading runs the expander a step at a time over pieces of the file, so it
holds one piece of the stream and the expander's tables however long the
file. Writing at a given width hands the stream to the file as it comes;
writing with the search cannot write a byte before close, since the width
is chosen only once the whole input has been seen."""

import builtins
import io
import operator
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


class _Expanded:
    """The expanded bytes of a stream read from fp, in a buffer the file's
    reads take from. The buffer is filled a piece of the stream at a time;
    once the stream is found corrupt, it holds the last bytes expanded
    before the fault and no more come (fault is set)."""

    def __init__(self, fp, width):
        self._fp = fp
        self._expander = _steps.Expander(width)
        self._source = _library.InBuffer(None, 0, 0)
        self._piece = b""  # what self._source points into
        self._output = _steps.OutputPiece(PIECE)
        self._input_ends = False
        self.buffer = bytearray()
        self.done = False  # the end code has been read: no more bytes come
        self.fault = None  # the CorruptStreamError that ended the stream
        self.fault_told = False  # see TarnwelFile.read1

    def ended(self):
        return self.done or self.fault is not None

    def fill(self):
        """Adds at least one byte to the buffer, unless the stream has
        ended or ends now."""
        source = self._source
        guard = _steps.ProgressGuard()
        while not self.ended():
            if source.pos == source.size and not self._input_ends:
                self._next_piece()
            taken_before = source.pos
            try:
                self.done = self._expander.step(source, self._output.buffer, self._input_ends)
            except _errors.CorruptStreamError as error:
                self.fault = error
            written = self._output.taken()
            self.buffer += written
            if written:
                return
            guard.note(source.pos != taken_before)

    def fill_to(self, size):
        """Fills the buffer to size bytes or the stream's end; size < 0:
        to the end."""
        while (size < 0 or len(self.buffer) < size) and not self.ended():
            self.fill()

    def take(self, size):
        """Up to size bytes from the front of the buffer (all when size < 0)."""
        if size < 0 or size >= len(self.buffer):
            taken, self.buffer = bytes(self.buffer), bytearray()
        else:
            taken = bytes(self.buffer[:size])
            del self.buffer[:size]
        return taken

    def raise_fault(self, expanded=b""):
        """Raises the fault anew, with expanded: the good bytes the call
        that raises had gathered."""
        raise _errors.CorruptStreamError(str(self.fault), expanded)

    def _next_piece(self):
        piece = _steps.read_piece(self._fp, PIECE)
        if not piece:
            self._input_ends = True
        keeper, address, size = _steps.input_of(piece)
        self._piece = keeper
        self._source.data, self._source.size, self._source.pos = address, size, 0

    def close(self):
        self._expander.close()


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
    _ends_once = False  # under a text file (see read1)

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
        self._expanded = None
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
        self._expanded = _Expanded(self._fp, self._width)

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
                self._expanded.close()
        finally:
            try:
                if self._compressor is not None:
                    self._compressor.close()
                if self._owns_fp:
                    self._fp.close()
            finally:
                self._fp = None
                self._expanded = None
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

    # Reading. Every good byte is handed out before the fault is raised: a
    # read that meets it gives the bytes it has, and the next read raises;
    # a read of everything raises at once, with them in the error's
    # .expanded, since it would else end as if the stream were whole.

    def _reading(self, call):
        """Runs call on the expanded bytes, once reading is allowed."""
        with self._lock:
            self._check_reading()
            return call(self._expanded)

    def read(self, size=-1):
        size = _size_of(size)

        def read(expanded):
            expanded.fill_to(size)
            if size < 0 and expanded.fault is not None:
                expanded.raise_fault(expanded.take(-1))
            return _good_bytes(expanded, expanded.take(size), size)

        return self._reading(read)

    def read1(self, size=-1):
        size = _size_of(size)

        def read1(expanded):
            if not expanded.buffer and size != 0:
                expanded.fill()
            # Under a text file, the first read1 with no good bytes left
            # gives none, as at the end: io.TextIOWrapper drops the line
            # it has begun when a read raises. The next read raises.
            if not expanded.buffer and expanded.fault is not None and self._ends_once:
                if not expanded.fault_told:
                    expanded.fault_told = True
                    return b""
            return _good_bytes(expanded, expanded.take(size), size)

        return self._reading(read1)

    def readinto(self, b):
        return self._read_into(b, self.read)

    def readinto1(self, b):
        return self._read_into(b, self.read1)

    def _read_into(self, b, read):
        with memoryview(b) as view, view.cast("B") as target:
            piece = read(len(target))
            target[: len(piece)] = piece
            return len(piece)

    def peek(self, size=0):
        def peek(expanded):
            if not expanded.buffer:
                expanded.fill()
            return _good_bytes(expanded, bytes(expanded.buffer), 1)

        return self._reading(peek)

    def readline(self, size=-1):
        size = _size_of(size)

        def readline(expanded):
            searched = 0
            while True:
                end = expanded.buffer.find(b"\n", searched)
                if end >= 0 and (size < 0 or end < size):
                    return expanded.take(end + 1)
                if 0 <= size <= len(expanded.buffer) or expanded.ended():
                    return _good_bytes(expanded, expanded.take(size), size)
                searched = len(expanded.buffer)
                expanded.fill()

        return self._reading(readline)

    def readlines(self, hint=-1):
        lines = []
        total = 0
        try:
            while (hint is None or hint <= 0 or total < hint) and (line := self.readline()):
                lines.append(line)
                total += len(line)
        except _errors.CorruptStreamError as error:
            error.expanded = b"".join(lines)
            raise
        return lines

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


def _size_of(size):
    """A read's size as an int, -1 (or None) for everything."""
    if size is None:
        return -1
    try:
        return operator.index(size)
    except TypeError:
        raise TypeError(f"size must be an integer, not {type(size).__name__}") from None


def _good_bytes(expanded, piece, size):
    """piece, unless the stream has faulted and the read asked for bytes
    that none are left to give: then the fault is raised."""
    if not piece and size != 0 and expanded.fault is not None:
        expanded.raise_fault()
    return piece


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
        binary._ends_once = True
        return io.TextIOWrapper(binary, io.text_encoding(encoding), errors, newline)
    if encoding is not None or errors is not None or newline is not None:
        raise ValueError("encoding, errors and newline are for text modes only")
    return TarnwelFile(filename, mode, width=width, max_width=max_width)

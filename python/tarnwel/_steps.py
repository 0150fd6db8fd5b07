"""The library's compressor and expander objects driven by step calls, each
owned by one Python object that frees it exactly once (close, or when
collected), and the pointers the steps are given: every buffer handed to
the library is kept referenced here for as long as the call runs."""

import ctypes

from . import _errors
from . import _library

lib = _library.lib


def input_of(data):
    """(keeper, address, size) for bytes-like data: the address is valid
    while keeper lives. Bytes are read in place; another writable buffer
    too; a read-only or scattered one is copied."""
    if type(data) is bytes:
        keeper = data
    else:
        try:
            view = memoryview(data)
        except TypeError:
            raise TypeError(
                f"a bytes-like object is required, not {type(data).__name__}"
            ) from None
        if view.c_contiguous and not view.readonly and view.nbytes > 0:
            keeper = (ctypes.c_char * view.nbytes).from_buffer(view)
            return keeper, ctypes.addressof(keeper), view.nbytes
        keeper = view.tobytes()
    return keeper, ctypes.cast(ctypes.c_char_p(keeper), ctypes.c_void_p).value, len(keeper)


def read_piece(fileobj, size):
    """fileobj.read(size) as bytes, its answer checked: the file object is
    the caller's code, and a piece of another type, or longer than asked,
    must not reach the library as if it were right."""
    piece = fileobj.read(size)
    if piece is None:
        raise BlockingIOError("the file's read() gave None: it is non-blocking and has no bytes")
    if type(piece) is not bytes:  # bytes, the common answer, are used as they are
        try:
            with memoryview(piece) as view:
                piece = view.tobytes()
        except TypeError:
            raise TypeError(
                f"the file's read() returned {type(piece).__name__}, not a bytes-like object"
            ) from None
    if len(piece) > size:
        raise ValueError(f"the file's read({size}) returned {len(piece)} bytes")
    return piece


class OutputPiece:
    """A buffer of its own for a step to write into."""

    def __init__(self, size):
        self.memory = ctypes.create_string_buffer(size)
        self.buffer = _library.OutBuffer(ctypes.addressof(self.memory), size, 0)

    def taken(self):
        """The bytes written since the last call, the buffer then empty."""
        written = ctypes.string_at(self.memory, self.buffer.pos)
        self.buffer.pos = 0
        return written


class _Owned:
    """One library object; close() frees it, and so does collection."""

    _free = None  # set by each subclass
    _handle = None  # until created, and once freed

    def __init__(self, create, argument, call):
        handle = ctypes.c_void_p()
        _errors.check(create(argument, ctypes.byref(handle)), call)
        self._handle = handle

    def close(self):
        handle, self._handle = self._handle, None
        if handle is not None:
            type(self)._free(handle)

    def __del__(self):
        # The free function is a class attribute, so it is still there at
        # interpreter shutdown when module globals may already be gone.
        self.close()

    def _step(self, function, call, source, target, input_ends):
        if self._handle is None:
            raise ValueError("I/O operation on a closed stream")
        done = ctypes.c_int(0)
        status = function(
            self._handle, ctypes.byref(source), ctypes.byref(target), int(input_ends),
            ctypes.byref(done),
        )
        _errors.check(status, call)
        return done.value == 1


class Expander(_Owned):
    _free = lib.tarnwel_expander_free

    def __init__(self, width):
        super().__init__(lib.tarnwel_expander_create, width, "tarnwel_expander_create")

    def step(self, source, target, input_ends):
        """One step; True once the stream's end code has been read and
        every byte expanded is in target."""
        return self._step(lib.tarnwel_expander_step, "tarnwel_expander_step", source, target,
                          input_ends)


class Compressor(_Owned):
    _free = lib.tarnwel_compressor_free

    def __init__(self, width=None, max_width=None):
        if width is not None:
            super().__init__(lib.tarnwel_compressor_create_width, width,
                             "tarnwel_compressor_create_width")
        else:
            super().__init__(lib.tarnwel_compressor_create, max_width, "tarnwel_compressor_create")

    def step(self, source, target, input_ends):
        """One step; True once the whole stream has been written."""
        return self._step(lib.tarnwel_compressor_step, "tarnwel_compressor_step", source, target,
                          input_ends)

    @property
    def width(self):
        """The stream's width, None while the search has not chosen it."""
        return (lib.tarnwel_compressor_width(self._handle) or None) if self._handle else None


class ProgressGuard:
    """Ends a loop of steps that has stopped moving. A step may take no
    input and write nothing now and then (a step that only ends a phase of
    its own), but a run of them means the loop would never end."""

    MOST_IDLE_STEPS = 16

    def __init__(self):
        self.idle = 0

    def note(self, moved):
        self.idle = 0 if moved else self.idle + 1
        if self.idle > self.MOST_IDLE_STEPS:
            raise _errors.TarnwelError(
                "libtarnwel's steps stopped taking input and writing output",
                "TARNWEL_INTERNAL_ERROR",
            )

"""compress() and expand(): a whole input in one call each way, as
gzip.compress and gzip.decompress. Both run the library's steps over the
input where it lies and gather the output in pieces, rather than call
tarnwel_compress or tarnwel_expand: those need an output buffer sized in
advance, for compressing the largest a stream can be (about three times
the input), and for expanding a size the caller cannot know."""

from . import _errors
from . import _library
from . import _steps
from . import _widths

# Output is gathered in pieces that double up to this size, so that a
# small result takes little memory and a large one few steps.
FIRST_PIECE = 1 << 16
LARGEST_PIECE = 1 << 24


def choose_widths(width, max_width):
    """(width, max_width) checked: one of them set, the other None."""
    if width is not None:
        if max_width is not None:
            raise ValueError("give width or max_width, not both")
        return _errors.checked_width(width, "width", _errors.MIN_WIDTH), None
    if max_width is None:
        return None, _errors.MAX_WIDTH
    return None, _errors.checked_width(max_width, "max_width", _errors.MIN_MAX_WIDTH)


def compress(data, max_width=None, *, width=None):
    """Compresses data (any bytes-like object) into a tarnwel stream and
    returns (stream, width). The width is chosen by the search, up to
    max_width (12 to 25; 25 when not given), as the command chooses it;
    or is the one given as width (11 to 25), with no search. Expand the
    stream at that width: the stream does not record it."""
    width, max_width = choose_widths(width, max_width)
    compressor = _steps.Compressor(width=width, max_width=max_width)
    try:
        stream = run_steps(compressor, data)
        return stream, compressor.width
    finally:
        compressor.close()


def expand(stream, width=None):
    """Expands a tarnwel stream (any bytes-like object) of the given width
    (11 to 25) and returns the bytes. Without a width, the stream's own is
    taken when exactly one fits (WidthUnknownError otherwise). A corrupt
    stream raises CorruptStreamError, whose .expanded holds the bytes
    expanded before the fault."""
    if width is None:
        width = _widths.width_of_bytes(stream)
    else:
        width = _errors.checked_width(width, "width", _errors.MIN_WIDTH)
    expander = _steps.Expander(width)
    try:
        return run_steps(expander, stream)
    finally:
        expander.close()


def run_steps(coder, data):
    """All of data through coder's steps as the whole input; the output."""
    keeper, address, size = _steps.input_of(data)
    source = _library.InBuffer(address, size, 0)
    pieces = []
    piece_size = FIRST_PIECE
    guard = _steps.ProgressGuard()
    while True:
        piece = _steps.OutputPiece(piece_size)
        taken_before = source.pos
        try:
            done = coder.step(source, piece.buffer, True)
        except _errors.CorruptStreamError as error:
            pieces.append(piece.taken())
            error.expanded = b"".join(pieces)
            raise
        pieces.append(piece.taken())
        if done:
            break
        guard.note(pieces[-1] or source.pos != taken_before)
        piece_size = min(piece_size * 2, LARGEST_PIECE)
    del keeper
    return b"".join(pieces)

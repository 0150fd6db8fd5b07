"""The exceptions the module raises for what the library reports, and the
checks of Python arguments made before any call reaches the library (a
wrong type or range there is the caller's mistake, a ValueError or
TypeError, as Python's own modules raise)."""

import copyreg
import operator

from . import _library

MIN_WIDTH = 11
MAX_WIDTH = 25
# The search's cap: its first trial is at 12.
MIN_MAX_WIDTH = 12


class TarnwelError(Exception):
    """A status other than TARNWEL_OK from libtarnwel. .status is its name,
    as "TARNWEL_CORRUPT_STREAM"; None where no call of the library failed
    (a stream whose width cannot be told)."""

    def __init__(self, message, status=None):
        super().__init__(message)
        self.status = status

    def __reduce__(self):
        # Rebuilt from its args and attributes without calling __init__,
        # whose parameters differ between the classes (WidthUnknownError
        # takes the widths, not the text): so an error comes back whole
        # from another process, as Dask hands a worker's error to its client.
        return copyreg.__newobj__, (type(self), *self.args), self.__dict__


class CorruptStreamError(TarnwelError):
    """The stream cannot have come from the compressor at the width given
    (damaged, or cut short). Every byte expanded before the fault is handed
    out first: expand(), and a file's read() of everything and readlines(),
    put those they gathered in .expanded; a file's other reads return them,
    and the read after the last of them raises."""

    def __init__(self, message, expanded=b""):
        super().__init__(message, "TARNWEL_CORRUPT_STREAM")
        self.expanded = expanded


class WidthUnknownError(TarnwelError):
    """No width was given and the stream does not fit exactly one: .widths
    holds those it fits, none (cut short, damaged or followed by other
    bytes) or several (a short stream)."""

    def __init__(self, widths):
        if widths:
            told = ", ".join(str(width) for width in widths)
            message = f"the stream fits widths {told}: give the width"
        else:
            message = (
                f"the stream fits no width from {MIN_WIDTH} to {MAX_WIDTH}: it is cut short, "
                "damaged or followed by other bytes"
            )
        super().__init__(message)
        self.widths = tuple(widths)


def check(status, call):
    """Raises for a status other than TARNWEL_OK from call."""
    if status == _library.OK:
        return
    name = _library.status_name(status)
    if status == _library.CORRUPT_STREAM:
        raise CorruptStreamError(f"{call}: {name}")
    raise TarnwelError(f"{call}: {name}", name)


def checked_width(value, name, lowest):
    """value as an int from lowest to 25, else TypeError or ValueError."""
    if isinstance(value, bool):
        raise TypeError(f"{name} must be an integer, not bool")
    try:
        width = operator.index(value)
    except TypeError:
        raise TypeError(f"{name} must be an integer, not {type(value).__name__}") from None
    if not lowest <= width <= MAX_WIDTH:
        raise ValueError(f"{name} must be from {lowest} to {MAX_WIDTH}, not {width}")
    return width

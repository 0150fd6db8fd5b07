"""tarnwel streams from Python: compress(), expand() and open(), over
libtarnwel through ctypes, in the manner of the gzip, bz2 and lzma modules.

A tarnwel stream does not record its width: compress() returns it beside
the stream, and expand() and open(..., "rb") take it, or scan the stream
for the one width that fits it. The library is found through the
TARNWEL_LIBRARY environment variable, else the copy installed with this
module, else the system's search for "tarnwel"."""

from ._errors import MAX_WIDTH, MIN_WIDTH, CorruptStreamError, TarnwelError, WidthUnknownError
from ._file import TarnwelFile, open
from ._files import compress_file, expand_file, read_manifest, write_manifest
from ._fsspec import register as _register_with_fsspec
from ._library import lib as _lib
from ._oneshot import compress, expand

__all__ = [
    "compress",
    "expand",
    "open",
    "compress_file",
    "expand_file",
    "write_manifest",
    "read_manifest",
    "TarnwelFile",
    "TarnwelError",
    "CorruptStreamError",
    "WidthUnknownError",
    "MIN_WIDTH",
    "MAX_WIDTH",
    "library_version",
    "WorkerSetup",
]

# fsspec, where it can be imported, reads and writes ".tw" files as
# compression "tarnwel": so do pandas and Dask, which open files through it.
_register_with_fsspec()


def library_version():
    """The version of the libtarnwel in use, as "1.1.0"."""
    return _lib.tarnwel_version_string().decode("ascii")


class WorkerSetup:
    """A Dask worker plugin that loads this module in every worker, those
    that join later included: client.register_worker_plugin(
    tarnwel.WorkerSetup()). Unpickling it on a worker imports tarnwel,
    which registers the compression with fsspec there; the worker needs
    no --preload."""

    name = "tarnwel"

    def setup(self, worker):
        pass

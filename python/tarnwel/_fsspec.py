"""tarnwel as one of fsspec's compressions, named "tarnwel" and inferred from
the extension ".tw", so that fsspec.open, pandas and Dask read and write
tarnwel files by name. Registered when the module is imported, where
fsspec can be imported; the module does not need fsspec otherwise."""

from . import _errors
from . import _file
from . import _files

NAME = "tarnwel"
EXTENSION = "tw"


def _naming_errors(method):
    """method, its errors named by the file; once, where one read calls
    another (readlines calls readline)."""

    def call(self, *args):
        try:
            return method(self, *args)
        except _errors.TarnwelError as error:
            if str(error).startswith(f"{self.name}: "):
                raise
            raise _files.named_error(error, self.name) from error

    call.__name__ = method.__name__
    call.__doc__ = method.__doc__
    return call


class _CompressedFile(_file.TarnwelFile):
    """A TarnwelFile over the file fsspec opened, which it closes with
    itself (fsspec's own file objects close every layer, but a file opened
    with fs.open(..., compression=) keeps only this one to close), and
    whose errors name the file: read by Dask over many files, an error is
    all a user sees of which one failed."""

    def __init__(self, fileobj, mode, width=None, max_width=None):
        self._raw = fileobj
        name = getattr(fileobj, "full_name", None) or getattr(fileobj, "path", None)
        try:
            super().__init__(fileobj, mode, width=width, max_width=max_width)
        except _errors.TarnwelError as error:
            fileobj.close()
            raise _files.named_error(error, name or getattr(fileobj, "name", "")) from error
        except BaseException:
            fileobj.close()
            raise
        if name:
            self.name = name

    read = _naming_errors(_file.TarnwelFile.read)
    read1 = _naming_errors(_file.TarnwelFile.read1)
    readinto = _naming_errors(_file.TarnwelFile.readinto)
    readinto1 = _naming_errors(_file.TarnwelFile.readinto1)
    readline = _naming_errors(_file.TarnwelFile.readline)
    readlines = _naming_errors(_file.TarnwelFile.readlines)
    peek = _naming_errors(_file.TarnwelFile.peek)

    def close(self):
        try:
            super().close()
        finally:
            self._raw.close()


def open_compressed(fileobj, mode="rb", *, width=None, max_width=None):
    """The callback fsspec calls with the file it opened and "rb" or "wb"
    (as "r" or "w"). Reading takes the stream's width from a scan of the
    file; writing searches for the width as the command does, so the
    stream is written at close. width (and max_width, for writing) are
    taken where a caller passes them; fsspec's own open passes none."""
    return _CompressedFile(fileobj, mode, width=width, max_width=max_width)


def register():
    """Adds tarnwel to fsspec's compressions; False where fsspec is absent.
    force=True: importing the module again, or a second copy of it, takes
    the name over rather than failing."""
    try:
        from fsspec.compression import register_compression
    except ImportError:
        return False
    register_compression(NAME, open_compressed, EXTENSION, force=True)
    return True

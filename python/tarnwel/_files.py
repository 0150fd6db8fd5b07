"""compress_file() and expand_file(): one file into another, as the command
does it, for a caller that has many (client.map over Dask's workers). The
output is put together in a new file beside the target and renamed into
its place once whole, so that a failure, a full disk or a killed process
never leaves a half-written file under the target's name. write_manifest()
keeps the widths, which the streams do not record, beside the outputs."""

import builtins
import copy
import csv
import os

from . import _errors
from . import _file
from . import _oneshot

PIECE = _file.PIECE


def compress_file(src, dst, max_width=None, *, width=None):
    """Compresses the file src into the file dst and returns the stream's
    width: searched for up to max_width (12 to 25; 25 when not given), as
    the command chooses it, or the width given (11 to 25). The stream is
    byte for byte the command's."""
    width, max_width = _oneshot.choose_widths(width, max_width)
    with builtins.open(src, "rb") as source:

        def write(target):
            with _file.TarnwelFile(target, "wb", width=width, max_width=max_width) as out:
                while piece := source.read(PIECE):
                    out.write(piece)
            return out.width

        return _named(src, lambda: _replace(dst, write))


def expand_file(src, dst, width=None):
    """Expands the tarnwel file src into the file dst and returns the
    stream's width: the one given (11 to 25), else the one width the
    stream fits. A corrupt stream or an unknown width raises the error
    tarnwel.open raises, its text led by src, and leaves no dst."""
    if width is not None:
        width = _errors.checked_width(width, "width", _errors.MIN_WIDTH)

    def run():
        with _file.TarnwelFile(src, "rb", width=width) as source:

            def write(target):
                while piece := source.read(PIECE):
                    target.write(piece)

            _replace(dst, write)
            return source.width

    return _named(src, run)


def _named(src, call):
    """call(), with a tarnwel error's text led by the file it came from: on
    a cluster the error may be all a user sees of which file failed."""
    try:
        return call()
    except _errors.TarnwelError as error:
        raise named_error(error, src) from error


def named_error(error, name):
    """A copy of error whose text is led by name."""
    named = copy.copy(error)
    named.args = (f"{os.fsdecode(name)}: {error}",) + error.args[1:]
    return named


def _replace(dst, write):
    """write(file) into a new file beside dst, put in dst's place once
    write has returned and the file is closed; removed if anything fails.
    dst's symbolic link, if it is one, is followed, so it stays a link.
    As the command's, the new file is its maker's alone (0600) while it is
    written, and then gets the mode the replaced file had, else that of
    any new file (0666 less the umask)."""
    target = os.path.realpath(dst)
    folder = os.path.dirname(target)
    try:
        mode = os.stat(target).st_mode & 0o7777
    except FileNotFoundError:
        mode = 0o666 & ~_umask()
    descriptor, temporary = _new_file_in(folder)
    try:
        with builtins.open(descriptor, "wb") as out:
            result = write(out)
            out.flush()
            os.chmod(out.fileno(), mode)
        os.replace(temporary, target)
    except BaseException:
        os.unlink(temporary)
        raise
    return result


def _umask():
    """The process's umask, read where the system tells it: setting it to
    read it back would change it for a moment for every thread (a Dask
    worker runs several)."""
    try:
        with builtins.open("/proc/self/status", encoding="ascii") as status:
            for line in status:
                if line.startswith("Umask:"):
                    return int(line.split()[1], 8)
    except OSError:
        pass
    mask = os.umask(0o022)
    os.umask(mask)
    return mask


def _new_file_in(folder):
    """(descriptor, path) of a file made for this run in folder, with a
    name of the command's pattern: "tarnwel.PID.N.tmp"."""
    for attempt in range(1000):
        path = os.path.join(folder, f"tarnwel.{os.getpid()}.{attempt}.tmp")
        try:
            flags = os.O_WRONLY | os.O_CREAT | os.O_EXCL | getattr(os, "O_BINARY", 0)
            return os.open(path, flags, 0o600), path
        except FileExistsError:
            continue
    raise FileExistsError(f"no free name for a new file in {folder}")


def write_manifest(path, sources, streams, widths):
    """Writes a CSV file at path (put in place as the outputs are) with a
    row for each stream: its name relative to path's folder, its width,
    its source's size and its own, under the header
    "name,width,size,compressed_size". sources, streams and widths are
    parallel lists, as given to and returned by compress_file."""
    folder = os.path.dirname(os.path.abspath(path))
    rows = [
        (os.path.relpath(os.path.abspath(stream), folder), width, os.stat(source).st_size,
         os.stat(stream).st_size)
        for source, stream, width in zip(sources, streams, widths, strict=True)
    ]

    def write(out):
        with builtins.open(out.fileno(), "w", newline="", encoding="utf-8", closefd=False) as text:
            table = csv.writer(text)
            table.writerow(["name", "width", "size", "compressed_size"])
            table.writerows(rows)

    _replace(path, write)


def read_manifest(path):
    """The widths a manifest written by write_manifest holds, as a dict
    from each stream's path (path's folder joined to its name) to its
    width."""
    folder = os.path.dirname(path)
    with builtins.open(path, newline="", encoding="utf-8") as text:
        return {
            os.path.join(folder, row["name"]): int(row["width"]) for row in csv.DictReader(text)
        }

"""The tarnwel module against the command and against itself: streams byte
for byte as the command writes them, round trips at every width, files
read in pieces of every size and line by line, corrupt streams, streams
whose width must be found, and arguments refused before the library
sees them. The command is TARNWEL_COMMAND (its cases skip without it);
the library is found as the module finds it (TARNWEL_LIBRARY)."""

import ctypes.util
import io
import os
import random
import subprocess
import sys

import pytest

import tarnwel

COMMAND = os.environ.get("TARNWEL_COMMAND")
needs_command = pytest.mark.skipif(not COMMAND, reason="TARNWEL_COMMAND not set")


def log_lines(count):
    """Text that repeats the way a log does, with numbers that do not."""
    rng = random.Random(count)
    levels = [b"INFO", b"WARN", b"DEBUG", b"ERROR"]
    return b"".join(
        b"2026-12-08 %02d:%02d:%02d %s request %d took %d ms\n"
        % (i // 3600 % 24, i // 60 % 60, i % 60, rng.choice(levels), rng.randrange(10**6),
           rng.randrange(5000))
        for i in range(count)
    )


LOG = log_lines(12000)  # about 600 KB: several times the module's read piece
RANDOM = random.Random(7).randbytes(20000)
INPUTS = {"empty": b"", "one byte": b"a", "log": LOG, "random": RANDOM}


def pack(codes, width):
    """Codes packed most significant bit first, the last byte's unused bits
    (those of the end code) left out, as the compressor writes them."""
    bits = "".join(format(code, f"0{width}b") for code in codes)
    whole = len(bits) // 8
    return int(bits[: whole * 8], 2).to_bytes(whole, "big")


def run_command(tmp_path, mode, source, target, width=None):
    if width is not None:
        (tmp_path / "bits.txt").write_text(f"{width}\n")
    subprocess.run([COMMAND, mode, str(source), str(target)], cwd=tmp_path, check=True,
                   stdout=subprocess.DEVNULL)


@needs_command
@pytest.mark.parametrize("name", INPUTS)
def test_search_gives_the_commands_stream_and_width(tmp_path, name):
    data = INPUTS[name]
    (tmp_path / "in").write_bytes(data)
    run_command(tmp_path, "c", tmp_path / "in", tmp_path / "out")
    expected = (tmp_path / "out").read_bytes(), int((tmp_path / "bits.txt").read_text())
    assert tarnwel.compress(data) == expected
    # The same width given rather than searched for makes the same stream.
    assert tarnwel.compress(data, width=expected[1]) == expected
    with tarnwel.open(tmp_path / "written", "wb") as f:
        f.write(data)
    assert ((tmp_path / "written").read_bytes(), f.width) == expected


@pytest.mark.parametrize("width", range(tarnwel.MIN_WIDTH, tarnwel.MAX_WIDTH + 1))
def test_round_trip_at_each_width(tmp_path, width):
    stream, told = tarnwel.compress(LOG, width=width)
    assert told == width
    assert tarnwel.expand(stream, width) == LOG
    with tarnwel.open(tmp_path / "log.tw", "wb", width=width) as f:
        assert f.width == width
        for start in range(0, len(LOG), 5000):
            f.write(memoryview(LOG)[start : start + 5000])
    assert (tmp_path / "log.tw").read_bytes() == stream
    if COMMAND:
        run_command(tmp_path, "d", tmp_path / "log.tw", tmp_path / "back", width)
        assert (tmp_path / "back").read_bytes() == LOG


@pytest.mark.parametrize("max_width", [12, 16, 25])
def test_search_under_a_cap_round_trips(max_width):
    stream, width = tarnwel.compress(bytearray(LOG), max_width=max_width)
    assert width <= max_width
    assert tarnwel.expand(stream) == LOG


@pytest.mark.parametrize("given", [None, "width"])
@pytest.mark.parametrize("source", ["path", "file object"])
def test_lines_of_a_file_larger_than_the_read_pieces(tmp_path, given, source):
    stream, width = tarnwel.compress(LOG)
    (tmp_path / "log.tw").write_bytes(stream)
    where = tmp_path / "log.tw" if source == "path" else io.BytesIO(stream)
    with tarnwel.open(where, width=width if given else None) as f:
        assert f.width == width
        assert list(f) == LOG.splitlines(keepends=True)
        assert f.read() == b""
    assert f.closed
    with tarnwel.open(tmp_path / "log.tw", "rt", encoding="ascii") as text:
        assert text.readline() == LOG.decode().splitlines(keepends=True)[0]


@pytest.mark.parametrize("given", [None, "width"])
def test_reading_takes_the_file_in_bounded_pieces(given):
    stream, width = tarnwel.compress(LOG)
    sizes = []

    class Recording(io.BytesIO):
        def read(self, size=-1):
            sizes.append(size)
            return super().read(size)

    with tarnwel.open(Recording(stream), width=width if given else None) as f:
        assert f.read() == LOG
    assert len(sizes) > 2 and all(0 < size <= 1 << 16 for size in sizes)


@pytest.mark.parametrize("size", [1, 7, 4096, 65536, 65537, 1 << 20])
def test_reads_of_any_size_give_the_input(tmp_path, size):
    stream, width = tarnwel.compress(LOG)
    (tmp_path / "log.tw").write_bytes(stream)
    with tarnwel.open(tmp_path / "log.tw", "rb", width=width) as f:
        assert f.read(0) == b""
        pieces = []
        while piece := f.read(size):
            assert len(piece) <= size
            pieces.append(piece)
    assert b"".join(pieces) == LOG


def test_corrupt_stream_gives_the_front_then_raises_with_the_status(tmp_path):
    # "a", "b", then a code past the next one to be made (257).
    corrupt = pack([97, 98, 300, 97, 2047], 11)
    with pytest.raises(tarnwel.CorruptStreamError) as raised:
        tarnwel.expand(corrupt, 11)
    assert raised.value.status == "TARNWEL_CORRUPT_STREAM"
    assert raised.value.expanded == b"ab"
    (tmp_path / "bad.tw").write_bytes(corrupt)
    with tarnwel.open(tmp_path / "bad.tw", width=11) as f:
        assert f.read(1) + f.read(1) == b"ab"
        with pytest.raises(tarnwel.CorruptStreamError, match="TARNWEL_CORRUPT_STREAM"):
            f.read(1)


@pytest.mark.parametrize(
    "stream, widths",
    [
        (b"\xff\xff\xff", (12, 13, 14, 15)),  # the empty input's stream at each
        (b"\x0c", ()),  # cut short
        (pack([97, 2047], 11) + b"\x00\x00", ()),  # followed by other bytes
    ],
)
def test_without_a_width_one_must_fit(tmp_path, stream, widths):
    with pytest.raises(tarnwel.WidthUnknownError) as raised:
        tarnwel.expand(stream)
    assert raised.value.widths == widths
    (tmp_path / "x.tw").write_bytes(stream)
    with pytest.raises(tarnwel.WidthUnknownError):
        tarnwel.open(tmp_path / "x.tw")


def test_a_stream_that_cannot_seek_needs_its_width():
    stream, width = tarnwel.compress(b"abcabc")
    reader = io.BufferedReader(io.BytesIO(stream))
    reader.seekable = lambda: False
    with pytest.raises(ValueError, match="give the width"):
        tarnwel.open(reader)
    with tarnwel.open(reader, width=width) as f:
        assert f.read() == b"abcabc"


def test_search_tells_its_width_after_close_and_leaves_a_callers_file_open():
    target = io.BytesIO()
    with tarnwel.open(target, "wb", max_width=20) as f:
        assert (f.writable(), f.readable(), f.seekable(), f.mode) == (True, False, False, "wb")
        assert f.write(LOG) == len(LOG)
        assert f.width is None
    assert (target.getvalue(), f.width) == tarnwel.compress(LOG, max_width=20)
    assert not target.closed
    with pytest.raises(ValueError):
        f.write(b"more")


@pytest.mark.parametrize("width", range(tarnwel.MIN_WIDTH, tarnwel.MAX_WIDTH + 1))
def test_random_bytes_as_a_stream_expand_or_raise(width):
    junk = random.Random(width).randbytes(300)
    try:
        tarnwel.expand(junk, width)
    except tarnwel.CorruptStreamError as error:
        assert error.status == "TARNWEL_CORRUPT_STREAM"


@pytest.mark.parametrize(
    "call, error",
    [
        (lambda: tarnwel.compress("text"), TypeError),
        (lambda: tarnwel.compress(b"", width=10), ValueError),
        (lambda: tarnwel.compress(b"", width=26), ValueError),
        (lambda: tarnwel.compress(b"", max_width=11), ValueError),
        (lambda: tarnwel.compress(b"", width=12, max_width=12), ValueError),
        (lambda: tarnwel.compress(b"", width=True), TypeError),
        (lambda: tarnwel.compress(b"", width=12.0), TypeError),
        (lambda: tarnwel.expand(b"\xff\xff", 0), ValueError),
        (lambda: tarnwel.expand(None, 11), TypeError),
        (lambda: tarnwel.open(io.BytesIO(), "ab"), ValueError),
        (lambda: tarnwel.open(io.BytesIO(), "rtb"), ValueError),
        (lambda: tarnwel.open(io.BytesIO(), "rb", max_width=20), ValueError),
        (lambda: tarnwel.open(io.BytesIO(), "rb", width=11, encoding="ascii"), ValueError),
        (lambda: tarnwel.open(3.5, "wb"), TypeError),
        (lambda: tarnwel.open(io.BytesIO(), "wb").read(), io.UnsupportedOperation),
        (lambda: tarnwel.open(io.BytesIO(b"\xff\xff"), "rb").write(b""), io.UnsupportedOperation),
    ],
)
def test_bad_arguments_raise(call, error):
    with pytest.raises(error):
        call()


def test_a_closed_file_refuses_every_operation():
    f = tarnwel.open(io.BytesIO(b"\xff\xff"))
    f.close()
    f.close()
    for operation in (f.read, f.readline, f.readable, f.fileno, lambda: f.write(b"")):
        with pytest.raises(ValueError):
            operation()


def damaged_in_its_second_half():
    """LOG at width 20 with codes far above the next free one written over
    a few bytes past its middle, and the bytes expanded before them."""
    stream, _ = tarnwel.compress(LOG, width=20)
    middle = len(stream) * 2 // 3
    damaged = stream[:middle] + b"\xff\xfe" * 8 + stream[middle + 16:]
    with pytest.raises(tarnwel.CorruptStreamError) as raised:
        tarnwel.expand(damaged, 20)
    assert len(LOG) // 2 < len(raised.value.expanded) < len(LOG)
    return damaged, raised.value.expanded


def read_in_pieces(read, handed):
    """Calls read until it gives nothing, keeping each piece in handed."""
    while piece := read():
        handed.append(piece)


def read_into(f, handed):
    buffer = bytearray(5000)
    while count := f.readinto(buffer):
        handed.append(bytes(buffer[:count]))


def peek_then_read(f, handed):
    while peeked := f.peek():
        handed.append(f.read(len(peeked)))
        assert handed[-1] == peeked[: len(handed[-1])]


# Each way of reading a file to its end, in binary ("rb") or text ("rt",
# Latin-1, so that a character is a byte), keeping what it hands out.
READS = {
    "read()": ("rb", lambda f, handed: handed.append(f.read())),
    "read(1) in a loop": ("rb", lambda f, handed: read_in_pieces(lambda: f.read(1), handed)),
    "read(4096) in a loop": ("rb", lambda f, handed: read_in_pieces(lambda: f.read(4096), handed)),
    "read(100000) in a loop": (
        "rb", lambda f, handed: read_in_pieces(lambda: f.read(100000), handed)),
    "read1() in a loop": ("rb", lambda f, handed: read_in_pieces(f.read1, handed)),
    "readline() in a loop": ("rb", lambda f, handed: read_in_pieces(f.readline, handed)),
    "iteration": ("rb", lambda f, handed: [handed.append(line) for line in f]),
    "readlines()": ("rb", lambda f, handed: handed.extend(f.readlines())),
    "readinto()": ("rb", read_into),
    "peek() and read()": ("rb", peek_then_read),
    "text read()": ("rt", lambda f, handed: handed.append(f.read())),
    "text read(4096) in a loop": (
        "rt", lambda f, handed: read_in_pieces(lambda: f.read(4096), handed)),
    "text readline() in a loop": ("rt", lambda f, handed: read_in_pieces(f.readline, handed)),
    "text iteration": ("rt", lambda f, handed: [handed.append(line) for line in f]),
}


@pytest.mark.parametrize("how", READS)
def test_every_way_of_reading_hands_out_every_good_byte_then_raises(tmp_path, how):
    damaged, good = damaged_in_its_second_half()
    (tmp_path / "damaged.tw").write_bytes(damaged)
    mode, read = READS[how]
    text = dict(encoding="latin-1", newline="") if mode == "rt" else {}
    handed = []
    with pytest.raises(tarnwel.CorruptStreamError) as raised:
        with tarnwel.open(tmp_path / "damaged.tw", mode, width=20, **text) as f:
            read(f, handed)
    # A read that gathers everything has them in the error, as expand() does.
    got = [piece.encode("latin-1") if mode == "rt" else piece for piece in handed]
    assert b"".join(got) + raised.value.expanded == good


# A file object's read(n) answering wrongly: the caller's mistake, raised
# as an exception, whether open() scans for the width or reads the stream.
BAD_READS = {
    "more bytes than asked for": "b'x' * (size + 100000)",
    "a str": "'x' * size",
    "None": "None",
    "an int": "5",
    "a list": "[1, 2]",
    "ints of four bytes": "array.array('i', [0]) * size",
}

CALL_WITH_A_LIAR = """
import array, io, tarnwel
stream, width = tarnwel.compress(b"abc" * 10000)
class Liar(io.BytesIO):
    def read(self, size=-1):
        size = 1000 if size is None or size < 0 else size
        return {answer}
for call in (lambda f: tarnwel.open(f), lambda f: tarnwel.open(f, width=width).read()):
    try:
        call(Liar(stream))
        print("no error")
    except Exception as error:
        print(type(error).__name__)
"""


@pytest.mark.parametrize("answer", BAD_READS)
def test_a_file_whose_read_answers_wrongly_raises_and_never_crashes(answer):
    # In a child interpreter, which such an answer once brought down.
    ran = subprocess.run([sys.executable, "-c", CALL_WITH_A_LIAR.format(answer=BAD_READS[answer])],
                         capture_output=True, text=True, env=os.environ, timeout=60)
    assert ran.returncode == 0, ran.stderr
    for raised in ran.stdout.split():
        assert raised in ("TypeError", "ValueError", "BlockingIOError"), ran.stdout
    assert len(ran.stdout.split()) == 2


def test_another_library_named_in_tarnwel_library_is_an_import_error():
    other = ctypes.util.find_library("z")
    if other is None:
        pytest.skip("no libz to name in TARNWEL_LIBRARY")
    ran = subprocess.run(
        [sys.executable, "-c",
         "try:\n import tarnwel\nexcept ImportError as error:\n print('ImportError:', error)"],
        capture_output=True, text=True, env={**os.environ, "TARNWEL_LIBRARY": other}, timeout=60)
    assert ran.returncode == 0, ran.stderr
    assert ran.stdout.startswith("ImportError:") and "not libtarnwel" in ran.stdout, ran.stdout

"""tarnwel as fsspec's compression "tarnwel" (".tw"), in one process: the
command's streams written and read through fsspec.open, and a damaged
file's errors as tarnwel.open gives them, naming the file. Dataframes
written and read through it, by pandas on Dask's workers, are in
test_cluster.py."""

import pytest

import tarnwel
from test_tarnwel import LOG, needs_command, pack, run_command

fsspec = pytest.importorskip("fsspec", reason="fsspec is not installed (Debian: python3-fsspec)")


def test_registered_under_its_name_and_extension():
    assert fsspec.compression.compr["tarnwel"] is tarnwel._fsspec.open_compressed
    assert fsspec.utils.infer_compression("logs/day.csv.tw") == "tarnwel"


@needs_command
@pytest.mark.parametrize("compression", ["infer", "tarnwel"])
def test_the_commands_stream_written_and_read(tmp_path, compression):
    (tmp_path / "in").write_bytes(LOG)
    run_command(tmp_path, "c", tmp_path / "in", tmp_path / "expected")
    expected = (tmp_path / "expected").read_bytes()
    with fsspec.open(str(tmp_path / "out.tw"), "wb", compression=compression) as f:
        for start in range(0, len(LOG), 10000):
            f.write(LOG[start : start + 10000])
    assert (tmp_path / "out.tw").read_bytes() == expected
    with fsspec.open(str(tmp_path / "expected"), "rb", compression="tarnwel") as f:
        assert f.read(65536) + f.read() == LOG
    with fsspec.open(str(tmp_path / "out.tw"), "rt", compression=compression) as f:
        assert f.readlines() == LOG.decode().splitlines(keepends=True)
    # A file system's own open, which keeps only the compression's file.
    fs = fsspec.filesystem("file")
    with fs.open(str(tmp_path / "out.tw"), "rb", compression="infer") as f:
        assert f.read() == LOG
    assert f.closed and f._raw.closed


def test_a_width_given_to_the_callback_streams_at_that_width(tmp_path):
    target = open(tmp_path / "out.tw", "wb")
    with fsspec.compression.compr["tarnwel"](target, mode="wb", width=14) as f:
        assert f.width == 14
        f.write(LOG)
    assert target.closed
    assert (tmp_path / "out.tw").read_bytes() == tarnwel.compress(LOG, width=14)[0]


@pytest.mark.parametrize(
    "stream", [pack([97, 98, 300, 97, 2047], 11), b"\x0c"], ids=["corrupt", "cut short"]
)
def test_a_damaged_file_of_unknown_width_raises_naming_it(tmp_path, stream):
    (tmp_path / "bad.tw").write_bytes(stream)
    with pytest.raises(tarnwel.WidthUnknownError, match=r"bad\.tw: the stream fits no width"):
        with fsspec.open(str(tmp_path / "bad.tw"), "rb", compression="infer") as f:
            f.read()


@pytest.mark.parametrize(
    "read, expanded",
    [
        (lambda f: f.read(1) + f.read(1) + f.read(1), b""),
        (lambda f: f.read(), b"ab"),
        (lambda f: f.readlines(), b"ab"),
        (lambda f: f.readinto(bytearray(10)), b""),
    ],
    ids=["byte by byte", "read()", "readlines()", "readinto"],
)
def test_a_corrupt_stream_gives_the_good_bytes_then_raises_naming_the_file(tmp_path, read,
                                                                          expanded):
    (tmp_path / "bad.tw").write_bytes(pack([97, 98, 300, 97, 2047], 11))
    with fsspec.open(str(tmp_path / "bad.tw"), "rb") as raw:
        with tarnwel._fsspec.open_compressed(raw, "rb", width=11) as f:
            if not expanded:
                assert f.read(1) + f.read(1) == b"ab"
            with pytest.raises(tarnwel.CorruptStreamError) as raised:
                read(f)
    told = "tarnwel_expander_step: TARNWEL_CORRUPT_STREAM"
    assert str(raised.value) == f"{tmp_path / 'bad.tw'}: {told}"  # named once
    assert raised.value.status == "TARNWEL_CORRUPT_STREAM"
    assert raised.value.expanded == expanded

"""compress_file() and expand_file() against the command: the same stream and
width, and never a half-written file under the target's name; the widths'
manifest; and every error the module raises coming back whole from
pickle, as Dask hands a worker's error to its client."""

import copy
import os
import pickle
import stat

import pytest

import tarnwel
from test_tarnwel import LOG, RANDOM, needs_command, pack, run_command


def leftovers(folder, expected):
    return sorted(set(os.listdir(folder)) - set(expected))


@needs_command
@pytest.mark.parametrize("data", [b"", LOG, RANDOM], ids=["empty", "log", "random"])
@pytest.mark.parametrize("max_width", [None, 16])
def test_files_give_the_commands_stream_and_width(tmp_path, data, max_width):
    (tmp_path / "in").write_bytes(data)
    if max_width is None:
        run_command(tmp_path, "c", tmp_path / "in", tmp_path / "expected")
        expected_width = int((tmp_path / "bits.txt").read_text())
    else:
        expected_width = tarnwel.compress(data, max_width)[1]
        run_command(tmp_path, "c", tmp_path / "in", tmp_path / "expected", expected_width)
    width = tarnwel.compress_file(tmp_path / "in", tmp_path / "out.tw", max_width)
    assert width == expected_width
    assert (tmp_path / "out.tw").read_bytes() == (tmp_path / "expected").read_bytes()
    for given in (None, width):
        assert tarnwel.expand_file(tmp_path / "out.tw", tmp_path / "back", given) == width
        assert (tmp_path / "back").read_bytes() == data
    assert tarnwel.compress_file(tmp_path / "in", tmp_path / "at.tw", width=width) == width
    assert (tmp_path / "at.tw").read_bytes() == (tmp_path / "expected").read_bytes()


def test_a_replaced_file_keeps_its_mode_and_its_link_and_a_new_one_follows_the_umask(tmp_path):
    (tmp_path / "in").write_bytes(LOG)
    old_mask = os.umask(0o027)
    try:
        tarnwel.compress_file(tmp_path / "in", tmp_path / "new.tw")
    finally:
        os.umask(old_mask)
    assert stat.S_IMODE(os.stat(tmp_path / "new.tw").st_mode) == 0o640
    (tmp_path / "real.tw").write_bytes(b"old")
    os.chmod(tmp_path / "real.tw", 0o640)
    os.symlink("real.tw", tmp_path / "link.tw")
    tarnwel.compress_file(tmp_path / "in", tmp_path / "link.tw")
    assert (tmp_path / "link.tw").is_symlink()
    assert stat.S_IMODE(os.stat(tmp_path / "real.tw").st_mode) == 0o640
    assert tarnwel.expand((tmp_path / "real.tw").read_bytes()) == LOG
    assert leftovers(tmp_path, ["in", "new.tw", "real.tw", "link.tw"]) == []


# "a", "b", then a code past the next one to be made (257), at width 11.
CORRUPT = pack([97, 98, 300, 97, 2047], 11)


@pytest.mark.parametrize(
    "stream, width, error",
    [
        (CORRUPT, 11, tarnwel.CorruptStreamError),
        (b"\x0c", None, tarnwel.WidthUnknownError),
    ],
)
def test_a_failed_expansion_names_the_file_and_leaves_the_target_alone(tmp_path, stream, width,
                                                                       error):
    (tmp_path / "bad.tw").write_bytes(stream)
    (tmp_path / "kept").write_bytes(b"old")
    with pytest.raises(error, match="bad.tw: ") as raised:
        tarnwel.expand_file(tmp_path / "bad.tw", tmp_path / "kept", width)
    assert isinstance(raised.value.__cause__, error)
    assert (tmp_path / "kept").read_bytes() == b"old"
    with pytest.raises(error):
        tarnwel.expand_file(tmp_path / "bad.tw", tmp_path / "new", width)
    assert leftovers(tmp_path, ["bad.tw", "kept"]) == []


def test_a_write_that_fails_midway_removes_the_new_file(tmp_path, monkeypatch):
    (tmp_path / "in").write_bytes(LOG)
    stream = tmp_path / "in.tw"
    width = tarnwel.compress_file(tmp_path / "in", stream)
    real_open = tarnwel._files.builtins.open

    class FullDisk:
        """The new file, refusing its second piece as a full disk would."""

        def __init__(self, *args, **kwargs):
            self.file = real_open(*args, **kwargs)
            self.pieces = 0

        def write(self, data):
            self.pieces += 1
            if self.pieces == 2:
                # Only its maker may read the new file while it is written.
                assert stat.S_IMODE(os.fstat(self.file.fileno()).st_mode) == 0o600
                raise OSError(28, "No space left on device")
            return self.file.write(data)

        def __getattr__(self, name):
            return getattr(self.file, name)

        def __enter__(self):
            return self

        def __exit__(self, *exc):
            self.file.close()

    monkeypatch.setattr(tarnwel._files.builtins, "open",
                        lambda file, *a, **k: FullDisk(file, *a, **k) if isinstance(file, int)
                        else real_open(file, *a, **k))
    with pytest.raises(OSError, match="No space"):
        tarnwel.expand_file(stream, tmp_path / "out", width)
    with pytest.raises(OSError, match="No space"):
        tarnwel.compress_file(tmp_path / "in", tmp_path / "again.tw", width=12)
    monkeypatch.undo()
    assert leftovers(tmp_path, ["in", "in.tw"]) == []


def test_manifest_keeps_the_widths_beside_the_streams(tmp_path):
    sources, streams = [], []
    for name, data in [("log", LOG), ("random", RANDOM), ("short", b"ab")]:
        (tmp_path / name).write_bytes(data)
        sources.append(tmp_path / name)
        streams.append(tmp_path / "out" / f"{name}.tw")
    (tmp_path / "out").mkdir()
    widths = [tarnwel.compress_file(s, d, 20) for s, d in zip(sources, streams)]
    manifest = tmp_path / "out" / "widths.csv"
    tarnwel.write_manifest(manifest, sources, streams, widths)
    assert manifest.read_text().splitlines() == ["name,width,size,compressed_size"] + [
        f"{d.name},{w},{s.stat().st_size},{d.stat().st_size}"
        for s, d, w in zip(sources, streams, widths)
    ]
    kept = tarnwel.read_manifest(manifest)
    assert kept == {str(d): w for d, w in zip(streams, widths)}
    for (stream, width), source in zip(kept.items(), sources):
        assert tarnwel.expand(open(stream, "rb").read(), width) == source.read_bytes()


ERRORS = [
    tarnwel.TarnwelError("tarnwel_compressor_step: TARNWEL_OUT_OF_MEMORY",
                         "TARNWEL_OUT_OF_MEMORY"),
    tarnwel.TarnwelError("libtarnwel's steps stopped"),
    tarnwel.CorruptStreamError("tarnwel_expander_step: TARNWEL_CORRUPT_STREAM", b"ab\x00"),
    tarnwel.WidthUnknownError([12, 13, 14]),
    tarnwel.WidthUnknownError([]),
    tarnwel._files.named_error(tarnwel.WidthUnknownError([12, 13]), "day.csv.tw"),
    tarnwel._files.named_error(tarnwel.CorruptStreamError("step: corrupt", b"x"), b"b.tw"),
]


@pytest.mark.parametrize("error", ERRORS, ids=repr)
@pytest.mark.parametrize("protocol", range(pickle.HIGHEST_PROTOCOL + 1))
def test_every_error_comes_back_whole_from_pickle(error, protocol):
    for back in (pickle.loads(pickle.dumps(error, protocol)), copy.deepcopy(error)):
        assert type(back) is type(error)
        assert (str(back), back.args) == (str(error), error.args)
        assert vars(back) == vars(error)
        for attribute in ("status", "widths", "expanded"):
            assert getattr(back, attribute, None) == getattr(error, attribute, None)

"""tarnwel on a Dask cluster of real processes on this machine: a scheduler
and two workers started with dask-scheduler and dask-worker --preload
tarnwel, on free ports, torn down when the module's cases end, however
they end. Many files read and written as dataframes, compressed and
expanded by compress_file and expand_file as the command does it, a worker
killed in the middle of a job, a corrupt file among many, and a worker
that gets the module from the client alone."""

import os
import shutil
import signal
import subprocess
import sys
import time

import pytest

import tarnwel
from test_tarnwel import log_lines, needs_command, pack, run_command

pytest.importorskip("fsspec", reason="fsspec is not installed (Debian: python3-fsspec)")
pytest.importorskip("pandas", reason="pandas is not installed (Debian: python3-pandas)")
pytest.importorskip("dask.dataframe", reason="dask is not installed (Debian: python3-dask)")
distributed = pytest.importorskip(
    "distributed", reason="distributed is not installed (Debian: python3-distributed)"
)

# Generous: the machine may be busy with other work, and a worker's start
# imports pandas.
PATIENCE = 180
FILES = 24


def dask_command(name):
    """The dask-scheduler or dask-worker command beside this interpreter,
    else the module it runs, with this interpreter."""
    command = shutil.which(name, path=os.path.dirname(sys.executable))
    if command:
        return [command]
    return [sys.executable, "-m", f"distributed.cli.{name.replace('-', '_')}"]


class Cluster:
    def __init__(self, folder):
        self.folder = folder
        self.scheduler_file = str(folder / "scheduler.json")
        self.processes = []
        self.client = None

    def start(self, arguments, log):
        process = subprocess.Popen(
            arguments, stdout=subprocess.DEVNULL, stderr=open(self.folder / log, "wb"),
            start_new_session=True,
        )
        self.processes.append(process)
        return process

    def start_scheduler(self):
        self.start([*dask_command("dask-scheduler"), "--host", "127.0.0.1", "--port", "0",
                    "--no-dashboard", "--scheduler-file", self.scheduler_file], "scheduler.log")
        deadline = time.monotonic() + PATIENCE
        while not os.path.exists(self.scheduler_file):
            if time.monotonic() > deadline or self.processes[0].poll() is not None:
                raise RuntimeError(f"the scheduler did not start: see {self.folder}/scheduler.log")
            time.sleep(0.2)

    def start_worker(self, name, preload=True):
        """A worker process of one thread, with no nanny: killing it kills
        the worker itself, and no one starts it again."""
        return self.start([*dask_command("dask-worker"), "--scheduler-file", self.scheduler_file,
                           "--host", "127.0.0.1", "--nthreads", "1", "--no-nanny",
                           "--no-dashboard", "--name", name,
                           "--local-directory", str(self.folder / name),
                           *(["--preload", "tarnwel"] if preload else [])], f"{name}.log")

    def address_of(self, name):
        """The address of the worker named name, once it has joined."""
        deadline = time.monotonic() + PATIENCE
        while time.monotonic() < deadline:
            for address, worker in self.client.scheduler_info()["workers"].items():
                if worker["name"] == name:
                    return address
            time.sleep(0.2)
        raise RuntimeError(f"worker {name} did not join: see {self.folder}/{name}.log")

    def stop(self, process):
        if process.poll() is None:
            os.killpg(process.pid, signal.SIGTERM)
            try:
                process.wait(30)
            except subprocess.TimeoutExpired:
                os.killpg(process.pid, signal.SIGKILL)
                process.wait()

    def stop_all(self):
        if self.client is not None:
            self.client.close()
        for process in reversed(self.processes):
            self.stop(process)


@pytest.fixture(scope="module")
def cluster(tmp_path_factory):
    cluster = Cluster(tmp_path_factory.mktemp("cluster"))
    try:
        cluster.start_scheduler()
        for name in ("one", "two"):
            cluster.start_worker(name)
        cluster.client = distributed.Client(scheduler_file=cluster.scheduler_file,
                                            timeout=PATIENCE)
        cluster.client.wait_for_workers(2, timeout=PATIENCE)
        yield cluster
    finally:
        cluster.stop_all()


def csv_text(seed):
    rows = log_lines(800 + 37 * seed).decode().splitlines()
    return "day,time,level,text\n" + "".join(
        f"{row[:10]},{row[11:19]},{row.split()[2]},{' '.join(row.split()[3:])}\n" for row in rows
    )


@pytest.fixture(scope="module")
def csv_files(tmp_path_factory):
    """FILES CSV files, each compressed by the command, in their own folder."""
    folder = tmp_path_factory.mktemp("csv")
    for i in range(FILES):
        (folder / f"day{i:02}.csv").write_text(csv_text(i))
        tarnwel.compress_file(folder / f"day{i:02}.csv", folder / f"day{i:02}.csv.tw")
        (folder / f"day{i:02}.csv").unlink()
    return folder


@pytest.mark.parametrize("compression", ["infer", "tarnwel"])
def test_dataframes_read_and_written_over_many_files(cluster, csv_files, tmp_path, compression):
    import dask.dataframe as dd
    import pandas as pd

    pattern = str(csv_files / "day*.csv.tw")
    frame = dd.read_csv(pattern, compression=compression, blocksize=None)
    assert frame.npartitions == FILES
    expected = pd.concat(
        [pd.read_csv(pd.io.common.StringIO(csv_text(i))) for i in range(FILES)], ignore_index=True
    )
    got = cluster.client.compute(frame).result(PATIENCE)
    assert got.reset_index(drop=True).equals(expected)
    # Back to files through the workers: the streams are those of the same
    # text compressed here, and they read back whole.
    written = cluster.client.compute(
        frame.to_csv(str(tmp_path / "out-*.csv.tw"), index=False, compression=compression,
                     compute=False)
    )
    distributed.wait(written, PATIENCE)
    for i in range(FILES):
        text = (tmp_path / f"out-{i:02}.csv.tw").read_bytes()
        assert tarnwel.expand(text).decode() == csv_text(i)
        assert text == tarnwel.compress(csv_text(i).encode())[0]


def results(client, futures):
    distributed.wait(futures, PATIENCE)
    return client.gather(futures)


def command_streams(folder, sources):
    """The command's stream and width for each source, made in folder."""
    expected = []
    for i, source in enumerate(sources):
        run_command(folder, "c", source, folder / f"expected{i}")
        expected.append(((folder / f"expected{i}").read_bytes(),
                         int((folder / "bits.txt").read_text())))
    return expected


@needs_command
def test_files_mapped_over_the_workers_give_the_commands_streams(cluster, tmp_path):
    (tmp_path / "in").mkdir()
    sources = []
    for i in range(FILES):
        sources.append(tmp_path / "in" / f"f{i:02}")
        sources[-1].write_bytes(log_lines(300 * (i + 1)) if i % 4 else os.urandom(5000 * i))
    expected = command_streams(tmp_path, sources)
    streams = [tmp_path / "in" / f"f{i:02}.tw" for i in range(FILES)]
    client = cluster.client
    widths = results(client, client.map(tarnwel.compress_file, sources, streams, pure=False))
    assert [(s.read_bytes(), w) for s, w in zip(streams, widths)] == expected
    backs = [tmp_path / "in" / f"f{i:02}.back" for i in range(FILES)]
    tarnwel.write_manifest(tmp_path / "in" / "widths.csv", sources, streams, widths)
    kept = tarnwel.read_manifest(str(tmp_path / "in" / "widths.csv"))
    told = results(client, client.map(tarnwel.expand_file, streams, backs,
                                      [kept[str(s)] for s in streams], pure=False))
    assert told == widths
    assert all(b.read_bytes() == s.read_bytes() for b, s in zip(backs, sources))


@needs_command
def test_a_worker_killed_in_the_middle_of_a_job(cluster, tmp_path):
    """The job ends through the scheduler's retry on the workers left, and
    no file under a target's name is anything but the whole stream."""
    victim = cluster.start_worker("victim")
    client = cluster.client
    address = cluster.address_of("victim")
    (tmp_path / "in").mkdir()
    sources = []
    for i in range(30):
        sources.append(tmp_path / "in" / f"f{i:02}")
        sources[-1].write_bytes(log_lines(20000 + 500 * i))
    expected = command_streams(tmp_path, sources)
    (tmp_path / "out").mkdir()
    targets = [tmp_path / "out" / f"f{i:02}.tw" for i in range(30)]
    futures = client.map(tarnwel.compress_file, sources, targets, pure=False)
    deadline = time.monotonic() + PATIENCE
    while not client.processing(workers=[address]).get(address):
        assert time.monotonic() < deadline, "the victim was given no work"
        time.sleep(0.01)
    os.kill(victim.pid, signal.SIGKILL)
    victim.wait()
    widths = results(client, futures)
    assert [(t.read_bytes(), w) for t, w in zip(targets, widths)] == expected
    # What the killed worker was writing stays under a new file's name of
    # its own, never a target's.
    names = {t.name for t in targets}
    assert all(n in names or (n.startswith("tarnwel.") and n.endswith(".tmp"))
               for n in os.listdir(tmp_path / "out"))


def test_a_corrupt_file_among_many_is_named_in_the_clients_error(cluster, tmp_path):
    client = cluster.client
    streams, widths = [], []
    for i in range(FILES):
        streams.append(tmp_path / f"f{i:02}.tw")
        stream, width = tarnwel.compress(log_lines(200 + i))
        streams[-1].write_bytes(stream)
        widths.append(width)
    # "a", "b", then a code past the next one to be made, at width 11.
    streams[13].write_bytes(pack([97, 98, 300, 97, 2047], 11))
    widths[13] = 11
    outputs = [tmp_path / f"f{i:02}.out" for i in range(FILES)]
    futures = client.map(tarnwel.expand_file, streams, outputs, widths, pure=False)
    with pytest.raises(tarnwel.CorruptStreamError) as raised:
        results(client, futures)
    assert str(raised.value) == f"{streams[13]}: tarnwel_expander_step: TARNWEL_CORRUPT_STREAM"
    assert raised.value.status == "TARNWEL_CORRUPT_STREAM"
    assert not outputs[13].exists()
    assert sum(o.exists() for o in outputs) == FILES - 1
    # Read as a dataframe without widths, the same file cannot be given one.
    import dask.dataframe as dd

    frame = dd.read_csv(str(tmp_path / "f*.tw"), blocksize=None, header=None)
    unknown = r"f13\.tw: the stream fits no width"
    with pytest.raises(tarnwel.WidthUnknownError, match=unknown) as raised:
        client.compute(frame).result(PATIENCE)
    assert raised.value.widths == () and raised.value.status is None


def test_a_worker_without_preload_gets_the_module_from_the_client(cluster, tmp_path):
    bare = cluster.start_worker("bare", preload=False)
    try:
        client = cluster.client
        address = cluster.address_of("bare")

        def loaded():
            return "tarnwel" in sys.modules

        assert client.run(loaded, workers=[address]) == {address: False}
        client.register_worker_plugin(tarnwel.WorkerSetup())
        assert client.run(loaded, workers=[address]) == {address: True}
        stream, _ = tarnwel.compress(b"read on the bare worker\n")
        (tmp_path / "x.tw").write_bytes(stream)

        def read(path):
            import fsspec

            with fsspec.open(path, "rb", compression="infer") as f:
                return f.read()

        future = client.submit(read, str(tmp_path / "x.tw"), workers=[address], pure=False)
        assert future.result(PATIENCE) == b"read on the bare worker\n"
    finally:
        cluster.stop(bare)

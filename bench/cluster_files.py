"""Many files compressed three ways, taking turns round by round: by
tarnwel.compress_file in one process confined to one core; mapped over two
Dask workers, each confined to its own core (two machines' worth of work);
and by the command in a shell loop. A fourth way, two processes of the
first kind on a core each with half the files, is what the machine gives
two cores without Dask: the ceiling for the workers. Prints the medians as
a table of files a second and MB a second, after checking every stream
against the command's. Run by bench/cluster_files.sh, which makes the files.

Usage: cluster_files.py ROUNDS WORK FILE...
       cluster_files.py one OUTPUT_FOLDER FILE...   (one timed pass, for taskset)"""

import os
import shutil
import statistics
import subprocess
import sys
import time

import tarnwel


def targets(folder, files):
    return [os.path.join(folder, os.path.basename(f) + ".tw") for f in files]


def one_pass(folder, files):
    """The clock's time at the start and at the end: a pass in a process of
    its own is timed from inside, leaving out the interpreter's start."""
    start = time.time()
    for source, target in zip(files, targets(folder, files)):
        tarnwel.compress_file(source, target)
    return start, time.time()


def dask_command(name):
    command = shutil.which(name, path=os.path.dirname(sys.executable))
    if command:
        return [command]
    return [sys.executable, "-m", f"distributed.cli.{name.replace('-', '_')}"]


def start_cluster(work):
    """A scheduler and two workers of one thread, each pinned to a core of
    its own; (client, processes)."""
    import distributed

    scheduler_file = os.path.join(work, "scheduler.json")
    log = open(os.path.join(work, "cluster.log"), "wb")
    processes = [subprocess.Popen([*dask_command("dask-scheduler"), "--host", "127.0.0.1",
                                   "--port", "0", "--no-dashboard", "--scheduler-file",
                                   scheduler_file], stdout=log, stderr=log)]
    for core in (0, 1):
        processes.append(subprocess.Popen(
            ["taskset", "-c", str(core), *dask_command("dask-worker"), "--scheduler-file",
             scheduler_file, "--host", "127.0.0.1", "--nthreads", "1", "--no-nanny",
             "--no-dashboard", "--preload", "tarnwel",
             "--local-directory", os.path.join(work, f"worker{core}")], stdout=log, stderr=log))
    while not os.path.exists(scheduler_file):
        time.sleep(0.1)
    client = distributed.Client(scheduler_file=scheduler_file, timeout=300)
    client.wait_for_workers(2, timeout=300)
    return client, processes


def cluster_pass(client, folder, files):
    import distributed

    start = time.perf_counter()
    futures = client.map(tarnwel.compress_file, files, targets(folder, files), pure=False)
    distributed.wait(futures)
    client.gather(futures)
    return time.perf_counter() - start


def pinned_pass(cores, folder, files):
    """One process on each of cores, with every len(cores)-th file: from the
    first one's start to the last one's end."""
    passes = [subprocess.Popen(["taskset", "-c", str(core), sys.executable, __file__, "one",
                                folder, *files[i :: len(cores)]], stdout=subprocess.PIPE,
                               text=True)
              for i, core in enumerate(cores)]
    spans = [[float(t) for t in p.communicate()[0].split()] for p in passes]
    if any(p.returncode != 0 for p in passes):
        sys.exit("a pinned process failed")
    return max(end for _, end in spans) - min(start for start, _ in spans)


def command_pass(command, folder, files):
    start = time.perf_counter()
    subprocess.run(["bash", "-c", 'cd "$1"; shift; for f; do "$0" c "$f" "${f##*/}.tw"; done',
                    command, folder, *files], check=True, stdout=subprocess.DEVNULL)
    return time.perf_counter() - start


def main():
    if sys.argv[1] == "one":
        print(*one_pass(sys.argv[2], sys.argv[3:]))
        return
    rounds, work, files = int(sys.argv[1]), sys.argv[2], [os.path.abspath(f) for f in sys.argv[3:]]
    command = os.path.abspath(os.environ.get("TARNWEL", "build/tarnwel"))
    folders = {way: os.path.join(work, way) for way in ("one", "cluster", "command", "two")}
    for folder in folders.values():
        os.makedirs(folder, exist_ok=True)
    client, processes = start_cluster(work)
    try:
        cluster_pass(client, folders["cluster"], files[:2])  # the workers' first import
        times = {way: [] for way in folders}
        for _ in range(rounds):
            times["one"].append(pinned_pass([0], folders["one"], files))
            times["cluster"].append(cluster_pass(client, folders["cluster"], files))
            times["command"].append(command_pass(command, folders["command"], files))
            times["two"].append(pinned_pass([0, 1], folders["two"], files))
    finally:
        client.close()
        for process in processes:
            process.terminate()
            process.wait()
    for way in ("one", "cluster", "two"):
        for mine, theirs in zip(targets(folders[way], files), targets(folders["command"], files)):
            with open(mine, "rb") as a, open(theirs, "rb") as b:
                if a.read() != b.read():
                    sys.exit(f"{mine}: not the command's stream")
    megabytes = sum(os.path.getsize(f) for f in files) / 1e6
    medians = {way: statistics.median(t) for way, t in times.items()}
    print(f"{len(files)} files, {megabytes:.1f} MB; medians of {rounds} rounds, taken in turns.")
    print()
    print("| way | seconds | files/s | MB/s | files/s against one core |")
    print("|---|---:|---:|---:|---:|")
    names = {"one": "`compress_file`, one process on one core",
             "cluster": "`compress_file` on two Dask workers, one core each",
             "command": "`tarnwel c` in a shell loop",
             "two": "`compress_file`, two processes on one core each, half the files each"}
    for way, seconds in medians.items():
        print(f"| {names[way]} | {seconds:.2f} | {len(files) / seconds:.2f} | "
              f"{megabytes / seconds:.1f} | {medians['one'] / seconds:.2f} |")
    print()
    for way in ("cluster", "two"):
        pairs = [one / other for one, other in zip(times["one"], times[way])]
        print(f"{names[way]} against one core, round by round: "
              f"{', '.join(f'{r:.2f}' for r in pairs)} (median {statistics.median(pairs):.2f}).")


if __name__ == "__main__":
    main()

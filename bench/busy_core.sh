#!/usr/bin/env bash
# Compression when another process keeps a core busy: a shell busy loop at
# a given niceness (0, the same as the run's; 10 and 19, a background job
# that yields the core) runs while each input is compressed as the command
# runs (free to use both cores) and confined to one processor (taskset -c
# 0); each pair of those alternates with a run on the free machine (no
# loop), so that the machine's drift moves all three alike. Prints, for
# each loop and input, the median seconds of each and the medians of the
# ratios: the busy run against the free machine's (beside a niced loop
# near 1 means the second thread kept its pace) and against the one
# confined to one processor (at most 1.05 means the second thread never
# costs more than it brings).
#
# Usage: bench/busy_core.sh [--size MIB] [--runs N] [--kinds "KIND..."] [--loops "NICE..."] [--baseline BINARY] [WORK_DIR]
#   --size MIB   size of each input (default 32)
#   --runs N     runs of each command per input and loop (default 7)
#   --kinds      inputs to build (default: text headers binaries random)
#   --loops      the busy loops' niceness, one after another (default: 0 10 19)
#   --baseline BINARY  also the same runs of another build (say, the commit
#                before a change), and, with no busy loop, this build
#                against it, pair by pair
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/bench/inputs.sh"
size_mib=32
runs=7
kinds="text headers binaries random"
loops="0 10 19"
work=""
baseline=""
while [ $# -gt 0 ]; do
    case $1 in
    --size) size_mib=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --kinds) kinds=$2; shift 2 ;;
    --loops) loops=$2; shift 2 ;;
    --baseline) baseline=$(realpath "$2"); shift 2 ;;
    *) work=$1; shift ;;
    esac
done
work=${work:-$(mktemp -d /tmp/tarnwel-busy-XXXXXX)}
mkdir -p "$work"
copy_builds "$root" "$work" "$baseline"
cd "$work" # the command writes bits.txt where it runs

# Runs the commands in turn, runs times each, with the busy loop at the
# niceness given (none: no loop) started before each run of the commands
# from the second on and stopped after them, so the first runs on the
# free machine. Prints the median seconds of each command, then the median
# ratio of the second command's time to each other command's in the same
# round, with their range.
rounds() { # runs, niceness or none, command...
    python3 - "$@" <<'PY'
import statistics, subprocess, sys, time
runs, nice, commands = int(sys.argv[1]), sys.argv[2], [c.split() for c in sys.argv[3:]]
def timed(command):
    began = time.monotonic()
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.monotonic() - began
def busy_loop():
    if nice == "none":
        return None
    return subprocess.Popen(["nice", "-n", nice, "sh", "-c", "while :; do :; done"])
for command in commands:
    timed(command)  # warm the page cache and the binaries
times = [[] for _ in commands]
for _ in range(runs):
    times[0].append(timed(commands[0]))
    loop = busy_loop()
    try:
        for i, command in enumerate(commands[1:], 1):
            times[i].append(timed(command))
    finally:
        if loop is not None:
            loop.kill()
            loop.wait()
fields = [f"{statistics.median(t):.3f}" for t in times]
for other in [0] + list(range(2, len(times))):
    ratios = [x / y for x, y in zip(times[1], times[other])]
    fields.append(f"{statistics.median(ratios):.3f} {min(ratios):.3f}-{max(ratios):.3f}")
print(" ".join(fields))
PY
}

printf '%-9s %-5s %-9s %7s %7s %7s %18s %18s\n' input loop build free busy "1 proc" \
    "busy/free (range)" "busy/1 proc (range)"
for kind in $kinds; do
    make_input "$kind" $((size_mib << 20)) "$kind.in"
    builds=(tarnwel)
    [ -z "$baseline" ] || builds+=(baseline)
    for nice in $loops; do
        for build in "${builds[@]}"; do
            read -r free busy one bf bf_range bo bo_range < <(rounds "$runs" "$nice" \
                "./$build c $kind.in $kind.a" "./$build c $kind.in $kind.b" \
                "taskset -c 0 ./$build c $kind.in $kind.c")
            printf '%-9s %-5s %-9s %7s %7s %7s %18s %18s\n' "$kind" "$nice" "$build" "$free" \
                "$busy" "$one" "$bf ($bf_range)" "$bo ($bo_range)"
        done
    done
    if [ -n "$baseline" ]; then
        read -r base this ratio range < <(rounds "$runs" none "./baseline c $kind.in $kind.a" \
            "./tarnwel c $kind.in $kind.b")
        printf '%-9s %-5s %-9s %7s %7s %7s %18s\n' "$kind" none "vs base" "$base" "$this" "" \
            "$ratio ($range)"
    fi
done
echo "loop: the busy loop's niceness; free: this build with no loop; busy: with the loop,"
echo "free to use both cores; 1 proc: with the loop, confined to one processor;"
echo "vs base: no loop; under free the baseline, under busy this build, and their ratio"

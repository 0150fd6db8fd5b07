#!/usr/bin/env bash
# Compression when another process keeps a core busy: a shell busy loop runs
# throughout, and each input is compressed in turns as the command runs
# (free to use both cores) and confined to one processor (taskset -c 0),
# pair by pair, so that the machine's drift moves both alike. Prints the
# median seconds of each and the median of the pairs' ratios: at most 1.05
# means the second thread never costs more than it brings.
#
# Usage: bench/busy_core.sh [--size MIB] [--runs N] [--kinds "KIND..."] [--baseline BINARY] [WORK_DIR]
#   --size MIB   size of each input (default 32)
#   --runs N     pairs per input (default 7)
#   --kinds      inputs to build (default: text headers binaries random)
#   --baseline BINARY  also the same pairs of another build (say, the commit
#                before a change), and, with no busy loop, this build
#                against it, pair by pair
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/bench/inputs.sh"
size_mib=32
runs=7
kinds="text headers binaries random"
work=""
baseline=""
while [ $# -gt 0 ]; do
    case $1 in
    --size) size_mib=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --kinds) kinds=$2; shift 2 ;;
    --baseline) baseline=$(realpath "$2"); shift 2 ;;
    *) work=$1; shift ;;
    esac
done
work=${work:-$(mktemp -d /tmp/tarnwel-busy-XXXXXX)}
mkdir -p "$work"
copy_builds "$root" "$work" "$baseline"
cd "$work" # the command writes bits.txt where it runs

# Runs two commands in turn, runs times each, and prints the median seconds
# of each and the median of the ratios of the pairs.
pairs() { # runs, command A, command B
    python3 - "$@" <<'PY'
import statistics, subprocess, sys, time
runs, a, b = int(sys.argv[1]), sys.argv[2].split(), sys.argv[3].split()
def timed(command):
    began = time.monotonic()
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.monotonic() - began
timed(a), timed(b)  # warm the page cache and the binaries
ta, tb = [], []
for _ in range(runs):
    ta.append(timed(a))
    tb.append(timed(b))
ratios = [x / y for x, y in zip(ta, tb)]
print(f"{statistics.median(ta):.3f} {statistics.median(tb):.3f} {statistics.median(ratios):.3f}"
      f" {min(ratios):.3f} {max(ratios):.3f}")
PY
}

# The busy loop is a direct child, so that killing it stops it; it is
# stopped on the way out too.
loop=""
trap '[ -z "$loop" ] || kill "$loop" 2>/dev/null || true' EXIT

printf '%-9s %-10s %9s %9s %7s %15s\n' input build "2 cores" "1 proc" ratio "ratio range"
for kind in $kinds; do
    make_input "$kind" $((size_mib << 20)) "$kind.in"
    builds=(tarnwel)
    [ -z "$baseline" ] || builds+=(baseline)
    for build in "${builds[@]}"; do
        (while :; do :; done) >/dev/null 2>&1 &
        loop=$!
        read -r a b ratio low high < <(pairs "$runs" "./$build c $kind.in $kind.a" \
            "taskset -c 0 ./$build c $kind.in $kind.b")
        kill "$loop"
        loop=""
        printf '%-9s %-10s %9s %9s %7s %15s\n' "$kind" "$build busy" "$a" "$b" "$ratio" "$low-$high"
    done
    if [ -n "$baseline" ]; then
        read -r a b ratio low high < <(pairs "$runs" "./tarnwel c $kind.in $kind.a" \
            "./baseline c $kind.in $kind.b")
        printf '%-9s %-10s %9s %9s %7s %15s\n' "$kind" "vs base" "$a" "$b" "$ratio" "$low-$high"
    fi
done
echo "busy: seconds on two cores and confined to one processor, with a busy loop throughout;"
echo "vs base: this build and the baseline, both on two cores, no busy loop"

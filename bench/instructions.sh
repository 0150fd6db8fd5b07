#!/usr/bin/env bash
# Counts the instructions tarnwel executes per input byte, phase by phase,
# beside the classic LZW compressor's (ncompress) whole run, under
# cachegrind with its cache simulation off: the counts are exact and do not
# drift with a noisy machine, so a change to the parse shows its effect in
# one run. Inputs are the first bytes of the same kinds as bench/compare.sh
# builds, plus zeros.
#
# The phases are counted in one compression with the frozen parse on the
# same core (search_floor --one-core): with a second thread, how much of the
# frozen parse is thrown away at a restart depends on how the threads ran,
# and the count would change from run to run. They are told apart by the
# functions their instructions run in (cachegrind charges inlined code to
# the function it was inlined into):
#   unbounded parse: search (into which run_pass is inlined) and new_string,
#                    in codec/compress/compressor.cpp: the parse that grows the
#                    dictionary, with reading the input
#   frozen parse:    the functions of codec/compress/frozen_parse.cpp,
#                    codec/compress/frozen_following.cpp (codec/compress/frozen_ring.cpp on
#                    two threads) and codec/compress/unbounded_strings.cpp: the parse at the chosen
#                    width, its restarts, the code stream's packing inlined
#                    into it, and following the unbounded parse's strings
#   whole run:       every instruction of that one-core compression, the
#                    same on every run; of `tarnwel c` as it runs (two
#                    threads: restarts and scouting vary a little from run
#                    to run); and of `tarnwel d`
# Growing the table and putting the stream together are neither phase's.
#
# Usage: bench/instructions.sh [--size BYTES] [WORK_DIR]
#   --size BYTES  bytes of each input (default 8000000)
# Builds its own copy of tarnwel with symbols in build-instructions/ (the
# same optimisation as a release build). Needs root to install ncompress
# and valgrind when they are missing.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/bench/inputs.sh"
bytes=8000000
work=""
while [ $# -gt 0 ]; do
    case $1 in
    --size) bytes=$2; shift 2 ;;
    *) work=$1; shift ;;
    esac
done
work=${work:-$(mktemp -d /tmp/tarnwel-instructions-XXXXXX)}
mkdir -p "$work"

missing=()
command -v compress >/dev/null || missing+=(ncompress)
command -v valgrind >/dev/null || missing+=(valgrind)
install_missing "${missing[@]}"
build=$root/build-instructions
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS=-g >/dev/null
cmake --build "$build" -j2 --target tarnwel search_floor >/dev/null
cp "$build/tarnwel" "$work/tarnwel"
cp "$build/bench/search_floor" "$work/search_floor"
cd "$work"

# Runs a command under cachegrind; leaves per-function totals in $2.
count() { # output file, command...
    local out=$1
    shift
    valgrind --tool=cachegrind --cache-sim=no --cachegrind-out-file=cg.out "$@" >/dev/null 2>&1
    cg_annotate --threshold=0 cg.out 2>/dev/null |
        awk '/file:function/ {on = 1; getline; next} on && !NF {on = 0}
             on {count = $1; gsub(",", "", count); print count, $0}' >"$out"
}

total() { # cg.out -> every instruction of the run
    awk '/^summary:/ {print $2}' cg.out
}

sum_of() { # functions file, name pattern -> instructions in functions matching it
    awk -v pattern="$2" '$0 ~ pattern {sum += $1} END {print sum + 0}' "$1"
}

per_byte() { printf '%.1f' "$(echo "$1 / $bytes" | bc -l)"; }

echo "Instructions per input byte under cachegrind, first $bytes bytes of each input."
echo
echo '| input | `compress`, whole run | unbounded parse | frozen parse | tarnwel c, one core | tarnwel c, whole run | ratio to `compress` | tarnwel d, whole run |'
echo '|---|---:|---:|---:|---:|---:|---:|---:|'
for kind in text headers binaries random zeros; do
    file=$kind.input
    make_input "$kind" "$bytes" "$file"
    count compress.fn compress -c -f "$file"
    ncompress=$(total)
    count phases.fn ./search_floor --one-core "$file" "$file.tw"
    one_core=$(total)
    unbounded=$(sum_of phases.fn 'namespace[)]::search[(]|run_pass|new_string')
    frozen=$(sum_of phases.fn 'parse_frozen|parse_following|parse_oldest_block|parse_blocks|parse_handed_block|scout_block|run_second_thread|take_step|parse_from_restart|hand_over_block|restart_frozen|meets_scout|work_out_lengths|restart_following|long_length_of')
    count c.fn ./tarnwel c "$file" "$file.tw"
    whole=$(total)
    count d.fn ./tarnwel d "$file.tw" "$file.back"
    expand=$(total)
    cmp -s "$file" "$file.back" || { echo "$file: round trip FAILED" >&2; exit 1; }
    printf '| %s | %s | %s | %s | %s | %s | %.2f | %s |\n' "$kind" "$(per_byte "$ncompress")" \
        "$(per_byte "$unbounded")" "$(per_byte "$frozen")" "$(per_byte "$one_core")" \
        "$(per_byte "$whole")" \
        "$(echo "$whole / $ncompress" | bc -l)" "$(per_byte "$expand")"
    rm -f "$file.tw" "$file.back"
done

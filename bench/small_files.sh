#!/usr/bin/env bash
# Small files: 1,000 files of 1 KiB (cut from the manual pages), each
# compressed and then expanded by its own run, against ncompress's compress
# -c and compress -d -c on the same files, each writing a file. The two take
# turns, A B A B, and the medians of the rounds and their ratio are printed,
# with the page faults of one 1 KiB compression.
# Usage: bench/small_files.sh [ROUNDS] [WORK_DIR]   (TARNWEL=path overrides the binary)
# Needs root to install ncompress when it is missing.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/bench/inputs.sh"
rounds=${1:-5}
work=${2:-$(mktemp -d /tmp/tarnwel-small-XXXXXX)}
mkdir -p "$work"
command -v compress >/dev/null || install_missing ncompress
cp "${TARNWEL:-$root/build/tarnwel}" "$work/tarnwel"
cd "$work"

make_input text $((1000 << 10)) all
mkdir -p files
split -b 1024 -a 3 -d all files/f

seconds() { # command words run over every file -> seconds for all of them
    local start end
    start=$(date +%s.%N)
    "$@"
    end=$(date +%s.%N)
    echo "$end - $start" | bc
}
tarnwel_c() { for f in files/f???; do ./tarnwel c "$f" "$f.tw" >/dev/null; done; }
tarnwel_d() { for f in files/f???; do ./tarnwel d "$f.tw" "$f.back" >/dev/null; done; }
compress_c() { for f in files/f???; do compress -c "$f" >"$f.Z"; done; }
compress_d() { for f in files/f???; do compress -d -c "$f.Z" >"$f.nd"; done; }

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

: >c.t; : >cc.t; : >d.t; : >cd.t
for _ in $(seq 1 "$rounds"); do
    seconds tarnwel_c >>c.t
    seconds compress_c >>cc.t
    seconds tarnwel_d >>d.t
    seconds compress_d >>cd.t
done
# Every file of 1 KiB is compressed at width 11, so one bits.txt serves the
# timed expansions; each file is checked with its own run anyway.
for f in files/f???; do
    ./tarnwel c "$f" "$f.tw" >/dev/null && ./tarnwel d "$f.tw" "$f.back" >/dev/null
    cmp -s "$f" "$f.back" || { echo "$f: round trip FAILED" >&2; exit 1; }
done

tc=$(median <c.t); nc=$(median <cc.t); td=$(median <d.t); nd=$(median <cd.t)
faults=$(/usr/bin/time -f '%R' ./tarnwel c files/f000 one.tw 2>&1 >/dev/null | tail -n 1)
echo "1,000 files of 1 KiB, one run each; medians of $rounds rounds, seconds for all 1,000."
echo
echo '| | tarnwel | compress | ratio |'
echo '|---|------:|------:|------:|'
printf '| compress | %.3f | %.3f | %.2f |\n' "$tc" "$nc" "$(echo "$tc / $nc" | bc -l)"
printf '| expand | %.3f | %.3f | %.2f |\n' "$td" "$nd" "$(echo "$td / $nd" | bc -l)"
echo
echo "Page faults of one 1 KiB compression: $faults"

#!/usr/bin/env bash
# Round trips three large files through tarnwel and checks them by checksum:
# a sparse file past 4 GiB (the report's sizes need 64 bits), a 1 GiB file
# mixing text, headers, executables and random bytes built from what this
# machine has, and 100 MB of random bytes, whose dictionary still overflows
# at BITS 25 (the search must stop there and compress at 25). Prints, per file and direction, the sizes the run
# reported, the wall time and the peak memory. Needs about 6 GiB of disk.
# Usage: bench/big_files.sh [WORK_DIR]   (TARNWEL=path overrides the binary)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=${1:-$(mktemp -d /tmp/tarnwel-big-XXXXXX)}
mkdir -p "$work"
# A copy, so that rebuilding during the run does not change the program measured.
cp "${TARNWEL:-$root/build/tarnwel}" "$work/tarnwel.measured"
tarnwel=$work/tarnwel.measured
cd "$work"

make_inputs() {
    if [ ! -f sparse ]; then
        truncate -s 4700M sparse
        # A few islands of data so that not every string is a run of zeros.
        for offset in 1 1000 3000 4500; do
            head -c 1M /usr/include/stdio.h 2>/dev/null | dd of=sparse bs=1M seek="$offset" conv=notrunc status=none
        done
    fi
    [ -f random100 ] || head -c 100000000 /dev/urandom >random100
    if [ ! -f mixed ]; then
        local part=$((256 << 20))
        {
            find /usr/share/man -name '*.gz' -print0 | sort -z | xargs -0 zcat 2>/dev/null | head -c $part || true
            find /usr/include -name '*.h' -print0 | sort -z | xargs -0 cat 2>/dev/null | head -c $part || true
            find /usr/bin /usr/lib -type f -size +100k -print0 2>/dev/null | sort -z |
                xargs -0 cat 2>/dev/null | head -c $part || true
            head -c $part /dev/urandom
        } >mixed.tmp
        # Short parts (a small machine) are made up with more random bytes.
        size=$(stat -c %s mixed.tmp)
        head -c $(((1 << 30) - size)) /dev/urandom >>mixed.tmp
        mv mixed.tmp mixed
    fi
}

timed() { # label, then the tarnwel arguments
    local label=$1
    shift
    /usr/bin/time -f '%e %M' -o time.txt "$tarnwel" "$@" >messages.txt
    read -r seconds peak_kb <time.txt
    local sizes
    sizes=$(grep -o 'WHICH IS [0-9]* BYTES' messages.txt | awk '{print $3}' | paste -sd' ' - || true)
    printf '%-8s %-10s %8s s %8d MiB  BITS %-3s report sizes: %s\n' \
        "$label" "$2" "$seconds" $((peak_kb / 1024)) "$(cat bits.txt)" "${sizes:--}"
}

make_inputs
for file in random100 sparse mixed; do
    timed compress c "$file" "$file.z"
    timed expand d "$file.z" "$file.back"
    if cmp -s <(sha256sum <"$file") <(sha256sum <"$file.back"); then
        echo "$file: round trip OK ($(stat -c %s "$file") bytes, $(stat -c %s "$file.z") compressed)"
    else
        echo "$file: ROUND TRIP FAILED" >&2
        exit 1
    fi
    rm -f "$file.back"
done
# The random file overflows every trial up to 25 and is compressed at 25.
"$tarnwel" c random100 random100.z >messages.txt
if tail -n 7 messages.txt | head -n 3 | cmp -s - <(printf 'Testing for BITS = 25\n\nCompressing with BITS = 25 ...  \n'); then
    echo "random100: the search stopped at BITS 25 with no closing messages"
else
    echo "random100: UNEXPECTED search messages" >&2
    exit 1
fi

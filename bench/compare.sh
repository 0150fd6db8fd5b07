#!/usr/bin/env bash
# Compares tarnwel with the classic LZW compressor, ncompress's own programs
# both ways (compress -c and compress -d -c, each writing a file; Debian's
# uncompress is a script that runs gzip -d, so it is not used), on inputs
# built from this machine's files, side by side in one run, and prints
# medians, time ratios and peak memory against what the straightforward
# implementation in tests/reference (a table set per trial, never released)
# allocates.
#
# Usage: bench/compare.sh [--size MIB] [--runs N] [--scale] [--cold] [--baseline BINARY] [WORK_DIR]
#   --size MIB  size of each input (default 32)
#   --runs N    timed runs per command (default 5)
#   --scale     also time 1 GiB inputs against 32 MiB ones of the same kind
#   --cold      idle 3 s before every timed run, as a single run meets the
#               machine: memory freed by the previous run has gone back to
#               the host, and a program's fresh pages cost it more
#   --baseline BINARY  also time another build of tarnwel (say, of the commit
#               before a change) on the same inputs in the same run, and
#               print this build's times against it
# Needs root to install ncompress and hyperfine when they are missing.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/bench/inputs.sh"
size_mib=32
runs=5
scale=0
cold=()
work=""
baseline=""
while [ $# -gt 0 ]; do
    case $1 in
    --size) size_mib=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --scale) scale=1; shift ;;
    --cold) cold=(--prepare 'sleep 3'); shift ;;
    --baseline) baseline=$(realpath "$2"); shift 2 ;;
    *) work=$1; shift ;;
    esac
done
work=${work:-$(mktemp -d /tmp/tarnwel-bench-XXXXXX)}
mkdir -p "$work"

missing=()
command -v compress >/dev/null || missing+=(ncompress)
command -v hyperfine >/dev/null || missing+=(hyperfine)
install_missing "${missing[@]}"
copy_builds "$root" "$work" "$baseline"
baseline_rows=""
cd "$work"

median() { # hyperfine JSON file -> median seconds
    python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["results"][0]["median"])' "$1"
}

cpu() { # hyperfine JSON file -> mean user + system seconds (both cores' work)
    python3 -c 'import json,sys; r=json.load(open(sys.argv[1]))["results"][0]; print(r["user"] + r["system"])' "$1"
}

peak_kib() { # command... -> median peak resident KiB over 3 runs
    for _ in 1 2 3; do
        /usr/bin/time -f '%M' -o peak.txt "$@" >/dev/null 2>&1
        cat peak.txt
    done | sort -n | sed -n 2p
}

# Slot counts of the reference implementation's tables per width (9 bytes a slot).
tablesize=(317 317 317 317 317 317 317 317 317 631 1279 2557 5119 10223 20479 40949 81919
    163819 327673 655357 1310719 2621431 5242877 10485751 20971507 41943023)
reference_kib() { # mode, chosen bits, last trial bits -> KiB the reference allocates, base included
    local mode=$1 bits=$2 last=$3 slots=0 w
    if [ "$mode" = c ]; then
        for ((w = 12; w <= last; w++)); do slots=$((slots + tablesize[w])); done
    fi
    slots=$((slots + tablesize[bits]))
    echo $((slots * 9 / 1024 + base_kib))
}

measure() { # kind, file
    local kind=$1 file=$2
    hyperfine -N -w 1 -r "$runs" "${cold[@]}" --export-json t_c.json "./tarnwel c $file $file.tw" >/dev/null 2>&1
    # Each writes a file, as tarnwel does (hyperfine takes the shell's own
    # start from the times).
    hyperfine -w 1 -r "$runs" "${cold[@]}" --export-json n_c.json "compress -c -f $file > $file.nZ" >/dev/null 2>&1
    compress -c "$file" >"$file.Z"
    ./tarnwel c "$file" "$file.tw" >messages.txt
    local bits last
    bits=$(cat bits.txt)
    last=$(grep -c '^Testing for BITS' messages.txt)
    last=$((last + 11))
    hyperfine -N -w 1 -r "$runs" "${cold[@]}" --export-json t_d.json "./tarnwel d $file.tw $file.back" >/dev/null 2>&1
    hyperfine -w 1 -r "$runs" "${cold[@]}" --export-json n_d.json "compress -d -c $file.Z > $file.nd" >/dev/null 2>&1
    cmp -s "$file" "$file.nd" || { echo "$file: compress -d round trip FAILED" >&2; exit 1; }
    cmp -s "$file" "$file.back" || { echo "$file: round trip FAILED" >&2; exit 1; }
    local tc nc td nd mc md cpu_c cpu_d
    tc=$(median t_c.json); nc=$(median n_c.json); td=$(median t_d.json); nd=$(median n_d.json)
    cpu_c=$(cpu t_c.json); cpu_d=$(cpu t_d.json)
    mc=$(peak_kib ./tarnwel c "$file" "$file.tw")
    md=$(peak_kib ./tarnwel d "$file.tw" "$file.back")
    local dc dd
    dc=$(reference_kib c "$bits" "$last")
    dd=$(reference_kib d "$bits" "$bits")
    if [ -n "$baseline" ]; then
        hyperfine -N -w 1 -r "$runs" "${cold[@]}" --export-json b_c.json "./baseline c $file $file.btw" >/dev/null 2>&1
        hyperfine -N -w 1 -r "$runs" "${cold[@]}" --export-json b_d.json "./baseline d $file.tw $file.bback" >/dev/null 2>&1
        cmp -s "$file.tw" "$file.btw" || { echo "$file: the baseline's stream differs" >&2; exit 1; }
        local bc bd
        bc=$(median b_c.json); bd=$(median b_d.json)
        baseline_rows+=$(printf '| %-8s | %6.3f | %6.3f | %5.2f | %6.3f | %6.3f | %5.2f |' "$kind" \
            "$tc" "$bc" "$(echo "$tc / $bc" | bc -l)" "$td" "$bd" "$(echo "$td / $bd" | bc -l)")$'\n'
        rm -f "$file.btw" "$file.bback"
    fi
    printf '| %-8s | %3s | %6.3f | %6.3f | %6.3f | %5.2f | %6.3f | %6.3f | %6.3f | %5.2f | %5d / %5d = %4.2f | %5d / %5d = %4.2f |\n' \
        "$kind" "$bits" "$tc" "$cpu_c" "$nc" "$(echo "$tc / $nc" | bc -l)" "$td" "$cpu_d" "$nd" "$(echo "$td / $nd" | bc -l)" \
        $((mc / 1024)) $((dc / 1024)) "$(echo "$mc / $dc" | bc -l)" \
        $((md / 1024)) $((dd / 1024)) "$(echo "$md / $dd" | bc -l)"
    rm -f "$file.back" "$file.tw" "$file.Z" "$file.nZ" "$file.nd"
}

# What the process itself takes with a tiny input: the base both share.
printf 'a' >tiny
base_kib=$(peak_kib ./tarnwel c tiny tiny.tw)

bytes=$((size_mib << 20))
echo "Medians of $runs runs${cold[*]:+, each after 3 s idle}, ${size_mib} MiB inputs; seconds" \
    "(cpu: user + system, mean, both cores); memory in MiB (peak resident)."
echo
echo '| input    | BITS | tarnwel c | cpu c | compress | ratio | tarnwel d | cpu d | compress -d | ratio | memory c / reference | memory d / reference |'
echo '|----------|-----:|------:|------:|------:|------:|------:|------:|------:|------:|------:|------:|'
for kind in text headers binaries random; do
    make_input "$kind" "$bytes" "$kind.$size_mib"
    measure "$kind" "$kind.$size_mib"
done

if [ -n "$baseline" ]; then
    echo
    echo "This build against the baseline ($baseline), medians of the same runs:"
    echo
    echo '| input    | tarnwel c | baseline c | ratio | tarnwel d | baseline d | ratio |'
    echo '|----------|------:|------:|------:|------:|------:|------:|'
    printf '%s' "$baseline_rows"
fi

if [ "$scale" -eq 1 ]; then
    echo
    echo "Scaling: 1 GiB against ${size_mib} MiB of the same kind (medians of 3 runs, seconds)."
    echo "Both expanders write a file here, as writing 1 GiB costs this machine more than"
    echo "32 times writing 32 MiB."
    echo
    echo '| input | small c | 1 GiB c | ratio | small d | 1 GiB d | ratio | small compress -d | 1 GiB compress -d | ratio |'
    echo '|-------|------:|------:|------:|------:|------:|------:|------:|------:|------:|'
    for kind in text random; do
        make_input "$kind" $((1 << 30)) "$kind.1024"
        declare -A t=()
        for file in "$kind.$size_mib" "$kind.1024"; do
            compress -c "$file" >"$file.Z"
            hyperfine -N -r 3 --export-json s_c.json "./tarnwel c $file $file.tw" >/dev/null 2>&1
            hyperfine -N -r 3 --export-json s_d.json "./tarnwel d $file.tw $file.back" >/dev/null 2>&1
            hyperfine -r 3 --export-json s_u.json "compress -d -c $file.Z > $file.u" >/dev/null 2>&1
            t[$file.c]=$(median s_c.json)
            t[$file.d]=$(median s_d.json)
            t[$file.u]=$(median s_u.json)
            rm -f "$file.tw" "$file.back" "$file.Z" "$file.u"
        done
        small=$kind.$size_mib big=$kind.1024
        printf '| %s | %.3f | %.3f | %.1f | %.3f | %.3f | %.1f | %.3f | %.3f | %.1f |\n' "$kind" \
            "${t[$small.c]}" "${t[$big.c]}" "$(echo "${t[$big.c]} / ${t[$small.c]}" | bc -l)" \
            "${t[$small.d]}" "${t[$big.d]}" "$(echo "${t[$big.d]} / ${t[$small.d]}" | bc -l)" \
            "${t[$small.u]}" "${t[$big.u]}" "$(echo "${t[$big.u]} / ${t[$small.u]}" | bc -l)"
    done
fi

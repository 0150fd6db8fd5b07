#!/usr/bin/env bash
# Writes seed corpora for the fuzz targets into DIR/expand, DIR/round_trip,
# DIR/differential and DIR/interface.
# Usage: fuzz/make_corpus.sh TARNWEL_EXECUTABLE DIR
# Each seed's first byte picks the width (11 + byte % 15); the rest is the data.
set -euo pipefail
tarnwel=$(realpath "$1")
dir=$2
mkdir -p "$dir/expand" "$dir/round_trip" "$dir/differential" "$dir/interface"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

width_byte() { printf "\\x$(printf '%02x' $(($1 - 11)))"; }

# Known streams at width 11: empty input, "a", "aaaa".
{ width_byte 11; printf '\xff\xff'; } >"$dir/expand/empty"
{ width_byte 11; printf '\x0c\x3f'; } >"$dir/expand/one_byte"
{ width_byte 11; printf '\x0c\x24\x00\x30\xff'; } >"$dir/expand/four_a"

# Real streams at the widths the search picks for them.
sample() { # name, bytes of input
    case $1 in
    text) head -c "$2" /usr/share/common-licenses/GPL-3 2>/dev/null || yes 'the width of every code' | head -c "$2" ;;
    random) head -c "$2" /dev/urandom ;;
    zeros) head -c "$2" /dev/zero ;;
    esac
}
for sample_size in text:2000 text:20000 random:9000 random:30000 zeros:100000; do
    name=${sample_size%%:*}
    size=${sample_size##*:}
    sample "$name" "$size" >"$work/in"
    (cd "$work" && "$tarnwel" c in in.z >/dev/null)
    bits=$(cat "$work/bits.txt")
    { width_byte "$bits"; cat "$work/in.z"; } >"$dir/expand/${name}_${size}_at_${bits}"
    for seed_bits in 11 13 25; do
        { width_byte "$seed_bits"; head -c 4000 "$work/in"; } >"$dir/round_trip/${name}_${size}_at_${seed_bits}"
    done
done
# The differential target takes a width byte and a cap byte before the data.
for seed in "$dir"/round_trip/*; do
    { head -c 1 "$seed"; printf '\x01'; tail -c +2 "$seed"; } >"$dir/differential/$(basename "$seed")"
done
# The interface target takes a cap byte and a chunk byte (0: one byte at a
# time) before the data.
for seed in "$dir"/round_trip/*; do
    for chunk in 0 7 255; do
        { head -c 1 "$seed"; printf "\\x$(printf '%02x' "$chunk")"; tail -c +2 "$seed"; } \
            >"$dir/interface/$(basename "$seed")_chunks_$chunk"
    done
done
echo "seeds: $(ls "$dir/expand" | wc -l) expand, $(ls "$dir/round_trip" | wc -l) round trip," \
    "$(ls "$dir/differential" | wc -l) differential, $(ls "$dir/interface" | wc -l) interface"

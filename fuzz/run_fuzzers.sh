#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for SECONDS (default 60)
# from a freshly generated seed corpus. Fails on the first crash, hang or
# sanitizer report; the input that caused it is left in BUILD/artifacts/.
# Usage: fuzz/run_fuzzers.sh [SECONDS] [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
build=${2:-build-fuzz}

cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTARNWEL_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j2 --target tarnwel expand_fuzz round_trip_fuzz differential_fuzz interface_fuzz >/dev/null
rm -rf "$build/corpus"
# The seed streams come from a plain build: the sanitized one would be slow
# and, in a folder of its own, harmless either way.
fuzz/make_corpus.sh "$build/tarnwel" "$build/corpus"
mkdir -p "$build/artifacts"
for target in expand round_trip differential interface; do
    echo "fuzzing ${target} for ${seconds} s"
    "$build/fuzz/${target}_fuzz" "$build/corpus/$target" -max_total_time="$seconds" \
        -rss_limit_mb=4096 -timeout=60 -max_len=8192 -print_final_stats=1 \
        -artifact_prefix="$build/artifacts/${target}-" 2>&1 | grep -E '^(stat::|Done|==|SUMMARY)' || true
    # grep hides libFuzzer's progress lines; its own status decides.
    test "${PIPESTATUS[0]}" -eq 0
done

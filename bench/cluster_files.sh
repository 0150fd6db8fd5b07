#!/usr/bin/env bash
# Many files on a Dask cluster: 33 files of 1 to 3 MB (manual pages' text,
# headers and this machine's executables, eleven of each, cut from
# different places) compressed with tarnwel.compress_file by one process
# on one core, by two Dask workers on one core each (standing for two
# machines), by the command in a shell loop, and by two processes on one
# core each without Dask (what the machine gives two cores), taking turns;
# the medians in files a second and MB a second (bench/cluster_files.py).
# Run it when the machine is quiet (uptime): a busy one shows in the fourth
# way.
# Usage: bench/cluster_files.sh [ROUNDS] [WORK_DIR]   (TARNWEL=path overrides the binary)
# Needs Debian's python3-dask and python3-distributed (installed when
# missing, as root), and a build of the library and the command.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/bench/inputs.sh"
rounds=${1:-5}
work=${2:-$(mktemp -d /tmp/tarnwel-cluster-XXXXXX)}
mkdir -p "$work/files"
/usr/bin/python3 -c 'import distributed, fsspec' 2>/dev/null ||
    install_missing python3-dask python3-distributed python3-fsspec
if [ ! -f "$root/build/libtarnwel.so" ]; then
    cmake -S "$root" -B "$root/build" >/dev/null
    cmake --build "$root/build" -j2 --target tarnwel tarnwel_shared >/dev/null
fi

files=()
for kind in text headers binaries; do
    make_input "$kind" $((48 << 20)) "$work/$kind.all"
    for i in $(seq 0 10); do
        size=$((1000000 + i * 200000)) # 1 to 3 MB
        file="$work/files/$kind$i"
        dd if="$work/$kind.all" of="$file" bs=1M skip=$((i * 4000000)) count="$size" \
            iflag=skip_bytes,count_bytes status=none
        files+=("$file")
    done
done

cd "$work"
TARNWEL="${TARNWEL:-$root/build/tarnwel}" PYTHONPATH="$root/python" \
    TARNWEL_LIBRARY="$root/build/libtarnwel.so" PYTHONDONTWRITEBYTECODE=1 \
    /usr/bin/python3 "$root/bench/cluster_files.py" "$rounds" "$work" "${files[@]}"

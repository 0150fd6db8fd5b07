#!/usr/bin/env bash
# libtarnwel holds the codec and its C interface and nothing of the command:
# the shared library exports the interface alone, and the archive defines
# nothing outside the interface's names and the namespace the library keeps
# for itself (weak definitions that any C++ object emits for the standard
# library's templates aside), and none of the command's functions.
set -euo pipefail
build=$1

exported=$(nm -D --defined-only "$build/libtarnwel.so" | awk '{print $3}' | grep -v '^tarnwel_' || true)
if [ -n "$exported" ]; then
    echo "libtarnwel.so exports more than the interface:"; echo "$exported"; exit 1
fi

strong=$(nm --defined-only -g "$build/libtarnwel.a" 2>/dev/null |
    awk 'NF == 3 && $2 ~ /^[TDBRGS]$/ {print $3}')
foreign=$(echo "$strong" | grep -Ev '^tarnwel_|^_Z[A-Z]*NK?7tarnwel' || true)
if [ -n "$foreign" ]; then
    echo "libtarnwel.a defines names outside its own:"; echo "$foreign" | c++filt; exit 1
fi

# The command's own code: its files in the archive, or their functions.
members=$(ar t "$build/libtarnwel.a")
if echo "$members" | grep -E 'run_guard|console|command_line|files_|replacement|width_file|driver'; then
    echo "libtarnwel.a carries the command's code"; exit 1
fi
command_names=$(echo "$strong" | c++filt |
    grep -E 'install_interrupt_handlers|end_on_signal|clear_console|command_line|guard_new_version|open_new_version' || true)
if [ -n "$command_names" ]; then
    echo "libtarnwel.a defines the command's functions:"; echo "$command_names"; exit 1
fi
echo "libtarnwel.so exports $(nm -D --defined-only "$build/libtarnwel.so" | wc -l) names; libtarnwel.a defines $(echo "$strong" | wc -l) strong names, all its own"

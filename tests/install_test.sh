#!/usr/bin/env bash
# cmake --install puts the program and its manual page under the prefix, and
# the installed manual renders without warnings.
# Usage: install_test.sh BUILD_DIR
set -euo pipefail
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$1" --prefix "$prefix" >/dev/null
test -x "$prefix/bin/tarnwel"
test -f "$prefix/share/man/man1/tarnwel.1"
status=0
"$prefix/bin/tarnwel" >/dev/null || status=$?
test "$status" -eq 1
if command -v groff >/dev/null; then
    warnings=$(groff -man -ww -z "$prefix/share/man/man1/tarnwel.1" 2>&1)
    test -z "$warnings" || { echo "$warnings"; exit 1; }
fi
if command -v man >/dev/null; then
    MANWIDTH=80 man -l "$prefix/share/man/man1/tarnwel.1" 2>&1 | grep -q '^EXIT STATUS'
fi
echo "installed and rendered"

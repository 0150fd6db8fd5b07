#!/usr/bin/env bash
# No file in the tree holds a merge's conflict markers: the lines that open,
# split (in the three-way style) and close a conflict, each marker followed
# by a space and a name or by nothing. A line of seven equals signs alone is
# left out: it also underlines a Markdown heading.
set -euo pipefail
cd "$1"
# The tree may belong to another user (a clone checked as root).
git() { command git -c safe.directory="$PWD" "$@"; }
if ! git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    echo "not a git work tree: the tracked files are unknown, so nothing is checked"
    exit 77
fi
if git grep -I -n -E '^([<]{7}|[>]{7}|[|]{7})( |$)'; then
    echo "conflict markers above: finish the merge"
    exit 1
fi

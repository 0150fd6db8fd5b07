#!/usr/bin/env bash
# The Debian packages that cpack -G DEB made, installed for real with
# apt-get, used as a user would, and purged, which must leave nothing of
# theirs behind. Used means: the command's cases of the command-line suite
# run against /usr/bin/tarnwel (the same streams, messages and statuses as
# this build's), its manual page found by man, the C examples built through
# pkg-config and through find_package(tarnwel) with no search path given,
# giving what they give against this build's library, and the module
# imported by Debian's interpreter with no PYTHONPATH, making this build's
# streams. A trap purges the packages whatever fails.
# Usage: debian_packages_test.sh PACKAGE_DIR BUILD_DIR SOURCE_DIR TESTS_EXECUTABLE
# Exits 77 (skipped) where it cannot or must not install them.
set -euo pipefail
trap 'echo "failed: line $LINENO: $BASH_COMMAND"' ERR
packages=$1
build=$2
source=$3
tests=$4
skip() {
    echo "skipped: $*"
    exit 77
}
[ "$(id -u)" -eq 0 ] || skip "installing packages needs root"
command -v apt-get >/dev/null && command -v dpkg >/dev/null || skip "no apt-get or dpkg here"

names=(tarnwel libtarnwel1 libtarnwel-dev python3-tarnwel)
debs=()
for name in "${names[@]}"; do
    if dpkg-query -W "$name" >/dev/null 2>&1; then
        skip "$name is known to dpkg already, and this test would purge it"
    fi
    deb=$(find "$packages" -maxdepth 1 -name "${name}_*.deb" | head -n 1)
    [ -n "$deb" ] || { echo "no ${name}_*.deb in $packages"; exit 1; }
    debs+=("$(realpath "$deb")")
done

work=$(mktemp -d)
purge() {
    DEBIAN_FRONTEND=noninteractive apt-get purge -y "${names[@]}" >"$work/purge.log" 2>&1 ||
        { cat "$work/purge.log"; return 1; }
}
cleanup() {
    local status=$?
    if dpkg-query -W "${names[@]}" >/dev/null 2>&1; then purge || status=1; fi
    rm -rf "$work"
    exit $status
}
trap cleanup EXIT

# What was there before, so that the purge is judged only on what the
# packages brought (folders such as /usr/share/man/man1 stay).
for deb in "${debs[@]}"; do dpkg-deb --fsys-tarfile "$deb" | tar -t; done |
    sed -e 's|^\.||' -e 's|/$||' | sort -u >"$work/contents"
while read -r path; do
    [ -z "$path" ] || [ ! -e "$path" ] || echo "$path"
done <"$work/contents" >"$work/there-before"

DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${debs[@]}" \
    >"$work/install.log" 2>&1 || { cat "$work/install.log"; exit 1; }
dpkg -L "${names[@]}" | sort -u >"$work/installed"
outside=$(grep -v -e '^/\.$' -e '^/usr$' -e '^/usr/' "$work/installed" || true)
[ -z "$outside" ] || { echo "files outside /usr:"; echo "$outside"; exit 1; }

# The command: the cases that say what a user sees, against the packaged one.
TARNWEL_UNDER_TEST=/usr/bin/tarnwel "$tests" --gtest_brief=1 \
    --gtest_filter='CommandLine.*:OutputNames.*' >"$work/command.log" 2>&1 ||
    { cat "$work/command.log"; exit 1; }
if command -v man >/dev/null; then
    test "$(man -w tarnwel)" = /usr/share/man/man1/tarnwel.1.gz
else
    echo "man-db is not installed: the manual page is only looked for"
    test -f /usr/share/man/man1/tarnwel.1.gz
fi

# The C examples, found with no help; the same output as against this build.
cd "$work"
cc -Wall -Wextra -Werror -o built-here "$source/examples/round_trip.c" -I"$source/include" \
    -L"$build" -ltarnwel
LD_LIBRARY_PATH=$build ./built-here >expected
cc -Wall -Wextra -Werror -o with-pkg-config "$source/examples/round_trip.c" \
    $(pkg-config --cflags --libs tarnwel)
ldd with-pkg-config | grep -E '=> (/usr)?/lib/[^ ]*/libtarnwel\.so\.1 ' >/dev/null
./with-pkg-config | cmp - expected
cc -Wall -Wextra -Werror -o static "$source/examples/round_trip.c" \
    $(pkg-config --cflags tarnwel) $(pkg-config --static --libs tarnwel | sed 's/-ltarnwel/-l:libtarnwel.a/')
./static | cmp - expected
env -u CMAKE_PREFIX_PATH cmake -S "$source/examples" -B with-cmake >/dev/null
cmake --build with-cmake >/dev/null
with-cmake/round_trip | cmp - expected
with-cmake/stream_expand >/dev/null

# The module from Debian's interpreter alone; its stream is the command's.
head -c 300000 "$tests" >input
"$build/tarnwel" c input expected.tw >/dev/null
env -i PATH=/usr/bin:/bin /usr/bin/python3 -c '
import tarnwel, tarnwel._library as found
assert tarnwel.__file__ == "/usr/lib/python3/dist-packages/tarnwel/__init__.py", tarnwel.__file__
assert found.lib._name.startswith("/usr/lib/"), found.lib._name
data = open("input", "rb").read()
stream, width = tarnwel.compress(data)
assert stream == open("expected.tw", "rb").read(), "a stream other than the command makes"
assert width == int(open("bits.txt").read()), width
assert tarnwel.expand(stream, width) == data
'

purge
while read -r path; do
    if ! grep -qxF "$path" "$work/there-before" && { [ -e "$path" ] || [ -L "$path" ]; }; then
        echo "left behind: $path"
        left=1
    fi
done <"$work/installed"
[ -z "${left:-}" ]
echo "installed, used and purged: ${names[*]}; against /usr/bin/tarnwel: $(tail -n 3 "$work/command.log" | tr -s ' \n' ' ')"

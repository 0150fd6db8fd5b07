#!/usr/bin/env bash
# cmake --install puts libtarnwel under a prefix as other programs expect
# it: the C examples build against it through find_package and through
# pkg-config, and they and the Python example run; the shared library
# exports the interface's calls and nothing else; the Python module
# installed beside it imports and finds it with no help.
# Usage: library_install_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
libdir=$(dirname "$(find "$prefix" -name 'libtarnwel.so.*.*' | head -n 1)")
test -f "$prefix/include/tarnwel.h"
test -f "$libdir/libtarnwel.a"
readelf -d "$libdir/libtarnwel.so" | grep -q 'SONAME.*libtarnwel\.so\.1'
exported=$(nm -D --defined-only "$libdir/libtarnwel.so" | awk '{print $3}' | grep -v '^tarnwel_' || true)
test -z "$exported" || { echo "exported beside the interface:"; echo "$exported"; exit 1; }

# find_package(tarnwel) giving tarnwel::tarnwel.
cmake -S "$source/examples" -B "$work/with-cmake" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/with-cmake" >/dev/null
LD_LIBRARY_PATH=$libdir "$work/with-cmake/round_trip"
LD_LIBRARY_PATH=$libdir "$work/with-cmake/stream_expand"

# pkg-config, against the shared library and against the static one.
export PKG_CONFIG_PATH=$libdir/pkgconfig
cc -Wall -Wextra -Werror -o "$work/with-pkg-config" "$source/examples/round_trip.c" \
    $(pkg-config --cflags --libs tarnwel)
LD_LIBRARY_PATH=$libdir "$work/with-pkg-config"
cc -Wall -Wextra -Werror -o "$work/stream-with-pkg-config" "$source/examples/stream_expand.c" \
    $(pkg-config --cflags --libs tarnwel)
LD_LIBRARY_PATH=$libdir "$work/stream-with-pkg-config"
# The archive itself, and the C++ runtime and threads it needs.
private=$(pkg-config --static --libs-only-l tarnwel)
cc -Wall -Wextra -Werror -o "$work/static" "$source/examples/round_trip.c" \
    $(pkg-config --cflags tarnwel) "$libdir/libtarnwel.a" ${private/-ltarnwel/}
"$work/static"

python=${TARNWEL_PYTHON:-python3}
"$python" "$source/examples/round_trip.py" "$libdir/libtarnwel.so"

# The module from the prefix alone, run from elsewhere than the source tree.
module=$(find "$prefix" -path '*/dist-packages/tarnwel/__init__.py')
export PYTHONPATH=$(dirname "$(dirname "$module")") PYTHONDONTWRITEBYTECODE=1
(cd "$work" && env -u TARNWEL_LIBRARY PREFIX="$prefix" "$python" -c '
import os, tarnwel, tarnwel._library as found
data = b"installed " * 1000
stream, width = tarnwel.compress(data)
assert tarnwel.expand(stream, width) == data
assert found.lib._name.startswith(os.environ["PREFIX"]), found.lib._name
print("the installed module round-trips through", found.lib._name)
' )
env -u TARNWEL_LIBRARY "$python" "$source/examples/read_log.py" "$work"

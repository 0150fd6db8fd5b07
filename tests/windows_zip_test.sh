#!/usr/bin/env bash
# The Windows zip that cpack -G ZIP made, unpacked and used under wine as on
# a bare Windows: it holds the command, the DLL, its import library, the
# header, the README and the licence; nothing in it needs a DLL that Windows
# lacks (the C++ runtime and threads are linked in); the DLL exports the C
# interface alone; tarnwel.exe round-trips and makes this build's stream;
# and a C program cross-built against the import library runs against the
# DLL, printing what it prints against this build's library.
# Usage: windows_zip_test.sh ZIP BUILD_DIR SOURCE_DIR
# The environment gives WINE (with WINEPREFIX) and MINGW_CC, the cross compiler.
set -euo pipefail
trap 'echo "failed: line $LINENO: $BASH_COMMAND"' ERR
zip=$1
build=$2
source=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
cmake -E tar xf "$zip"
top=$(find "$work" -mindepth 1 -maxdepth 1 -type d)
for file in bin/tarnwel.exe bin/libtarnwel.dll lib/libtarnwel.dll.a include/tarnwel.h README.md LICENSE; do
    test -f "$top/$file" || { echo "the zip lacks $file"; exit 1; }
done

objdump=${MINGW_CC%-gcc*}-objdump
for binary in bin/tarnwel.exe bin/libtarnwel.dll; do
    runtime=$("$objdump" -p "$top/$binary" | grep 'DLL Name' | grep -iE 'libstdc|libgcc|pthread' || true)
    [ -z "$runtime" ] || { echo "$binary needs DLLs that Windows lacks:"; echo "$runtime"; exit 1; }
done
exported=$("$objdump" -p "$top/bin/libtarnwel.dll" |
    sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | awk 'NR > 1 && NF {print $NF}')
[ -n "$exported" ] || { echo "libtarnwel.dll exports nothing"; exit 1; }
foreign=$(echo "$exported" | grep -v '^tarnwel_' || true)
[ -z "$foreign" ] || { echo "libtarnwel.dll exports more than the interface:"; echo "$foreign"; exit 1; }

head -c 300000 "$build/tarnwel" >input
mkdir linux
(cd linux && "$build/tarnwel" c ../input expected.tw >/dev/null)
$WINE "$top/bin/tarnwel.exe" c input stream.tw >/dev/null
cmp stream.tw linux/expected.tw
cmp bits.txt linux/bits.txt
$WINE "$top/bin/tarnwel.exe" d stream.tw back >/dev/null
cmp back input

cc -Wall -Wextra -Werror -o built-here "$source/examples/round_trip.c" -I"$source/include" \
    -L"$build" -ltarnwel
LD_LIBRARY_PATH=$build ./built-here >expected
# Beside the DLL, where Windows looks for it first.
"$MINGW_CC" -Wall -Wextra -Werror -o "$top/bin/round_trip.exe" "$source/examples/round_trip.c" \
    -I"$top/include" "$top/lib/libtarnwel.dll.a"
"$objdump" -p "$top/bin/round_trip.exe" | grep 'DLL Name: libtarnwel.dll' >/dev/null
$WINE "$top/bin/round_trip.exe" | tr -d '\r' | cmp - expected
echo "the zip's command and library work under wine"

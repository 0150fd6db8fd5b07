"""How often a stream made from ordinary files reads whole at more than one
width: the front of files picked at random under /usr, compressed as the
command compresses (at the width its search chooses) and, for the shortest
fronts, at every width from 11 to 25, each stream then scanned
(tarnwel_scan_widths). Prints, by stream size, how many streams there were,
how many fit more than one width, and how many missed their own (none
should).

Run: PYTHONPATH=python TARNWEL_LIBRARY=build/libtarnwel.so.1 \\
         python3 bench/width_odds.py [FILES]     (FILES: 600 when not given)
"""

import collections
import ctypes
import os
import random
import sys

import tarnwel
from tarnwel import _library, _widths

ROOTS = ("/usr/share/man", "/usr/include", "/usr/bin", "/usr/share/doc", "/usr/lib/python3")
FRONTS = list(range(1, 33)) + [40, 48, 64, 96, 128, 192, 256, 512, 1024, 4096, 16384, 65536]
# Fronts this short are compressed at every width as well.
EVERY_WIDTH_UP_TO = 24


def widths_of(stream):
    mask = ctypes.c_uint(0)
    data = ctypes.create_string_buffer(stream, len(stream))
    status = _library.lib.tarnwel_scan_widths(data, len(stream), ctypes.byref(mask))
    assert status == _library.OK
    return _widths.widths_in(mask.value)


def size_class(size):
    low = 1
    while low * 2 <= size:
        low *= 2
    return low


def picked_files(count):
    files = []
    for root in ROOTS:
        for folder, _, names in os.walk(root):
            for name in names:
                path = os.path.join(folder, name)
                if os.path.isfile(path) and not os.path.islink(path):
                    files.append(path)
    random.Random(40).shuffle(files)
    return files[:count]


def count(table, stream, width):
    fits = widths_of(stream)
    row = table[size_class(len(stream))]
    row[0] += 1
    row[1] += len(fits) > 1
    row[2] += width not in fits


def main():
    files = picked_files(int(sys.argv[1]) if len(sys.argv) > 1 else 600)
    searched = collections.defaultdict(lambda: [0, 0, 0])
    every_width = collections.defaultdict(lambda: [0, 0, 0])
    for path in files:
        try:
            with open(path, "rb") as f:
                data = f.read(max(FRONTS))
        except OSError:
            continue
        for front in sorted({len(data[:n]) for n in FRONTS}):
            stream, width = tarnwel.compress(data[:front])
            count(searched, stream, width)
            if front <= EVERY_WIDTH_UP_TO:
                for width in range(tarnwel.MIN_WIDTH, tarnwel.MAX_WIDTH + 1):
                    count(every_width, tarnwel.compress(data[:front], width=width)[0], width)
    print(f"{len(files)} files")
    for title, table in (("at the search's width", searched),
                         (f"fronts of up to {EVERY_WIDTH_UP_TO} bytes at every width",
                          every_width)):
        print(f"\n{title}\n| stream bytes | streams | fit more than one width | miss their own |")
        print("|---|---|---|---|")
        for low in sorted(table):
            streams, several, missed = table[low]
            print(f"| {low}–{2 * low - 1} | {streams} | {several} | {missed} |")


main()

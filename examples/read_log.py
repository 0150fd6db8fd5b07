#!/usr/bin/env python3
"""Writes a log compressed with the tarnwel module, then reads it back a
line at a time and counts its errors: the worked example of
docs/library.md, runnable. The module must be importable (installed, or
on PYTHONPATH); the file is made in the folder given, else the current one."""
import os
import sys

import tarnwel

folder = sys.argv[1] if len(sys.argv) > 1 else "."
path = os.path.join(folder, "app.log.tw")
lines = [f"request {i} {'ERROR' if i % 7 == 0 else 'INFO'} done\n" for i in range(20000)]

with tarnwel.open(path, "wt", encoding="utf-8") as out:
    out.writelines(lines)

errors = 0
with tarnwel.open(path, "rt", encoding="utf-8") as log:
    for line in log:
        if " ERROR " in line:
            errors += 1
if errors != sum(" ERROR " in line for line in lines):
    sys.exit("the lines read back differ from those written")
print(f"{len(lines)} lines, {errors} errors, {os.path.getsize(path)} bytes compressed")

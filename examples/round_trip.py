#!/usr/bin/env python3
"""Compresses a buffer with libtarnwel through ctypes, expands it back and
checks that the bytes match; standard library only. The library is the path
given as the first argument, else whatever the system finds as "tarnwel"."""
import ctypes
import ctypes.util
import sys

path = sys.argv[1] if len(sys.argv) > 1 else ctypes.util.find_library("tarnwel")
if path is None:
    sys.exit("libtarnwel not found; give its path as the first argument")
lib = ctypes.CDLL(path)

size_t = ctypes.c_size_t
lib.tarnwel_status_name.restype = ctypes.c_char_p
lib.tarnwel_status_name.argtypes = [ctypes.c_int]
lib.tarnwel_version_string.restype = ctypes.c_char_p
lib.tarnwel_compress_bound.restype = size_t
lib.tarnwel_compress_bound.argtypes = [size_t]
lib.tarnwel_compress.argtypes = [ctypes.c_void_p, size_t, ctypes.c_void_p, size_t, ctypes.c_int,
                                 ctypes.POINTER(size_t), ctypes.POINTER(ctypes.c_int)]
lib.tarnwel_expand.argtypes = [ctypes.c_void_p, size_t, ctypes.c_int, ctypes.c_void_p, size_t,
                               ctypes.POINTER(size_t)]


def check(call, status):
    if status != 0:
        sys.exit(f"{call}: {lib.tarnwel_status_name(status).decode()}")


def compress(data, max_width=25):
    out = ctypes.create_string_buffer(lib.tarnwel_compress_bound(len(data)))
    out_size, width = size_t(), ctypes.c_int()
    check("tarnwel_compress", lib.tarnwel_compress(data, len(data), out, len(out), max_width,
                                                   ctypes.byref(out_size), ctypes.byref(width)))
    return out.raw[:out_size.value], width.value


def expand(stream, width, size):
    out = ctypes.create_string_buffer(size)
    out_size = size_t()
    check("tarnwel_expand", lib.tarnwel_expand(stream, len(stream), width, out, len(out),
                                               ctypes.byref(out_size)))
    return out.raw[:out_size.value]


data = b"".join(b"line %d of a small example\n" % (i % 50) for i in range(2000))
stream, width = compress(data)
back = expand(stream, width, len(data))
if back != data:
    sys.exit("the expanded bytes differ from the input")
print(f"libtarnwel {lib.tarnwel_version_string().decode()}: {len(data)} bytes -> "
      f"{len(stream)} at width {width} -> {len(back)}, the same")

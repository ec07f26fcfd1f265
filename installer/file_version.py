#!/usr/bin/env python3
"""Prints the binary file version of a Windows module (the fixed part of its
version resource, after the signature 0xFEEF04BD) as a.b.c.d; 0.0.0.0 when
the module has none."""
import struct
import sys


def file_version(path):
    data = open(path, "rb").read()
    at = data.find(struct.pack("<I", 0xFEEF04BD))
    ms, ls = struct.unpack_from("<II", data, at + 8) if at >= 0 else (0, 0)
    return "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: file_version.py MODULE")
    print(file_version(sys.argv[1]))

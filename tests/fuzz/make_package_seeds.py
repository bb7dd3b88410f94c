#!/usr/bin/env python3
"""Writes the seed packages of fuzz_package_reader: small sound packages of each shape."""
import os
import struct
import sys
import zlib


def entry(name, data=None):
    raw = name + b"\0"
    head = struct.pack("<H", len(raw)) + raw
    if data is None:
        return head + struct.pack("<iI", -1, 0)
    z = zlib.compress(data, 9)
    return head + struct.pack("<iI", len(data), len(z)) + struct.pack("<Q", 0x01D8000000000000) + z


def package(entries, image=b"MZ" + b"\0" * 30):
    return image + b"".join(entries) + b"\0\0\0\0" + struct.pack("<I", len(image))


seeds = {
    "empty": package([]),
    "setup": package([entry(b"install.env", b"TITLEBAR\tt|1\r\n"), entry(b"readme.txt", b"")]),
    "folders": package([entry(b"data\\"), entry(b"data\\\x95\x5c\\"), entry(b"data\\\x95\x5c\\a.dat", b"x" * 300)]),
    "blocks": package([entry(b"big.dat", bytes(range(256)) * 1100)]),
}
out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "seeds", "fuzz_package_reader")
os.makedirs(out, exist_ok=True)
for name, data in seeds.items():
    with open(os.path.join(out, name), "wb") as f:
        f.write(data)

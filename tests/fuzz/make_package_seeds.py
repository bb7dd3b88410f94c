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


def delta(name, old, records, result):
    """A delta entry: old file's and result's size and SHA-256, then the records' zlib stream."""
    import hashlib
    raw = name + b"\0"
    head = struct.pack("<H", len(raw)) + raw
    data = (struct.pack("<Q", len(old)) + hashlib.sha256(old).digest() + struct.pack("<Q", len(result)) +
            hashlib.sha256(result).digest() + zlib.compress(records, 9))
    return head + struct.pack("<iI", -2, len(data)) + struct.pack("<Q", 0x01D8000000000000) + data


def package(entries, image=b"MZ" + b"\0" * 30):
    return image + b"".join(entries) + b"\0\0\0\0" + struct.pack("<I", len(image))


seeds = {
    "empty": package([]),
    "setup": package([entry(b"install.env", b"TITLEBAR\tt|1\r\n"), entry(b"readme.txt", b"")]),
    "folders": package([entry(b"data\\"), entry(b"data\\\x95\x5c\\"), entry(b"data\\\x95\x5c\\a.dat", b"x" * 300)]),
    "blocks": package([entry(b"big.dat", bytes(range(256)) * 1100)]),
    # Copy 4 old bytes, add 3, add differences to 2 old bytes, end; two old versions of one file.
    "deltas": package([delta(b"a.dat", b"0123456789", b"\x01\x04\x00\x02\x03new\x03\x02\x04\x01\x01\x00", b"0123new78"),
                       delta(b"a.dat", b"abcdefghij", b"\x01\x0a\x00\x00", b"abcdefghij")]),
}
out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "seeds", "fuzz_package_reader")
os.makedirs(out, exist_ok=True)
for name, data in seeds.items():
    with open(os.path.join(out, name), "wb") as f:
        f.write(data)

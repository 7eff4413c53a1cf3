#!/usr/bin/env python3
"""Writes a deterministic set of mixed files for the extraction benchmarks.

    gen_mixed.py FOLDER MEGABYTES

The files hold, in turns: text, structured binary (tables of little-endian numbers, as
in executables), already-compressed data, random bytes and long runs. The same arguments
always give the same bytes, so archives made from them compare across runs and machines.
"""
import os
import random
import struct
import sys
import zlib

WORDS = ("the archive entry window of and data stub folder Deflate bytes code table "
         "extract destination password progress cancel overwrite file name size time "
         "setup install command run wait delete attribute version header record").split()


def text(rng, size):
    out = []
    total = 0
    while total < size:
        line = " ".join(rng.choice(WORDS) for _ in range(rng.randint(4, 14)))
        if rng.random() < 0.2:
            line += " %d" % rng.randint(0, 10**6)
        line += ".\n"
        out.append(line)
        total += len(line)
    return "".join(out).encode()[:size]


def structured(rng, size):
    out = bytearray()
    base = rng.randint(0, 1 << 20)
    while len(out) < size:
        kind = rng.randint(0, 2)
        if kind == 0:  # ascending offsets
            for i in range(256):
                out += struct.pack("<I", base + i * rng.choice((4, 8, 16, 24)))
        elif kind == 1:  # records with small fields
            for _ in range(128):
                out += struct.pack("<HHIh", rng.randint(0, 40), rng.randint(0, 3), rng.randint(0, 5000),
                                   rng.randint(-100, 100))
        else:  # code-like bytes with repeated short patterns
            pattern = rng.randbytes(rng.randint(3, 12))
            for _ in range(rng.randint(20, 200)):
                out += pattern if rng.random() < 0.6 else rng.randbytes(rng.randint(1, 6))
    return bytes(out[:size])


def compressed(rng, size):
    out = bytearray()
    while len(out) < size:
        out += zlib.compress(text(rng, 256 * 1024), 9)
    return bytes(out[:size])


def runs(rng, size):
    out = bytearray()
    while len(out) < size:
        out += bytes([rng.randint(0, 255)]) * rng.randint(100, 100000)
    return bytes(out[:size])


KINDS = (("text", text, 0.40), ("binary", structured, 0.30), ("compressed", compressed, 0.15),
         ("random", lambda rng, n: rng.randbytes(n), 0.05), ("runs", runs, 0.10))


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    folder, megabytes = sys.argv[1], float(sys.argv[2])
    os.makedirs(folder, exist_ok=True)
    rng = random.Random(20261208)
    total = int(megabytes * 1024 * 1024)
    index = 0
    for name, make, share in KINDS:
        left = int(total * share)
        while left > 0:
            size = min(left, rng.randint(64 * 1024, 8 * 1024 * 1024))
            with open(os.path.join(folder, "%03d-%s.dat" % (index, name)), "wb") as f:
                f.write(make(rng, size))
            left -= size
            index += 1


if __name__ == "__main__":
    main()

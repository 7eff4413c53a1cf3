#!/usr/bin/env python3
"""Moves a PE image's headers up behind the 64-byte DOS header, dropping the DOS program
that the linker puts in between, and packs the sections' raw data behind the shorter
headers. The stub's headers then fit one 512-byte file block instead of two. Every RVA,
size and the section order stay as the linker made them; only file positions move (and
the image checksum, recomputed).

usage: pe_drop_dos_stub.py IMAGE (rewritten in place)
"""
import struct
import sys

DOS_HEADER = 64


def align(value, to):
    return (value + to - 1) // to * to


def main(path):
    with open(path, "rb") as f:
        image = bytearray(f.read())
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    if image[:2] != b"MZ" or image[pe:pe + 4] != b"PE\0\0":
        sys.exit(f"{path}: not a PE image")
    sections, = struct.unpack_from("<H", image, pe + 6)
    optional_size, = struct.unpack_from("<H", image, pe + 20)
    optional = pe + 24
    file_alignment, = struct.unpack_from("<I", image, optional + 36)
    table = optional + optional_size
    headers_end = table + 40 * sections
    if pe == DOS_HEADER:
        return  # already done

    new_pe = DOS_HEADER
    new_headers_size = align(new_pe + (headers_end - pe), file_alignment)
    out = bytearray(image[:DOS_HEADER])
    struct.pack_into("<I", out, 0x3C, new_pe)
    out += image[pe:headers_end]
    out += bytes(new_headers_size - len(out))
    new_table = new_pe + (table - pe)
    new_optional = new_pe + 24
    struct.pack_into("<I", out, new_optional + 60, new_headers_size)  # SizeOfHeaders

    end_of_raw = 0
    for i in range(sections):
        entry = new_table + 40 * i
        raw_size, raw_pointer = struct.unpack_from("<II", out, entry + 16)
        if raw_size == 0:
            continue
        new_pointer = len(out)
        out += image[raw_pointer:raw_pointer + raw_size]
        struct.pack_into("<I", out, entry + 20, new_pointer)
        end_of_raw = max(end_of_raw, raw_pointer + raw_size)
    if end_of_raw != len(image):
        sys.exit(f"{path}: data behind the last section ({len(image) - end_of_raw} bytes); not rewritten")
    struct.pack_into("<I", out, new_optional + 64, checksum(out, new_optional + 64))
    with open(path, "wb") as f:
        f.write(out)


def checksum(image, field):
    """The PE image checksum: 16-bit one's-complement sum of the file (its own field taken
    as zero), folded, plus the file's length."""
    data = image[:field] + b"\0\0\0\0" + image[field + 4:]
    if len(data) % 2:
        data += b"\0"
    total = 0
    for (word,) in struct.iter_unpack("<H", data):
        total += word
        total = (total & 0xFFFF) + (total >> 16)
    return (total & 0xFFFF) + len(image)


if __name__ == "__main__":
    main(sys.argv[1])

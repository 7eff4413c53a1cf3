#!/usr/bin/env python3
"""Writes a ZIP with stored entries whose names are given byte for byte, so tests can make
names that archivers refuse to write (parent references, drive letters, code page 932).

usage: mkzip.py OUT.zip NAME SOURCE [NAME SOURCE]...
  NAME    the stored name; \\xNN escapes give raw bytes; a name prefixed "cp932:" is
          encoded in code page 932
  SOURCE  =TEXT (literal bytes) | @PATH (a file's bytes) | zeros:N | dir (a folder entry)
"""
import struct
import sys
import zlib

DOS_TIME = (12 << 11) | (34 << 5) | (56 // 2)          # 12:34:56
DOS_DATE = ((2003 - 1980) << 9) | (1 << 5) | 2          # 2 January 2003


def name_bytes(text):
    if text.startswith("cp932:"):
        return text[len("cp932:"):].encode("cp932")
    return text.encode("latin-1", "backslashreplace").decode("unicode_escape").encode("latin-1")


def data_of(source):
    if source == "dir":
        return b""
    if source.startswith("="):
        return source[1:].encode()
    if source.startswith("@"):
        with open(source[1:], "rb") as f:
            return f.read()
    if source.startswith("zeros:"):
        return bytes(int(source[len("zeros:"):]))
    raise SystemExit("unknown source: " + source)


def main(argv):
    if len(argv) < 2 or len(argv) % 2 != 0:
        raise SystemExit(__doc__)
    out = argv[1]
    local, central = bytearray(), bytearray()
    pairs = list(zip(argv[2::2], argv[3::2]))
    for name_text, source in pairs:
        name, data = name_bytes(name_text), data_of(source)
        crc = zlib.crc32(data) & 0xFFFFFFFF
        attributes = 0x10 if source == "dir" else 0x20
        offset = len(local)
        local += struct.pack("<4sHHHHHIIIHH", b"PK\x03\x04", 10, 0, 0, DOS_TIME, DOS_DATE,
                             crc, len(data), len(data), len(name), 0) + name + data
        central += struct.pack("<4sBBHHHHHIIIHHHHHII", b"PK\x01\x02", 20, 0, 10, 0, 0, DOS_TIME,
                               DOS_DATE, crc, len(data), len(data), len(name), 0, 0, 0, 0,
                               attributes, offset) + name
    end = struct.pack("<4sHHHHIIH", b"PK\x05\x06", 0, 0, len(pairs), len(pairs), len(central),
                      len(local), 0)
    with open(out, "wb") as f:
        f.write(local + central + end)


if __name__ == "__main__":
    main(sys.argv)

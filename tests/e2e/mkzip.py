#!/usr/bin/env python3
"""Writes a ZIP with stored entries whose names are given byte for byte, so tests can make
names that archivers refuse to write (parent references, drive letters, code page 932).

usage: mkzip.py OUT.zip NAME SOURCE [NAME SOURCE]...
  NAME    the stored name; \\xNN escapes give raw bytes; a name prefixed "cp932:" is
          encoded in code page 932
  SOURCE  =TEXT (literal bytes) | @PATH (a file's bytes) | zeros:N | dir (a folder entry)
          | hole:N (N zero bytes left unwritten: a sparse file)
          A SOURCE may begin with {key=value,...} to state what the data does not say:
          attr (external attributes), method (the data is then taken as compressed),
          size (the uncompressed size declared), crc (the CRC-32 declared).
Sizes and offsets that do not fit 32 bits go into ZIP64 fields and end records.
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


def zeros_crc(count):
    crc, chunk = 0, bytes(1 << 22)
    while count > 0:
        crc = zlib.crc32(chunk[:min(count, len(chunk))], crc)
        count -= min(count, len(chunk))
    return crc


def main(argv):
    if len(argv) < 2 or len(argv) % 2 != 0:
        raise SystemExit(__doc__)
    central = bytearray()
    pairs = list(zip(argv[2::2], argv[3::2]))
    with open(argv[1], "wb") as f:
        for name_text, source in pairs:
            name = name_bytes(name_text)
            options = {}
            if source.startswith("{"):
                text, source = source[1:].split("}", 1)
                options = {k: int(v, 0) for k, v in (item.split("=") for item in text.split(","))}
            hole = int(source[len("hole:"):]) if source.startswith("hole:") else 0
            data = b"" if hole else data_of(source)
            size = hole or len(data)
            method = options.get("method", 0)
            crc = options.get("crc", (zeros_crc(hole) if hole else zlib.crc32(data)) & 0xFFFFFFFF)
            plain = options.get("size", size)
            attributes = options.get("attr", 0x10 if source == "dir" else 0x20)
            offset = f.tell()
            big = size >= 0xFFFFFFFF or offset >= 0xFFFFFFFF
            field = lambda *values: struct.pack("<HH", 1, 8 * len(values)) + struct.pack("<%dQ" % len(values), *values)
            extra = field(plain, size) if big else b""
            stated, declared = (0xFFFFFFFF, 0xFFFFFFFF) if big else (size, plain)
            f.write(struct.pack("<4sHHHHHIIIHH", b"PK\x03\x04", 45 if big else 20, 0, method, DOS_TIME, DOS_DATE,
                                crc, stated, declared, len(name), len(extra)) + name + extra + data)
            f.seek(hole, 1)
            extra = field(plain, size, offset) if big else b""
            central += struct.pack("<4sBBHHHHHIIIHHHHHII", b"PK\x01\x02", 45, 0, 45 if big else 20, 0, method,
                                   DOS_TIME, DOS_DATE, crc, stated, declared, len(name), len(extra), 0, 0, 0,
                                   attributes, 0xFFFFFFFF if big else offset) + name + extra
        directory = f.tell()
        f.write(central)
        count = len(pairs)
        if f.tell() >= 0xFFFFFFFF:
            record = f.tell()
            f.write(struct.pack("<4sQHHIIQQQQ", b"PK\x06\x06", 44, 45, 45, 0, 0, count, count, len(central),
                                directory))
            f.write(struct.pack("<4sIQI", b"PK\x06\x07", 0, record, 1))
            directory = 0xFFFFFFFF
        f.write(struct.pack("<4sHHHHIIH", b"PK\x05\x06", 0, 0, count, count, len(central), directory, 0))


if __name__ == "__main__":
    main(sys.argv)

#!/usr/bin/env python3
"""Joins the entries of several ZIP files into one, copying each entry's compressed (and
encrypted) bytes as they are, so one archive can hold entries that different tools wrote.

usage: mergezip.py OUT.zip IN.zip...
"""
import struct
import sys
import zipfile


def entries(path):
    with open(path, "rb") as f:
        data = f.read()
    with zipfile.ZipFile(path) as z:
        for info in z.infolist():
            at = info.header_offset
            (_, version, flags, method, time, date, _, _, _, name_length,
             extra_length) = struct.unpack_from("<4sHHHHHIIIHH", data, at)
            name = data[at + 30:at + 30 + name_length]
            start = at + 30 + name_length + extra_length
            body = data[start:start + info.compress_size]
            yield (version, flags, method, time, date, info.CRC, info.file_size, name, body,
                   info.external_attr & 0xFF)


def main(argv):
    if len(argv) < 3:
        raise SystemExit(__doc__)
    local, central, count = bytearray(), bytearray(), 0
    for path in argv[2:]:
        for version, flags, method, time, date, crc, size, name, body, attributes in entries(path):
            offset = len(local)
            local += struct.pack("<4sHHHHHIIIHH", b"PK\x03\x04", version, flags, method, time, date,
                                 crc, len(body), size, len(name), 0) + name + body
            central += struct.pack("<4sBBHHHHHIIIHHHHHII", b"PK\x01\x02", 20, 0, version, flags,
                                   method, time, date, crc, len(body), size, len(name), 0, 0, 0, 0,
                                   attributes, offset) + name
            count += 1
    end = struct.pack("<4sHHHHIIH", b"PK\x05\x06", 0, 0, count, count, len(central), len(local), 0)
    with open(argv[1], "wb") as f:
        f.write(local + central + end)


if __name__ == "__main__":
    main(sys.argv)

#!/usr/bin/env python3
"""Packs a PE image as the linker made it into fewer 512-byte file blocks, without moving
anything that code refers to:

 - the import lookup tables, which the linker script put last in their section, are cut
   off: each import descriptor names none (0), and the loader then reads the names from
   the import address table, which holds the same entries until it fills them in.
 - the resources and the base relocations move behind the data of the section before them
   (the import tables and read-only data), which becomes read-only: the loader makes the
   import address table writable while it fills it. Only the resource data entries hold
   addresses of their own (RVAs); the resources' data is packed behind the tree at 4-byte
   boundaries (the resource compiler's are 8) and the entries follow it; the data
   directories follow the sections. Each section saved is a partly filled file block saved.
 - the headers move up behind the 64-byte DOS header, dropping the DOS program in between,
   so that they fit one file block.

Every other RVA, size and the order of what remains stay as the linker made them; the
image checksum is recomputed.

usage: pe_compact.py IMAGE (rewritten in place)
"""
import struct
import sys

DOS_HEADER = 64
SECTION_HEADER = 40
FOLDED = {".rsrc": 2, ".reloc": 5}  # section: its data directory
IMPORT_DIRECTORY, IMPORT_DESCRIPTOR = 1, 20
FOLD_ALIGNMENT = 4  # the resource tree's, its data's (as packed here) and the relocation blocks'
INITIALIZED_DATA, MEM_EXECUTE, MEM_READ, MEM_WRITE = 0x40, 0x20000000, 0x40000000, 0x80000000


def align(value, to):
    return (value + to - 1) // to * to


class Section:
    def __init__(self, header):
        self.header = bytearray(header)
        self.name = header[:8].rstrip(b"\0").decode()
        self.virtual_size, self.rva, self.raw_size, self.raw_pointer = struct.unpack_from("<IIII", header, 8)
        self.flags, = struct.unpack_from("<I", header, 36)
        self.data = b""

    def packed(self, raw_pointer, file_alignment):
        raw_size = align(len(self.data), file_alignment)
        struct.pack_into("<IIII", self.header, 8, self.virtual_size, self.rva, raw_size, raw_pointer if raw_size else 0)
        struct.pack_into("<I", self.header, 36, self.flags)
        return bytes(self.header)


def pack_resources(data, old_rva, new_rva):
    """The resource section `data` (which starts at `old_rva`) for `new_rva`: the tree as it
    is, then each resource's data in the same order, each at the next 4-byte boundary (a
    dialog template's alignment, and more than any other resource needs), with the data
    entries' RVAs to match."""
    entries = []

    def walk(table):
        named, numbered = struct.unpack_from("<HH", data, table + 12)
        for i in range(named + numbered):
            _, target = struct.unpack_from("<II", data, table + 16 + 8 * i)
            if target & 0x80000000:
                walk(target & 0x7FFFFFFF)
            else:
                entries.append(target)
    walk(0)
    entries.sort(key=lambda entry: struct.unpack_from("<I", data, entry)[0])
    start = struct.unpack_from("<I", data, entries[0])[0] - old_rva
    if max(entries) + 16 > start:
        sys.exit("the resource data does not all follow the resource tree; not rewritten")
    packed = bytearray(data[:start])
    for entry in entries:
        at, size = struct.unpack_from("<II", data, entry)
        packed += bytes(align(len(packed), FOLD_ALIGNMENT) - len(packed))
        struct.pack_into("<I", packed, entry, new_rva + len(packed))
        packed += data[at - old_rva:at - old_rva + size]
    return bytes(packed)


def drop_lookup_tables(path, sections, image, directories, entry_size):
    """Cuts the import lookup tables off the end of the section that holds the imports."""
    directory, = struct.unpack_from("<I", image, directories + 8 * IMPORT_DIRECTORY)
    host = next((s for s in sections if s.rva <= directory < s.rva + len(s.data)), None)
    if host is None:
        sys.exit(f"{path}: no section holds the import directory; not rewritten")
    data = bytearray(host.data)
    entry_format = "<I" if entry_size == 4 else "<Q"
    descriptors, tables = [], []
    at = directory - host.rva
    while any(data[at:at + IMPORT_DESCRIPTOR]):
        lookup, = struct.unpack_from("<I", data, at)
        address, = struct.unpack_from("<I", data, at + 16)
        length = 0
        while True:  # the lookup table must repeat the address table, terminator included
            entry, = struct.unpack_from(entry_format, data, lookup - host.rva + length)
            if entry != struct.unpack_from(entry_format, data, address - host.rva + length)[0]:
                sys.exit(f"{path}: an import lookup table differs from its address table; not rewritten")
            length += entry_size
            if entry == 0:
                break
        descriptors.append(at)
        tables.append((lookup, length))
        at += IMPORT_DESCRIPTOR
    start = min(lookup for lookup, _ in tables)
    if sum(length for _, length in tables) != host.rva + len(data) - start or \
            max(lookup + length for lookup, length in tables) != host.rva + len(data):
        sys.exit(f"{path}: the import lookup tables are not the end of {host.name}; not rewritten")
    for at in descriptors:
        struct.pack_into("<I", data, at, 0)
    host.data = bytes(data[:start - host.rva])
    host.virtual_size = len(host.data)
    struct.pack_into("<I", image, directories + 8 * IMPORT_DIRECTORY + 4, IMPORT_DESCRIPTOR * (len(descriptors) + 1))


def main(path):
    with open(path, "rb") as f:
        image = bytearray(f.read())
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    if image[:2] != b"MZ" or image[pe:pe + 4] != b"PE\0\0":
        sys.exit(f"{path}: not a PE image")
    if pe == DOS_HEADER:
        return  # done already
    count, = struct.unpack_from("<H", image, pe + 6)
    optional_size, = struct.unpack_from("<H", image, pe + 20)
    optional = pe + 24
    magic, = struct.unpack_from("<H", image, optional)
    directories = optional + (112 if magic == 0x20B else 96)
    section_alignment, file_alignment = struct.unpack_from("<II", image, optional + 32)
    table = optional + optional_size
    sections = [Section(image[table + SECTION_HEADER * i:table + SECTION_HEADER * (i + 1)]) for i in range(count)]
    end_of_raw = max(s.raw_pointer + s.raw_size for s in sections)
    if end_of_raw != len(image):
        sys.exit(f"{path}: data behind the last section ({len(image) - end_of_raw} bytes); not rewritten")
    for s in sections:
        s.data = bytes(image[s.raw_pointer:s.raw_pointer + min(s.raw_size, s.virtual_size)])

    drop_lookup_tables(path, sections, image, directories, 8 if magic == 0x20B else 4)

    # The folded sections are the last ones; they go behind the last section left.
    first = len(sections)
    while first > 1 and sections[first - 1].name in FOLDED:
        first -= 1
    folded, sections = sections[first:], sections[:first]
    host = sections[-1]
    if folded and not host.data:
        sys.exit(f"{path}: {host.name} holds no data to put the others behind; not rewritten")
    for moved in folded:
        rva = align(host.rva + host.virtual_size, FOLD_ALIGNMENT)
        data = pack_resources(moved.data, moved.rva, rva) if moved.name == ".rsrc" else moved.data
        host.data = host.data + bytes(rva - host.rva - len(host.data)) + data
        host.virtual_size = len(host.data)
        host.flags = (host.flags | MEM_READ) & ~(MEM_WRITE | MEM_EXECUTE)
        struct.pack_into("<II", image, directories + 8 * FOLDED[moved.name], rva, len(data))

    headers_end = DOS_HEADER + (table - pe) + SECTION_HEADER * len(sections)
    headers_size = align(headers_end, file_alignment)
    out = bytearray(image[:DOS_HEADER])
    struct.pack_into("<I", out, 0x3C, DOS_HEADER)
    out += image[pe:table]
    new_optional = DOS_HEADER + 24
    struct.pack_into("<H", out, DOS_HEADER + 6, len(sections))
    struct.pack_into("<I", out, new_optional + 60, headers_size)  # SizeOfHeaders
    last = sections[-1]
    struct.pack_into("<I", out, new_optional + 56, align(last.rva + last.virtual_size, section_alignment))  # SizeOfImage
    struct.pack_into("<I", out, new_optional + 8, sum(align(len(s.data), file_alignment) for s in sections
                                                        if s.flags & INITIALIZED_DATA))  # SizeOfInitializedData
    offset = headers_size
    for s in sections:
        out += s.packed(offset, file_alignment)
        offset += align(len(s.data), file_alignment)
    out += bytes(headers_size - len(out))
    for s in sections:
        out += s.data + bytes(align(len(s.data), file_alignment) - len(s.data))
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

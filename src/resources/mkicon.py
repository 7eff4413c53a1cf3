#!/usr/bin/env python3
"""Compiles an icon drawn as a text pixel map into a 16-colour .ico file.

The map is plain text, one character per pixel:
    # comment
    legend C RRGGBB name one line per colour, 16 in all; their order is the palette order
    legend . transparent one character for see-through pixels
    image N              N rows of N characters follow (N = 16, 32 or 48)

Every image becomes a 4-bit DIB with its AND mask; the file holds them in the order drawn.
Standard library only, so the build needs nothing but Python 3.
"""
import struct
import sys


class MapError(Exception):
    pass


def parse(text):
    """Returns (palette as [(r, g, b)] * 16, {char: index or None}, [(size, rows)])."""
    palette, indices, images = [], {}, []
    lines = text.splitlines()
    i = 0
    while i < len(lines):
        number, line = i + 1, lines[i].rstrip()
        i += 1
        if not line or line.startswith('#'):
            continue
        words = line.split()
        if words[0] == 'legend' and len(words) >= 3 and len(words[1]) == 1:
            char, value = words[1], words[2]
            if char in indices:
                raise MapError(f'line {number}: {char!r} is in the legend twice')
            if value == 'transparent':
                indices[char] = None
            else:
                if len(value) != 6:
                    raise MapError(f'line {number}: colour must be RRGGBB')
                indices[char] = len(palette)
                palette.append(tuple(bytes.fromhex(value)))
        elif words[0] == 'image' and len(words) == 2 and words[1] in ('16', '32', '48'):
            size = int(words[1])
            rows = [row.rstrip('\n') for row in lines[i:i + size]]
            for offset, row in enumerate(rows):
                if len(row) != size:
                    raise MapError(f'line {i + offset + 1}: {len(row)} pixels, not {size}')
                unknown = set(row) - set(indices)
                if unknown:
                    raise MapError(f'line {i + offset + 1}: not in the legend: {sorted(unknown)}')
            if len(rows) != size:
                raise MapError(f'line {number}: image {size} has only {len(rows)} rows')
            images.append((size, rows))
            i += size
        else:
            raise MapError(f'line {number}: cannot read {line!r}')
    if len(palette) != 16:
        raise MapError(f'the legend has {len(palette)} colours, not 16')
    if not images:
        raise MapError('no image')
    return palette, indices, images


def padded(row_bytes):
    return row_bytes + b'\0' * (-len(row_bytes) % 4)


def dib(size, rows, palette, indices):
    """BITMAPINFOHEADER, palette, 4-bit colour rows, 1-bit mask rows; rows bottom-up."""
    colour, mask = b'', b''
    for row in reversed(rows):
        nibbles = [indices[c] or 0 for c in row]
        colour += padded(bytes(nibbles[x] << 4 | nibbles[x + 1] for x in range(0, size, 2)))
        bits = [1 if indices[c] is None else 0 for c in row]
        mask += padded(bytes(sum(bits[x + b] << (7 - b) for b in range(8)) for x in range(0, size, 8)))
    header = struct.pack('<IiiHHIIiiII', 40, size, 2 * size, 1, 4, 0, len(colour) + len(mask), 0, 0, 0, 0)
    quads = b''.join(bytes((b, g, r, 0)) for r, g, b in palette)
    return header + quads + colour + mask


def ico(palette, indices, images):
    bodies = [dib(size, rows, palette, indices) for size, rows in images]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for (size, _), body in zip(images, bodies):
        out += struct.pack('<BBBBHHII', size % 256, size % 256, 16, 0, 1, 4, len(body), offset)
        offset += len(body)
    return out + b''.join(bodies)


def main(argv):
    if len(argv) != 3:
        sys.exit('usage: mkicon.py MAP.txt OUT.ico')
    with open(argv[1], encoding='utf-8') as f:
        try:
            data = ico(*parse(f.read()))
        except MapError as e:
            sys.exit(f'{argv[1]}: {e}')
    with open(argv[2], 'wb') as f:
        f.write(data)


if __name__ == '__main__':
    main(sys.argv)

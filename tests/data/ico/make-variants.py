#!/usr/bin/env python3
"""Writes deepest.ico: the 4-bit 32x32 image of palette4.ico followed by the 32-bit 32x32
image of multi.ico: two equally large images, the shallower one first."""
import struct


def images(name):
    data = open(name, 'rb').read()
    count = struct.unpack_from('<H', data, 4)[0]
    for i in range(count):
        entry = data[6 + 16 * i: 22 + 16 * i]
        size, offset = struct.unpack_from('<II', entry, 8)
        yield entry[:8], data[offset:offset + size]


chosen = [list(images('palette4.ico'))[0], list(images('multi.ico'))[1]]
out = bytearray(struct.pack('<HHH', 0, 1, len(chosen)))
offset = 6 + 16 * len(chosen)
for head, body in chosen:
    out += head + struct.pack('<II', len(body), offset)
    offset += len(body)
for head, body in chosen:
    out += body
open('deepest.ico', 'wb').write(out)

#!/usr/bin/env python3
"""Writes the benchmark pictures of the formats no Debian tool writes, from a binary PPM (P6,
maxval 255) and its 256-colour version:

    make-reader-inputs.py photo.ppm photo256.ppm out-folder

out-folder gets photo.cel (Autodesk), photo.cut with photo.pal (Dr. Halo), photo.rla
(Alias/Wavefront, rows bottom first) and photo.psp (Paint Shop Pro, deflated channels).
"""
import os
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "data", "psp"))
from pspwriter import DEFLATE, psp_file, read_ppm, rgb_layer  # noqa: E402


def runs(values, longest):
    """Splits a row into (count, repeated value) runs and (count, literal bytes) stretches."""
    i = 0
    while i < len(values):
        run = 1
        while i + run < len(values) and run < longest and values[i + run] == values[i]:
            run += 1
        if run > 2:
            yield True, run, values[i:i + 1]
            i += run
            continue
        literal = 1
        while i + literal < len(values) and literal < longest and not (
                i + literal + 2 < len(values) and values[i + literal] == values[i + literal + 1] == values[i + literal + 2]):
            literal += 1
        yield False, literal, values[i:i + literal]
        i += literal


def cut_row(indices):
    out = bytearray()
    for repeat, count, value in runs(indices, 127):
        out += bytes([0x80 | count]) + value if repeat else bytes([count]) + value
    out += b"\0"
    return struct.pack("<H", len(out)) + out


def rla_channel(values):
    out = bytearray()
    for repeat, count, value in runs(values, 128):
        out += bytes([count - 1]) + value if repeat else struct.pack(">b", -count) + value
    return struct.pack(">H", len(out)) + out


def rla_header(width, height):
    h = struct.pack(">8h", 0, width - 1, 0, height - 1, 0, width - 1, 0, height - 1)
    h += struct.pack(">6h", 1, 0, 3, 0, 0, -2) + b"1.0".ljust(16, b"\0") + bytes(96) + struct.pack(">i", 0)
    h += bytes(128 + 128 + 64 + 32 + 32 + 20 + 24 + 8) + b"rgb".ljust(32, b"\0") + bytes(2 + 12 + 32)
    h += struct.pack(">5h", 8, 0, 0, 0, 0) + bytes(32 + 36) + struct.pack(">i", 0)
    assert len(h) == 740
    return h


def main():
    photo, photo256, folder = sys.argv[1:4]
    width, height, pixels = read_ppm(photo)
    _, _, few = read_ppm(photo256)
    palette = sorted(set(few))
    index = {colour: i for i, colour in enumerate(palette)}
    indices = bytes(index[p] for p in few)
    rows = [indices[y * width:(y + 1) * width] for y in range(height)]

    with open(os.path.join(folder, "photo.cel"), "wb") as f:
        f.write(struct.pack("<HHHHHHHI14s", 0x9119, width, height, 0, 0, 8, 0, width * height, bytes(14)))
        f.write(b"".join(bytes(c >> 2 for c in p) for p in palette).ljust(768, b"\0") + indices)

    with open(os.path.join(folder, "photo.cut"), "wb") as f:
        f.write(struct.pack("<HHH", width, height, 0) + b"".join(cut_row(row) for row in rows))
    pal = bytearray(b"AH" + struct.pack("<HHBBHHHHHH", 0xE3, 0, ord("R"), 0, 0, 0, len(palette) - 1, 255, 255, 255))
    pal += bytes(20)
    for r, g, b in palette:
        if len(pal) % 512 > 506:
            pal += bytes(512 - len(pal) % 512)
        pal += struct.pack("<HHH", r, g, b)
    with open(os.path.join(folder, "photo.pal"), "wb") as f:
        f.write(pal + bytes(-len(pal) % 512))

    data, offsets = bytearray(), []
    for y in reversed(range(height)):
        offsets.append(740 + 4 * height + len(data))
        row = pixels[y * width:(y + 1) * width]
        for c in range(3):
            data += rla_channel(bytes(p[c] for p in row))
    with open(os.path.join(folder, "photo.rla"), "wb") as f:
        f.write(rla_header(width, height) + b"".join(struct.pack(">I", o) for o in offsets) + data)

    with open(os.path.join(folder, "photo.psp"), "wb") as f:
        f.write(psp_file(5, width, height, 24, DEFLATE, [rgb_layer(5, DEFLATE, width, height, pixels)]))


main()

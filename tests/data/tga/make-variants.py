#!/usr/bin/env python3
"""Writes the Targa variants that neither ImageMagick nor netpbm writes, from ../bmp/source.png
(read through ImageMagick's convert as raw red, green, blue bytes):

  bits15.tga        true colour, 15 bits per pixel, rows bottom first
  cmap16.tga        16 colours in a colour map of 16-bit entries, rows bottom first
  cmap32-rle.tga    16 colours in a colour map of 32-bit entries, run-length packed, top row first

and, as the earliest Targa writers packed a picture (each packet may run on from one row into
the next, whether a run or raw pixels), from asymmetric.png with a band of one colour across
rows 2 and 3:

  packets-across-rows.tga           true colour, 24 bits, rows bottom first
  packets-across-rows-cmap-rtl.tga  16 colours in a colour map of 24-bit entries, rows top
                                    first, each row stored right to left
"""
import struct
import subprocess

WIDTH, HEIGHT = 13, 7


def pixels(*options, source="../bmp/source.png"):
    raw = subprocess.run(["convert", source, *options, "-depth", "8", "rgb:-"],
                         check=True, capture_output=True).stdout
    return [tuple(raw[i:i + 3]) for i in range(0, len(raw), 3)]


def header(image_type, map_type, map_length, map_entry_bits, pixel_bits, descriptor):
    return struct.pack("<BBBHHBHHHHBB", 0, map_type, image_type, 0, map_length, map_entry_bits, 0, 0,
                       WIDTH, HEIGHT, pixel_bits, descriptor)


def rows(values, top_first):
    table = [values[y * WIDTH:(y + 1) * WIDTH] for y in range(HEIGHT)]
    return table if top_first else table[::-1]


def word555(rgb):
    r, g, b = rgb
    return (r >> 3) << 10 | (g >> 3) << 5 | b >> 3


def pack_row(indices):
    """Targa packets of 1-byte pixels: runs for repeats, raw packets otherwise."""
    return pack([bytes([i]) for i in indices])


def pack(values):
    """Targa packets of pixels given as byte strings: runs for repeats, raw packets otherwise."""
    out = bytearray()
    i = 0
    while i < len(values):
        run = 1
        while i + run < len(values) and run < 128 and values[i + run] == values[i]:
            run += 1
        if run > 1:
            out += bytes([0x80 | (run - 1)]) + values[i]
            i += run
            continue
        raw = 1
        while i + raw < len(values) and raw < 128 and (i + raw + 1 >= len(values)
                                                       or values[i + raw] != values[i + raw + 1]):
            raw += 1
        out += bytes([raw - 1]) + b"".join(values[i:i + raw])
        i += raw
    return out


true_color = pixels()
with open("bits15.tga", "wb") as f:
    f.write(header(2, 0, 0, 0, 15, 0))
    for row in rows(true_color, False):
        f.write(b"".join(struct.pack("<H", word555(p)) for p in row))

few = pixels("-colors", "16")
palette = sorted(set(few))
index = [palette.index(p) for p in few]
with open("cmap16.tga", "wb") as f:
    f.write(header(1, 1, len(palette), 16, 8, 0))
    f.write(b"".join(struct.pack("<H", 0x8000 | word555(p)) for p in palette))
    for row in rows(index, False):
        f.write(bytes(row))

with open("cmap32-rle.tga", "wb") as f:
    f.write(header(9, 1, len(palette), 32, 8, 0x20))
    f.write(b"".join(bytes([b, g, r, 255]) for r, g, b in palette))
    for row in rows(index, True):
        f.write(pack_row(row))

banded = pixels("-fill", "orange", "-draw", "rectangle 0,2 12,3", source="asymmetric.png")
with open("packets-across-rows.tga", "wb") as f:
    f.write(header(10, 0, 0, 0, 24, 0))
    f.write(pack([bytes([b, g, r]) for row in rows(banded, False) for r, g, b in row]))

few = pixels("-fill", "orange", "-draw", "rectangle 0,2 12,3", "-colors", "16", source="asymmetric.png")
palette = sorted(set(few))
index = [palette.index(p) for p in few]
with open("packets-across-rows-cmap-rtl.tga", "wb") as f:
    f.write(header(9, 1, len(palette), 24, 8, 0x30))
    f.write(b"".join(bytes([b, g, r]) for r, g, b in palette))
    f.write(pack([bytes([i]) for row in rows(index, True) for i in reversed(row)]))

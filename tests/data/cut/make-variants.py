#!/usr/bin/env python3
"""Writes Dr. Halo pictures, which no tool of Debian writes:

  colors.cut, colors.pal   24 by 12 pixels in up to 200 colours (ImageMagick's convert makes and
                           quantises the picture), so the palette file runs over three of its
                           512-byte blocks
  gray.cut                 13 by 7 pixels of ../bmp/source.png's grey levels, with no palette file
  HALO80.CUT, HALO80.PAL   ../bmp/source.png in 16 colours, named as DOS programs named their
                           files, with an empty run (the header 0x80 and a value byte, which
                           writes nothing) before every packet, as some writers put them out;
                           its expected pixels HALO80.rgb are ImageMagick's decode of the same
                           rows packed without the empty runs, beside the same HALO80.PAL
                           (ImageMagick ends a row at an empty run, so it cannot decode
                           HALO80.CUT itself)
"""
import os
import shutil
import tempfile
import struct
import subprocess


def pixels(args, fmt, size):
    raw = subprocess.run(["convert", *args, "-depth", "8", f"{fmt}:-"], check=True, capture_output=True).stdout
    return [tuple(raw[i:i + size]) for i in range(0, len(raw), size)]


def pack_row(indices, empty_runs=False):
    """CUT packets: bit 7 set repeats the next byte (count in bits 0-6), clear copies count bytes.
    With empty_runs, every packet follows an empty run whose value byte is the packet's first."""
    out = bytearray()
    i = 0
    while i < len(indices):
        run = 1
        while i + run < len(indices) and run < 127 and indices[i + run] == indices[i]:
            run += 1
        if empty_runs:
            out += bytes([0x80, indices[i]])
        if run > 2:
            out += bytes([0x80 | run, indices[i]])
            i += run
            continue
        literal = min(len(indices) - i, 127)
        for n in range(1, literal):
            if i + n + 2 < len(indices) and indices[i + n] == indices[i + n + 1] == indices[i + n + 2]:
                literal = n
                break
        out += bytes([literal]) + bytes(indices[i:i + literal])
        i += literal
    out += b"\0"
    return struct.pack("<H", len(out)) + out


def write_cut(name, width, height, indices, empty_runs=False):
    with open(name, "wb") as f:
        f.write(struct.pack("<HHH", width, height, 0))
        for y in range(height):
            f.write(pack_row(indices[y * width:(y + 1) * width], empty_runs))


def write_pal(name, palette):
    """512-byte blocks; entries of three words from offset 40, never starting beyond 506."""
    data = bytearray(b"AH")
    data += struct.pack("<HHBBHHHHHH", 0xE3, 0, ord("R"), 0, 0, 0, len(palette) - 1, 255, 255, 255)
    data += b"Dr. Halo".ljust(20, b"\0")
    assert len(data) == 40
    for r, g, b in palette:
        if len(data) % 512 > 506:
            data += bytes(512 - len(data) % 512)
        data += struct.pack("<HHH", r, g, b)
    data += bytes(-len(data) % 512)
    with open(name, "wb") as f:
        f.write(data)


colors = pixels(["-size", "24x12", "xc:", "-channel", "R", "-fx", "i/23", "-channel", "G", "-fx", "j/11",
                 "-channel", "B", "-fx", "(i+j)/34", "+channel", "-colors", "200"], "rgb", 3)
palette = sorted(set(colors))
write_cut("colors.cut", 24, 12, [palette.index(p) for p in colors])
write_pal("colors.pal", palette)

grey = [p[0] for p in pixels(["../bmp/source.png", "-colorspace", "Gray"], "gray", 1)]
write_cut("gray.cut", 13, 7, grey)

few = pixels(["../bmp/source.png", "-colors", "16"], "rgb", 3)
palette = sorted(set(few))
write_cut("HALO80.CUT", 13, 7, [palette.index(p) for p in few], empty_runs=True)
write_pal("HALO80.PAL", palette)
with tempfile.TemporaryDirectory() as folder:
    write_cut(os.path.join(folder, "HALO80.CUT"), 13, 7, [palette.index(p) for p in few])
    shutil.copy("HALO80.PAL", folder)
    subprocess.run(["convert", os.path.join(folder, "HALO80.CUT"), "-depth", "8", "rgb:HALO80.rgb"], check=True)

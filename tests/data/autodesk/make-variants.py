#!/usr/bin/env python3
"""Writes an Autodesk Animator cel picture, which no tool of Debian writes or reads:

  colors.cel   ../bmp/source.png in 16 colours (ImageMagick's convert quantises it), each
               colour component stored as a 6-bit value

No tool reads the format, so the script writes the expected pixels too (colors.rgb: each
pixel's palette colour, components widened from 6 to 8 bits by a shift of two).
"""
import struct
import subprocess

WIDTH, HEIGHT = 13, 7
raw = subprocess.run(["convert", "../bmp/source.png", "-colors", "16", "-depth", "8", "rgb:-"], check=True,
                     capture_output=True).stdout
pixels = [tuple(c >> 2 for c in raw[i:i + 3]) for i in range(0, len(raw), 3)]
palette = sorted(set(pixels))
with open("colors.cel", "wb") as f:
    f.write(struct.pack("<HHHHHHHI14s", 0x9119, WIDTH, HEIGHT, 0, 0, 8, 0, WIDTH * HEIGHT, bytes(14)))
    f.write(b"".join(bytes(p) for p in palette).ljust(768, b"\0"))
    f.write(bytes(palette.index(p) for p in pixels))
with open("colors.rgb", "wb") as f:
    f.write(bytes(c << 2 for p in pixels for c in p))

#!/usr/bin/env python3
"""Writes the SGI variant that neither ImageMagick nor netpbm writes, from ../bmp/source.png (read
through ImageMagick's convert as grey levels):

  gray-alpha.sgi   two channels (grey, then alpha rising from left to right), 8-bit, not packed
"""
import struct
import subprocess

WIDTH, HEIGHT = 13, 7
grey = subprocess.run(["convert", "../bmp/source.png", "-colorspace", "Gray", "-depth", "8", "gray:-"],
                      check=True, capture_output=True).stdout
header = struct.pack(">HBBHHHH", 474, 0, 1, 3, WIDTH, HEIGHT, 2).ljust(512, b"\0")
rows = [grey[y * WIDTH:(y + 1) * WIDTH] for y in range(HEIGHT)]
alpha = bytes(x * 255 // (WIDTH - 1) for x in range(WIDTH))
with open("gray-alpha.sgi", "wb") as f:
    f.write(header)
    for row in reversed(rows):  # bottom row first
        f.write(row)
    for _ in rows:
        f.write(alpha)

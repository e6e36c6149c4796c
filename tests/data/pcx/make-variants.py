#!/usr/bin/env python3
"""Writes the PCX variant that neither ImageMagick nor netpbm writes, from ../bmp/source.png (read
through ImageMagick's convert as grey levels):

  gray8-plain.pcx   8-bit grey levels, not packed, palette information 2 and no palette at the end

Neither tool reads unpacked PCX files, so the script writes the expected pixels too
(gray8-plain.rgb: each grey level as red, green and blue).
"""
import struct
import subprocess

WIDTH, HEIGHT = 13, 7
grey = subprocess.run(["convert", "../bmp/source.png", "-colorspace", "Gray", "-depth", "8", "gray:-"],
                      check=True, capture_output=True).stdout
bytes_per_line = WIDTH + 1  # PCX rows have an even length
header = struct.pack("<BBBBHHHHHH48sBBHH58s", 10, 5, 0, 8, 0, 0, WIDTH - 1, HEIGHT - 1, 72, 72, bytes(48), 0, 1,
                     bytes_per_line, 2, bytes(58))
assert len(header) == 128
with open("gray8-plain.pcx", "wb") as f:
    f.write(header)
    for y in range(HEIGHT):
        f.write(grey[y * WIDTH:(y + 1) * WIDTH] + b"\0")
with open("gray8-plain.rgb", "wb") as f:
    f.write(bytes(level for level in grey for _ in range(3)))

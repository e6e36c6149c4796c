#!/usr/bin/env python3
"""Writes the PCX variant that neither ImageMagick nor netpbm writes, from ../bmp/source.png (read
through ImageMagick's convert as grey levels):

  gray8-plain.pcx   8-bit grey levels, not packed, palette information 2 and no palette at the end

Neither tool reads unpacked PCX files, so the script writes the expected pixels too
(gray8-plain.rgb: each grey level as red, green and blue).

It also writes gray2-rle.pcx: four grey levels (ImageMagick's -depth 2 of the grey picture),
2 bits per pixel in one plane, packed, palette information 2, with the four levels in the
header's palette as writers of such grey pictures put them there.
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

levels = subprocess.run(["convert", "../bmp/source.png", "-colorspace", "Gray", "-normalize", "-depth", "2",
                         "-depth", "8", "gray:-"], check=True, capture_output=True).stdout
bytes_per_line = 4  # 13 pixels of 2 bits take 4 bytes, an even count
grey_palette = bytes(v for level in (0, 85, 170, 255) for v in (level,) * 3).ljust(48, b"\0")
header = struct.pack("<BBBBHHHHHH48sBBHH58s", 10, 5, 1, 2, 0, 0, WIDTH - 1, HEIGHT - 1, 72, 72, grey_palette, 0, 1,
                     bytes_per_line, 2, bytes(58))
with open("gray2-rle.pcx", "wb") as f:
    f.write(header)
    for y in range(HEIGHT):
        row = bytearray(bytes_per_line)
        for x in range(WIDTH):
            row[x // 4] |= levels[y * WIDTH + x] // 85 << (6 - 2 * (x % 4))
        for value in row:  # every byte as a run of one, as PCX writers store bytes of 0xC0 and above
            f.write(bytes([0xC1, value]) if value >= 0xC0 else bytes([value]))

#!/usr/bin/env python3
"""Writes the bitmap variants ImageMagick does not write itself, from files it did write:
a 32-bit file without bit fields, top-down files, an RLE4 file and an RLE8 file with a
delta and an early end of line. Run in this folder after the convert commands of README."""
import struct


def read(name):
    data = open(name, 'rb').read()
    offset = struct.unpack_from('<I', data, 10)[0]
    size, width, height, planes, bits = struct.unpack_from('<IiiHH', data, 14)
    return data, offset, size, width, height, bits


def row_bytes(width, bits):
    return (width * bits + 31) // 32 * 4


def write(name, header, palette, pixels):
    offset = 14 + len(header) + len(palette)
    with open(name, 'wb') as out:
        out.write(b'BM' + struct.pack('<IHHI', offset + len(pixels), 0, 0, offset))
        out.write(header + palette + pixels)


def info_header(width, height, bits, compression, image_size, colors=0):
    return struct.pack('<IiiHHIIiiII', 40, width, height, 1, bits, compression, image_size, 2835, 2835, colors, 0)


# 32 bits per pixel, no bit fields: blue, green, red and a zero byte.
data, offset, size, width, height, bits = read('bits24.bmp')
stride24 = row_bytes(width, 24)
rows = [data[offset + r * stride24: offset + r * stride24 + width * 3] for r in range(height)]
pixels32 = b''.join(b''.join(row[3 * x:3 * x + 3] + b'\0' for x in range(width)) for row in rows)
write('bits32.bmp', info_header(width, height, 32, 0, len(pixels32)), b'', pixels32)

# Top-down 24 bits: negative height, the top row stored first.
padded = [data[offset + r * stride24: offset + (r + 1) * stride24] for r in range(height)]
write('topdown24.bmp', info_header(width, -height, 24, 0, len(b''.join(padded))), b'', b''.join(reversed(padded)))

# Top-down 8 bits with its palette.
data, offset, size, width, height, bits = read('bits8.bmp')
stride8 = row_bytes(width, 8)
palette8 = data[14 + size:offset]
colors8 = len(palette8) // 4
padded = [data[offset + r * stride8: offset + (r + 1) * stride8] for r in range(height)]
write('topdown8.bmp', info_header(width, -height, 8, 0, len(b''.join(padded)), colors8), palette8,
      b''.join(reversed(padded)))


def rle4_row(indices):
    out = bytearray()
    i = 0
    n = len(indices)
    while i < n:
        run = 1
        while i + run < n and run < 255 and indices[i + run] == indices[i]:
            run += 1
        if run >= 4 or n - i < 3:
            run = max(1, min(run, n - i))
            value = indices[i]
            out += bytes([run, value << 4 | value])
            i += run
            continue
        # A literal run up to the next repeat of four, at least three pixels long.
        j = i
        while j < n and j - i < 255:
            k = 1
            while j + k < n and indices[j + k] == indices[j]:
                k += 1
            if k >= 4:
                break
            j += 1
        count = max(3, j - i)
        count = min(count, n - i)
        nibbles = indices[i:i + count] + [0]
        packed = bytes(nibbles[t] << 4 | nibbles[t + 1] for t in range(0, count, 2))
        if len(packed) % 2:
            packed += b'\0'
        out += bytes([0, count]) + packed
        i += count
    return bytes(out + b'\0\0')


# RLE4, encoded from the 4-bit file's rows: runs of repeated pixels and literal runs.
data, offset, size, width, height, bits = read('bits4.bmp')
stride4 = row_bytes(width, 4)
palette4 = data[14 + size:offset]
encoded = bytearray()
for r in range(height):
    row = data[offset + r * stride4: offset + (r + 1) * stride4]
    indices = [(row[x // 2] >> (0 if x % 2 else 4)) & 15 for x in range(width)]
    encoded += rle4_row(indices)
encoded += b'\0\1'
write('rle4.bmp', info_header(width, height, 4, 2, len(encoded), len(palette4) // 4), palette4, bytes(encoded))

# RLE8 with a delta that skips pixels and an early end of line; the skipped pixels keep
# index 0, which this file's palette makes black.
palette = b''.join(struct.pack('<BBBB', *entry) for entry in
                   [(0, 0, 0, 0), (0, 0, 255, 0), (0, 255, 0, 0), (255, 0, 0, 0), (255, 255, 255, 0)])
stream = bytes([
    6, 1, 0, 2, 3, 1,        # bottom row: six red, then delta 3 right, 1 up
    0, 3, 2, 3, 4, 0,        # literal green, blue, white (padded)
    0, 0,                    # end of line (row 1 ends early)
    12, 4, 0, 0,             # row 2: twelve white
    3, 2, 0, 1,              # row 3: three green, end of bitmap
    0, 0,                    # padding that some readers expect after the end
])
write('rle8-delta.bmp', info_header(12, 4, 8, 1, len(stream), 5), palette, stream)

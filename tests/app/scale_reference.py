#!/usr/bin/env python3
"""Shrinks a picture with the triangle filter, written from the description of the
resampling alone, for comparison with what the server sends.

Usage: scale_reference.py IN.ppm WIDTH HEIGHT > OUT.ppm (binary PPM, 8 bits per sample).

The filter is 1 - |x| within 1; each target pixel weighs the source pixels around the point
i / scale, scale being (target - 1) / (source - 1) (target / source when either is 1). When
shrinking, the support widens to 1 / scale and the filter is squeezed by scale. Weights are
the filter values times scale times 256, rounded half to even in single precision, and
indices outside the source are mirrored at its edges. Each pixel is the weighted sum divided
by the sum of weights, truncated, clamped to 0..255. Rows are scaled first, then columns."""
import math
import struct
import sys


def single(x):
    return struct.unpack('<f', struct.pack('<f', x))[0]


def triangle(x):
    a = single(abs(single(x)))
    return single(1 - a) if a < 1 else 0.0


def scale_of(source, target):
    return single(target / source) if source == 1 or target == 1 else single((target - 1) / (source - 1))


def contributors(n, m):
    s = scale_of(n, m)
    entries = []
    for i in range(m):
        c = single(i / s)
        if s < 1:
            w = single(1.0 / s)
            span, squeeze = range(math.floor(c - w), math.ceil(c + w) + 1), s
        else:
            span, squeeze = range(math.floor(c - 1.0), math.ceil(c + 1.0) + 1), 1.0
        pairs = []
        for j in span:
            weight = round(triangle((c - j) * squeeze) * squeeze * 256)
            if weight:
                pairs.append((weight, -j if j < 0 else (2 * n - 1 - j if j >= n else j)))
        entries.append((sum(w for w, _ in pairs), pairs))
    return entries


def value(total, pairs, line, channel):
    acc = sum(line[k * 3 + channel] * w for w, k in pairs)
    if total == 0:
        v = (acc & 0xFFFFFFFF) >> 8
    else:
        v = abs(acc) // abs(total) * (1 if (acc >= 0) == (total > 0) else -1)
    return min(max(v, 0), 255)


def scale_lines(lines, length, target):
    table = contributors(length, target)
    return [[value(total, pairs, line, c) for total, pairs in table for c in range(3)] for line in lines]


def read_ppm(path):
    data = open(path, 'rb').read()
    fields, at = [], 2
    while len(fields) < 3:
        while data[at:at + 1].isspace():
            at += 1
        start = at
        while not data[at:at + 1].isspace():
            at += 1
        fields.append(int(data[start:at]))
    width, height, _ = fields
    pixels = data[at + 1:at + 1 + width * height * 3]
    return width, height, [pixels[y * width * 3:(y + 1) * width * 3] for y in range(height)]


def main():
    width, height, rows = read_ppm(sys.argv[1])
    target_width, target_height = int(sys.argv[2]), int(sys.argv[3])
    middle = scale_lines(rows, width, target_width)
    columns = [[v for y in range(height) for v in middle[y][x * 3:x * 3 + 3]] for x in range(target_width)]
    scaled = scale_lines(columns, height, target_height)
    out = bytearray()
    for y in range(target_height):
        for x in range(target_width):
            out += bytes(scaled[x][y * 3:y * 3 + 3])
    sys.stdout.buffer.write(b'P6\n%d %d\n255\n' % (target_width, target_height) + bytes(out))


if __name__ == '__main__':
    main()

#!/usr/bin/env python3
"""Resamples a small gradient with every filter, written from the description of the
algorithm alone (not from the program's code), and prints the expected pixels:
    python3 make-expected.py > expected.txt
Each line: filter number, target width, target height, radius, then the target's pixels
row by row from the top, three hex bytes each in the order blue, green, red."""
import math
import struct


def single(x):
    return struct.unpack('<f', struct.pack('<f', x))[0]


def sinc(x):
    if x == 0:
        return 1.0
    px = single(math.pi * x)
    return single(math.sin(px) / px)


def filter_value(kind, x):
    x = single(x)
    a = single(abs(x))
    if kind == 0:  # box
        return 1.0 if -0.5 < x <= 0.5 else 0.0
    if kind == 1:  # triangle
        return single(1 - a) if a < 1 else 0.0
    if kind == 2:  # hermite
        return single((2 * a - 3) * a * a + 1) if a < 1 else 0.0
    if kind == 3:  # bell
        if a < 0.5:
            return single(0.75 - a * a)
        if a < 1.5:
            t = single(a - 1.5)
            return single(0.5 * t * t)
        return 0.0
    if kind == 4:  # cubic B-spline
        if a < 1:
            sq = single(a * a)
            return single(0.5 * sq * a - sq + 2 / 3)
        if a < 2:
            t = single(2 - a)
            return single(t * t * t / 6)
        return 0.0
    if kind == 5:  # lanczos3
        return single(sinc(a) * sinc(single(a / 3))) if a < 3 else 0.0
    if kind == 6:  # mitchell, B = C = 1/3
        sq = single(a * a)
        if a < 1:
            return single(single(7 * sq * a - 12 * sq + 16 / 3) / 6)
        if a < 2:
            return single(single(-7 / 3 * sq * a + 12 * sq - 20 * a + 32 / 3) / 6)
        return 0.0
    raise ValueError(kind)


DEFAULT_RADIUS = [0.5, 1.0, 1.0, 1.5, 2.0, 3.0, 2.0]


def scale_of(source, target):
    if source == 1 or target == 1:
        return single(target / source)
    return single((target - 1) / (source - 1))


def contributors(n, m, s, r, kind):
    entries = []
    for i in range(m):
        c = single(i / s)
        pairs = []
        if s < 1:
            w = single(r / s)
            lo, hi = math.floor(c - w), math.ceil(c + w)
        else:
            lo, hi = math.floor(c - r), math.ceil(c + r)
        for j in range(lo, hi + 1):
            if s < 1:
                weight = round(filter_value(kind, (c - j) * s) * s * 256)
            else:
                weight = round(filter_value(kind, c - j) * 256)
            if weight == 0:
                continue
            k = -j if j < 0 else (n - j + n - 1 if j >= n else j)
            k = min(max(k, 0), n - 1)  # still outside after one reflection: clamped
            pairs.append((weight, k))
        entries.append(pairs)
    return entries


def channel(total_sum, total):
    if total != 0:
        q = abs(total_sum) // abs(total)
        value = q if (total_sum >= 0) == (total > 0) else -q
    else:
        value = (total_sum & 0xFFFFFFFF) >> 8
    return min(max(value, 0), 255)


def apply(pairs, line):
    total = sum(w for w, _ in pairs)
    return tuple(channel(sum(line[k][c] * w for w, k in pairs), total) for c in range(3))


def resample(pixels, sw, sh, tw, th, kind, radius):
    if radius == 0:
        radius = DEFAULT_RADIUS[kind]
    horizontal = contributors(sw, tw, scale_of(sw, tw), radius, kind)
    middle = [[apply(horizontal[i], pixels[k]) for i in range(tw)] for k in range(sh)]
    vertical = contributors(sh, th, scale_of(sh, th), radius, kind)
    out = [[None] * tw for _ in range(th)]
    for k in range(tw):
        column = [middle[y][k] for y in range(sh)]
        for j in range(th):
            out[j][k] = apply(vertical[j], column)
    return out


SW, SH = 9, 5
# Pixels as (blue, green, red).
source = [[((x * y * 17) % 256, 200 - 30 * y, 20 + 25 * x) for x in range(SW)] for y in range(SH)]

cases = []
for kind in range(7):
    for tw, th in [(4, 3), (13, 7), (1, 3), (6, 1)]:
        cases.append((kind, tw, th, 0.0))
cases.append((0, 9, 5, 0.0))   # box at the same size
cases.append((5, 13, 7, 1.0))  # lanczos3 cut short by an explicit radius

for kind, tw, th, radius in cases:
    out = resample(source, SW, SH, tw, th, kind, radius)
    data = ''.join('%02x%02x%02x' % p for row in out for p in row)
    print(kind, tw, th, radius, data)

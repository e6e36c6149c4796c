#!/usr/bin/env python3
"""Writes the TIFF files that no Debian tool writes (see README.md for the inputs):

    make-variants.py bilevel.g3

  fax-mh.tif        modified Huffman (compression 2): the rows of pbmtog3's G3 stream
                    `bilevel.g3` (160 by 24) without their end-of-line codes, each row
                    starting on a byte boundary
  thunder.tif       ThunderScan (compression 32809) 4-bit grey levels of ../bmp/source.png,
                    coded with runs, two- and three-bit differences and raw pixels
  ycbcr-h2v2.tif    uncompressed YCbCr of ../bmp/source.png, chroma subsampled 2 by 2, in
                    blocks of four luma samples and two chroma samples
"""
import struct
import subprocess
import sys


def write_tiff(name, width, height, tags, strips, rows_per_strip):
    """A little-endian TIFF with one directory; `tags` maps tag -> (type, [values])."""
    sizes = {1: 1, 2: 1, 3: 2, 4: 4, 5: 8, 7: 1}
    formats = {1: "B", 2: "B", 3: "H", 4: "I", 7: "B"}
    data = bytearray(b"II*\0\0\0\0\0")
    offsets = []
    for strip in strips:
        offsets.append(len(data))
        data += strip
        data += b"\0" * (len(data) % 2)
    tags = dict(tags)
    tags.update({256: (4, [width]), 257: (4, [height]), 273: (4, offsets), 278: (4, [rows_per_strip]),
                 279: (4, [len(s) for s in strips])})
    values = bytearray()
    entries = []
    directory_at = len(data)
    directory_size = 2 + 12 * len(tags) + 4
    for tag in sorted(tags):
        kind, items = tags[tag]
        if kind == 5:
            packed = b"".join(struct.pack("<II", n, d) for n, d in items)
        else:
            packed = struct.pack("<%d%s" % (len(items), formats[kind]), *items)
        if len(packed) <= 4:
            field = packed.ljust(4, b"\0")
        else:
            field = struct.pack("<I", directory_at + directory_size + len(values))
            values += packed + b"\0" * (len(packed) % 2)
        entries.append(struct.pack("<HHI", tag, kind, len(items)) + field)
    data[4:8] = struct.pack("<I", directory_at)
    data += struct.pack("<H", len(entries)) + b"".join(entries) + b"\0\0\0\0" + values
    with open(name, "wb") as f:
        f.write(data)


def bits_of(data):
    for byte in data:
        for shift in range(7, -1, -1):
            yield byte >> shift & 1


def mh_rows(g3):
    """Splits a G3 stream without fill bits into the codes of each row: the bits between the
    end of one end-of-line code (eleven 0 bits and a 1) and the start of the next, padded
    with 0 bits to whole bytes."""
    bits = list(bits_of(g3))
    ends, zeros = [], 0
    for i, bit in enumerate(bits):
        if bit and zeros >= 11:
            ends.append(i + 1)
        zeros = 0 if bit else zeros + 1
    rows = []
    for start, end in zip(ends, ends[1:]):
        codes = bits[start:end - 12]
        if codes:
            codes += [0] * (-len(codes) % 8)
            rows.append(bytes(int("".join(map(str, codes[i:i + 8])), 2) for i in range(0, len(codes), 8)))
    return rows


def fax_files(g3_path):
    rows = mh_rows(open(g3_path, "rb").read())
    tags = {258: (3, [1]), 259: (3, [2]), 262: (3, [0]), 277: (3, [1])}
    write_tiff("fax-mh.tif", 160, 24, tags, [b"".join(rows)], 24)


def gray_levels():
    return subprocess.run(["convert", "../bmp/source.png", "-colorspace", "Gray", "-depth", "8", "gray:-"],
                          check=True, capture_output=True).stdout


def thunder_row(pixels):
    out, last, i = bytearray(), 0, 0
    deltas2 = {0: 0, 1: 1, -1: 3}
    deltas3 = {0: 0, 1: 1, 2: 2, 3: 3, -3: 5, -2: 6, -1: 7}
    while i < len(pixels):
        run = 0
        while i + run < len(pixels) and run < 63 and pixels[i + run] == last:
            run += 1
        if run >= 2:
            out.append(run)
            i += run
            continue
        three = pixels[i:i + 3]
        steps, previous = [], last
        for p in three:
            steps.append(p - previous)
            previous = p
        if len(three) == 3 and all(s in deltas2 for s in steps):
            out.append(0x40 | deltas2[steps[0]] << 4 | deltas2[steps[1]] << 2 | deltas2[steps[2]])
            last, i = three[-1], i + 3
        elif len(three) >= 2 and all(s in deltas3 for s in steps[:2]):
            out.append(0x80 | deltas3[steps[0]] << 3 | deltas3[steps[1]])
            last, i = three[1], i + 2
        else:
            out.append(0xC0 | pixels[i])
            last, i = pixels[i], i + 1
    return out


def thunder_file():
    width, height = 13, 7
    levels = [g >> 4 for g in gray_levels()]
    strip = b"".join(thunder_row(levels[y * width:(y + 1) * width]) for y in range(height))
    tags = {258: (3, [4]), 259: (3, [32809]), 262: (3, [1]), 277: (3, [1])}
    write_tiff("thunder.tif", width, height, tags, [strip], height)


def ycbcr_file():
    width, height = 13, 7
    rgb = subprocess.run(["convert", "../bmp/source.png", "-depth", "8", "rgb:-"],
                         check=True, capture_output=True).stdout
    def pixel(x, y):
        x, y = min(x, width - 1), min(y, height - 1)
        r, g, b = rgb[3 * (y * width + x):3 * (y * width + x) + 3]
        luma = 0.299 * r + 0.587 * g + 0.114 * b
        return luma, (b - luma) / 1.772 + 128, (r - luma) / 1.402 + 128
    clamp = lambda v: max(0, min(255, int(round(v))))
    strip = bytearray()
    for by in range(0, height, 2):
        for bx in range(0, width, 2):
            block = [pixel(bx + i, by + j) for j in range(2) for i in range(2)]
            strip += bytes(clamp(p[0]) for p in block)
            strip += bytes([clamp(sum(p[1] for p in block) / 4), clamp(sum(p[2] for p in block) / 4)])
    tags = {258: (3, [8, 8, 8]), 259: (3, [1]), 262: (3, [6]), 277: (3, [3]), 530: (3, [2, 2]),
            532: (5, [(0, 1), (255, 1), (128, 1), (255, 1), (128, 1), (255, 1)])}
    write_tiff("ycbcr-h2v2.tif", width, height, tags, [strip], height)


fax_files(sys.argv[1])
thunder_file()
ycbcr_file()

#!/usr/bin/env python3
"""Writes <name>.rgb for every PNG file named on the command line: netpbm's decode
(pngtopam: the colours without alpha, no gamma) as 8-bit red, green, blue bytes from the top
row down, through the gamma table when the file has a gAMA chunk. For grey and RGB files
with a transparent colour (tRNS) it also writes <name>.white.rgb, ImageMagick's picture on
white. Reports where ImageMagick's decode of an 8-bit file without alpha or gamma (beyond
1/2.2, which changes nothing) disagrees."""
import struct
import subprocess
import sys

CONVERT = "/usr/bin/convert"


def f32(x):
    """x rounded to single precision, as the reader computes the gamma exponent."""
    return struct.unpack("f", struct.pack("f", x))[0]


def chunks(data):
    at = 8
    while at + 8 <= len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        yield kind, data[at + 8:at + 8 + length]
        at += 12 + length


def gamma_table(value):
    """round((i / 255) ^ (1 / (gamma × 2.2)) × 255), ties to even, gamma and exponent in
    single precision."""
    gamma = f32(f32(value) / f32(100000.0))
    exponent = f32(f32(1.0) / f32(gamma * f32(2.2)))
    return [round((i / 255) ** exponent * 255) for i in range(256)]


def read_pnm(data):
    """Width, height, maxval and samples (1 or 3 per pixel) of a binary PBM, PGM or PPM."""
    fields, at = [], 0
    wanted = 3 if data[:2] == b"P4" else 4
    while len(fields) < wanted:
        while data[at:at + 1].isspace():
            at += 1
        if data[at:at + 1] == b"#":
            while data[at:at + 1] != b"\n":
                at += 1
            continue
        start = at
        while not data[at:at + 1].isspace():
            at += 1
        fields.append(data[start:at])
    at += 1
    magic, width, height = fields[0], int(fields[1]), int(fields[2])
    raster = data[at:]
    if magic == b"P4":  # 1 is black
        stride = (width + 7) // 8
        samples = [0 if raster[y * stride + x // 8] >> (7 - x % 8) & 1 else 1
                   for y in range(height) for x in range(width)]
        return width, height, 1, samples, 1
    maxval = int(fields[3])
    channels = 3 if magic == b"P6" else 1
    if maxval > 255:
        samples = list(struct.unpack(">%dH" % (len(raster) // 2), raster))
    else:
        samples = list(raster)
    return width, height, maxval, samples, channels


def narrow(value, maxval):
    if maxval == 65535:
        return value * 255 // 65535
    return value * 255 // maxval


def main():
    for path in sys.argv[1:]:
        data = open(path, "rb").read()
        found = dict(chunks(data))
        width, height, maxval, samples, channels = read_pnm(
            subprocess.run(["pngtopam", path], check=True, capture_output=True).stdout)
        levels = [narrow(v, maxval) for v in samples]
        if b"gAMA" in found and struct.unpack(">I", found[b"gAMA"])[0] != 0:
            table = gamma_table(struct.unpack(">I", found[b"gAMA"])[0])
            levels = [table[v] for v in levels]
        if channels == 1:
            levels = [v for v in levels for _ in range(3)]
        name = path[:-4]
        open(name + ".rgb", "wb").write(bytes(levels))
        colour_type, depth = found[b"IHDR"][9], found[b"IHDR"][8]
        if b"tRNS" in found and colour_type in (0, 2):
            white = subprocess.run([CONVERT, path, "-background", "white", "-flatten", "-depth", "8", "rgb:-"],
                                   check=True, capture_output=True).stdout
            open(name + ".white.rgb", "wb").write(white)
        neutral = b"gAMA" not in found or struct.unpack(">I", found[b"gAMA"])[0] == 45455
        if depth == 8 and colour_type in (0, 2, 3) and neutral:
            theirs = subprocess.run([CONVERT, path, "-depth", "8", "rgb:-"], check=True, capture_output=True).stdout
            if theirs != bytes(levels):
                print("ImageMagick decodes %s differently" % path)


main()

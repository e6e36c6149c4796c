#!/usr/bin/env python3
"""Writes the Paint Shop Pro fixtures of this folder from ../bmp/source.png (13 by 7 pixels),
through ImageMagick's convert for the pixels and pspwriter.py for the files:

    python3 make-fixtures.py
"""
import os
import subprocess
import tempfile

from pspwriter import *

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.join(HERE, "..", "bmp", "source.png")


def pixels(*options):
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "source.ppm")
        subprocess.run(["convert", SOURCE, *options, "-depth", "8", "ppm:" + path], check=True)
        return read_ppm(path)


def indexed(width, height, colours, bits, version, compression, name, pad=True):
    palette = sorted(set(colours))
    index = {colour: i for i, colour in enumerate(palette)}
    rows = b"".join(pack_indices([index[c] for c in colours[y * width:(y + 1) * width]], bits, pad)
                    for y in range(height))
    full = (0, 0, width, height)
    psp = psp_file(version, width, height, bits, compression,
                   [layer(version, compression, 1, full, full, [(IMAGE_BITMAP, COMPOSITE, rows)])], palette)
    write(name, psp)


def write(name, data):
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(data)


def main():
    width, height, colours = pixels()
    for version, compression, name in [(4, NONE, "rgb24.psp"), (4, RLE, "rgb24-rle.psp"),
                                       (5, DEFLATE, "rgb24-deflate.psp"), (3, RLE, "rgb24-v3-rle.psp"),
                                       (3, DEFLATE, "rgb24-v3-deflate.psp")]:
        write(name, psp_file(version, width, height, 24, compression,
                             [rgb_layer(version, compression, width, height, colours)]))

    alpha = bytes(x * 255 // 13 for y in range(height) for x in range(width))
    write("rgba32-deflate.psp", psp_file(4, width, height, 24, DEFLATE,
                                         [rgb_layer(4, DEFLATE, width, height, colours, alpha)]))

    _, _, few = pixels("-colors", "16")
    indexed(width, height, few, 8, 4, DEFLATE, "index8-deflate.psp")
    indexed(width, height, few, 4, 4, RLE, "index4-rle.psp")
    indexed(width, height, few, 4, 4, RLE, "index4-unpadded-rle.psp", pad=False)
    _, _, mono = pixels("-monochrome")
    indexed(width, height, mono, 1, 4, NONE, "index1.psp")

    _, _, grey = pixels("-colorspace", "Gray")
    full = (0, 0, width, height)
    levels = bytes(p[0] for p in grey)
    write("gray8-rle.psp", psp_file(4, width, height, 8, RLE,
                                    [layer(4, RLE, 1, full, full, [(IMAGE_BITMAP, COMPOSITE, levels)])], grey=True))

    # A vector layer first (no channels), then a raster layer of 8 by 4 pixels placed at
    # (3, 2), whose saved pixels are the 6 by 2 block at (1, 1) inside it.
    planes = rgb_planes(width, height, colours)
    part = [bytes(plane[y * width + x] for y in range(2) for x in range(6)) for plane in planes]
    vector = layer(4, RLE, 3, full, (0, 0, 0, 0), [], name=b"Vector")
    raster = layer(4, RLE, 1, (3, 2, 11, 6), (1, 1, 7, 3),
                   [(IMAGE_BITMAP, RED + c, part[c]) for c in range(3)], name=b"Raster")
    write("layers-rle.psp", psp_file(4, width, height, 24, RLE, [vector, raster]))


main()

#!/usr/bin/env python3
"""Writes Alias/Wavefront RLA pictures from ../bmp/source.png (read through ImageMagick's convert
as red, green and blue bytes). No tool of Debian writes RLA, and neither ImageMagick 6.9 nor
netpbm's rlatopam reads these files (both refuse the header as laid out here, which is the
740-byte header of the Wavefront format), so the expected pixels (<name>.rgb) are the source
picture's own, written beside each file.

  rgb.rla         three colour channels, rows stored bottom first (active bottom 0 < top 6)
  rgb-matte.rla   three colour channels and a matte channel rising from left to right
  rgb-topfirst.rpf  rows stored top first (active bottom 6 > top 0)
  rgb-gamma22.rla   as rgb.rla, with the gamma "2.2" that rendering programs state for pictures
                    encoded for the usual display (shown as stored)
"""
import struct
import subprocess

WIDTH, HEIGHT = 13, 7
raw = subprocess.run(["convert", "../bmp/source.png", "-depth", "8", "rgb:-"], check=True,
                     capture_output=True).stdout
rows = [[raw[(y * WIDTH + x) * 3:(y * WIDTH + x) * 3 + 3] for x in range(WIDTH)] for y in range(HEIGHT)]
matte = bytes(x * 255 // (WIDTH - 1) for x in range(WIDTH))


def text(value, size):
    return value.encode().ljust(size, b"\0")


def header(bottom, top, mattes, gamma):
    h = struct.pack(">8h", 0, WIDTH - 1, bottom, top, 0, WIDTH - 1, bottom, top)
    h += struct.pack(">6h", 1, 0, 3, mattes, 0, -2)
    h += text(gamma, 16) + bytes(96)                        # gamma, chromaticities
    h += struct.pack(">i", 0)                               # job number
    h += text("fixture", 128) + text("", 128) + text("make-variants.py", 64)
    h += text("", 32) + text("", 32) + text("", 20) + text("", 24) + text("1.857", 8)
    h += text("rgb", 32) + struct.pack(">h", 0) + text("", 12) + text("", 32)
    h += struct.pack(">5h", 8, 4 if mattes else 0, 8 if mattes else 0, 0, 0)
    h += text("", 32) + text("", 36) + struct.pack(">i", 0)
    assert len(h) == 740, len(h)
    return h


def pack(channel):
    """RLA packets: a count byte n >= 0 repeats the next byte n + 1 times, -n copies n bytes."""
    out = bytearray()
    i = 0
    while i < len(channel):
        run = 1
        while i + run < len(channel) and run < 128 and channel[i + run] == channel[i]:
            run += 1
        if run > 1:
            out += bytes([run - 1, channel[i]])
            i += run
            continue
        literal = 1
        while i + literal < len(channel) and literal < 128 and (i + literal + 1 >= len(channel) or
                                                                channel[i + literal] != channel[i + literal + 1]):
            literal += 1
        out += struct.pack(">b", -literal) + channel[i:i + literal]
        i += literal
    return bytes(out)


def write(name, bottom, top, mattes, gamma="1.0"):
    stored = list(reversed(rows)) if bottom < top else rows
    data = bytearray()
    offsets = []
    base = 740 + 4 * HEIGHT
    for row in stored:
        offsets.append(base + len(data))
        channels = [bytes(p[c] for p in row) for c in range(3)] + ([matte] if mattes else [])
        for channel in channels:
            packed = pack(channel)
            data += struct.pack(">H", len(packed)) + packed
    with open(name, "wb") as f:
        f.write(header(bottom, top, mattes, gamma) + b"".join(struct.pack(">I", o) for o in offsets) + data)
    with open(name.rsplit(".", 1)[0] + ".rgb", "wb") as f:
        f.write(raw)


write("rgb.rla", 0, HEIGHT - 1, 0)
write("rgb-matte.rla", 0, HEIGHT - 1, 1)
write("rgb-topfirst.rpf", HEIGHT - 1, 0, 0)
write("rgb-gamma22.rla", 0, HEIGHT - 1, 0, gamma="2.2")

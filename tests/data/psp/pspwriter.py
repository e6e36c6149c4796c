"""Writes Paint Shop Pro files from the published description of the format (no Debian tool
writes them). Used by make-fixtures.py here and by bench/make-reader-inputs.py.

A file is a 36-byte header (signature and version) followed by blocks. A block header is
"~BK\\0", the block's id and its length; major version 3 has an extra initial-data length in
it, and from version 4 on every block's data starts with the length of its first chunk.
"""
import struct
import zlib

SIGNATURE = b"Paint Shop Pro Image File\n\x1a".ljust(32, b"\0")

IMAGE_BLOCK, COLOR_BLOCK, LAYER_BANK_BLOCK, LAYER_BLOCK, CHANNEL_BLOCK = 0, 2, 3, 4, 5
NONE, RLE, DEFLATE = 0, 1, 2
IMAGE_BITMAP, TRANSPARENCY_MASK = 0, 1
COMPOSITE, RED, GREEN, BLUE = 0, 1, 2, 3


def block(version, block_id, data, initial=None):
    if version == 3:
        initial = len(data) if initial is None else initial
        return b"~BK\0" + struct.pack("<HII", block_id, initial, len(data)) + data
    return b"~BK\0" + struct.pack("<HI", block_id, len(data)) + data


def chunk(version, data):
    """A block's first chunk: from version 4 on it begins with its own length."""
    return data if version == 3 else struct.pack("<I", len(data) + 4) + data


def rle(data):
    """Runs of 3 to 127 equal bytes as (128 + count, byte), everything else as literals of up
    to 127 bytes (count, bytes)."""
    out, i = bytearray(), 0
    while i < len(data):
        run = 1
        while i + run < len(data) and run < 127 and data[i + run] == data[i]:
            run += 1
        if run >= 3:
            out += bytes([128 + run, data[i]])
            i += run
            continue
        start = i
        while i < len(data) and i - start < 127 and not (i + 2 < len(data) and data[i] == data[i + 1] == data[i + 2]):
            i += 1
        out += bytes([i - start]) + data[start:i]
    return bytes(out)


def pack(compression, data):
    return {NONE: data, RLE: rle(data), DEFLATE: zlib.compress(data, 9)}[compression]


def channel(version, compression, bitmap_type, channel_type, data):
    packed = pack(compression, data)
    info = chunk(version, struct.pack("<IIHH", len(packed), len(data), bitmap_type, channel_type))
    return block(version, CHANNEL_BLOCK, info + packed, initial=len(info))


def rect(left, top, right, bottom):
    return struct.pack("<4i", left, top, right, bottom)


def layer(version, compression, layer_type, image_rect, saved_rect, channels, name=b"Background"):
    """channels: (bitmap type, channel type, unpacked rows) of the saved rectangle."""
    info = bytes([layer_type]) + rect(*image_rect) + rect(*saved_rect) + bytes([255, 0, 1, 0, 0])
    info += rect(0, 0, 0, 0) + rect(0, 0, 0, 0) + bytes([0, 0, 0]) + struct.pack("<H", 5) + bytes(40)
    assert len(info) == 115
    bitmaps = len({c[0] for c in channels})
    if version == 3:
        head = name.ljust(256, b"\0") + info + struct.pack("<HH", bitmaps, len(channels))
    else:
        head = chunk(version, struct.pack("<H", len(name)) + name + info)
        head += chunk(version, struct.pack("<HH", bitmaps, len(channels)))
    body = b"".join(channel(version, compression, *c) for c in channels)
    return block(version, LAYER_BLOCK, head + body, initial=len(head))


def attributes(version, width, height, bit_depth, compression, grey, colours, layer_count, dpi=72.0):
    data = struct.pack("<iidBHHHIBIiH", width, height, dpi, 1, compression, bit_depth, 1, colours, grey,
                       width * height * max(bit_depth, 8) // 8, 0, layer_count)
    if version > 3:
        data += struct.pack("<I", 1)  # graphic contents: raster layers
    return block(version, IMAGE_BLOCK, chunk(version, data))


def palette_block(version, palette):
    entries = b"".join(bytes([b, g, r, 0]) for r, g, b in palette)
    return block(version, COLOR_BLOCK, chunk(version, struct.pack("<I", len(palette))) + entries)


def psp_file(version, width, height, bit_depth, compression, layers, palette=None, grey=False):
    """layers: blocks made by layer(); palette: (red, green, blue) entries."""
    out = SIGNATURE + struct.pack("<HH", version, 0)
    colours = len(palette) if palette else 1 << min(bit_depth, 24)
    out += attributes(version, width, height, bit_depth, compression, int(grey), colours, len(layers))
    if palette:
        out += palette_block(version, palette)
    return out + block(version, LAYER_BANK_BLOCK, b"".join(layers))


def pack_indices(indices, bits, pad=True):
    """A row of palette indices packed most significant bits first. Paint Shop Pro pads rows of
    1 and 4-bit indices to a multiple of 4 bytes, as Windows bitmaps do (GIMP reads them so).
    """
    out, per = bytearray(), 8 // bits
    for i in range(0, len(indices), per):
        byte = 0
        for j, index in enumerate(indices[i:i + per]):
            byte |= index << (8 - bits * (j + 1))
        out.append(byte)
    if pad and bits < 8:
        out += bytes(-len(out) % 4)
    return bytes(out)


def read_ppm(path):
    """A binary PPM (P6, maxval 255): width, height and (red, green, blue) pixels."""
    data = open(path, "rb").read()
    fields, at = [], 0
    while len(fields) < 4:
        while data[at:at + 1].isspace():
            at += 1
        start = at
        while not data[at:at + 1].isspace():
            at += 1
        fields.append(data[start:at])
    width, height = int(fields[1]), int(fields[2])
    raw = data[at + 1:at + 1 + width * height * 3]
    return width, height, [tuple(raw[i:i + 3]) for i in range(0, len(raw), 3)]


def rgb_planes(width, height, pixels):
    return [bytes(p[c] for p in pixels) for c in range(3)]


def rgb_layer(version, compression, width, height, pixels, alpha=None):
    planes = rgb_planes(width, height, pixels)
    channels = [(IMAGE_BITMAP, RED + c, planes[c]) for c in range(3)]
    if alpha is not None:
        channels.append((TRANSPARENCY_MASK, COMPOSITE, alpha))
    full = (0, 0, width, height)
    return layer(version, compression, 1 if version > 3 else 0, full, full, channels)

"""PNG files from rows of pixels, with the standard library alone (zlib).

Two colour types are written: truecolour with alpha (the icon and the emblem)
and indexed colour with a palette of the picture's own colours (the port
dialog's pictures). Rows are stored unfiltered and compressed at level 9, so
the same pixels always give the same bytes.
"""
import os
import struct
import zlib

SIGNATURE = b"\x89PNG\r\n\x1a\n"


def _chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def _write(path, width, height, bit_depth, colour_type, raw, palette=None):
    png = SIGNATURE
    png += _chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, bit_depth, colour_type, 0, 0, 0))
    if palette is not None:
        png += _chunk(b"PLTE", b"".join(bytes(c) for c in palette))
    png += _chunk(b"IDAT", zlib.compress(bytes(raw), 9))
    png += _chunk(b"IEND", b"")
    folder = os.path.dirname(path)
    if folder:
        os.makedirs(folder, exist_ok=True)
    with open(path, "wb") as f:
        f.write(png)


def write_rgba(path, width, height, pixels):
    """pixels: list of rows, each a list of (r, g, b, a) tuples of 0..255."""
    raw = bytearray()
    for row in pixels:
        raw.append(0)  # filter: none
        for r, g, b, a in row:
            raw += bytes((r, g, b, a))
    _write(path, width, height, 8, 6, raw)


def write_indexed(path, rows, bit_depth=8):
    """rows: list of rows of (r, g, b) tuples. The palette holds the colours in
    the order they first appear; they must fit bit_depth bits."""
    palette = []
    index = {}
    for row in rows:
        for c in row:
            if c not in index:
                index[c] = len(palette)
                palette.append(c)
    if len(palette) > (1 << bit_depth):
        raise ValueError("%s: %d colours do not fit %d bits" % (path, len(palette), bit_depth))
    raw = bytearray()
    per_byte = 8 // bit_depth
    for row in rows:
        raw.append(0)  # filter: none
        if bit_depth == 8:
            raw.extend(index[c] for c in row)
        else:
            for x in range(0, len(row), per_byte):
                b = 0
                for k in range(per_byte):
                    v = index[row[x + k]] if x + k < len(row) else 0
                    b |= v << (8 - bit_depth * (k + 1))
                raw.append(b)
    _write(path, len(rows[0]), len(rows), bit_depth, 3, raw, palette)

#!/usr/bin/env python3
"""Converts an X window dump (xwd, true colour, 24 or 32 bits per pixel) to a PNG file.

Usage: xwd_to_png.py <dump.xwd> <picture.png>
"""
import struct
import sys
import zlib


def shift_of(mask):
    shift = 0
    while mask and not mask & 1:
        mask >>= 1
        shift += 1
    return shift


def main(source, target):
    data = open(source, "rb").read()
    fields = struct.unpack(">25I", data[:100])
    (header_size, _version, _format, _depth, width, height, _xoffset, byte_order, _unit, _bit_order,
     _pad, bits_per_pixel, bytes_per_line, _visual, red_mask, green_mask, blue_mask, _bits_per_rgb,
     _entries, ncolours) = fields[:20]
    if bits_per_pixel not in (24, 32):
        sys.exit(f"{source}: {bits_per_pixel} bits per pixel, only true colour is read")
    pixels = data[header_size + 12 * ncolours:]
    step = bits_per_pixel // 8
    endian = "little" if byte_order == 0 else "big"
    masks = [(m, shift_of(m)) for m in (red_mask, green_mask, blue_mask)]
    rows = bytearray()
    for y in range(height):
        line = pixels[y * bytes_per_line:(y + 1) * bytes_per_line]
        rows.append(0)  # no filter
        for x in range(width):
            value = int.from_bytes(line[x * step:(x + 1) * step], endian)
            rows.extend(((value & m) >> s) & 0xFF for m, s in masks)

    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body +
                struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))

    with open(target, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n")
        out.write(chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)))
        out.write(chunk(b"IDAT", zlib.compress(bytes(rows), 9)))
        out.write(chunk(b"IEND", b""))


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    main(sys.argv[1], sys.argv[2])

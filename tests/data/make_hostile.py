#!/usr/bin/env python3
"""Writes the crafted hostile files of tests/data (run from that folder).

rle_skipped.bmp: a 200x150 RLE8 bitmap whose data paints a few pixels and
skips the rest (a delta jump, then an early end of bitmap). Palette entry 0
is (10, 20, 30), entry 1 is (200, 100, 50); 10 pixels of the bottom row and
4 pixels at x 15..18 of the fourth row from the bottom are entry 1.
"""
import struct


def rle_bmp(width, height, data, name):
    palette = bytes([30, 20, 10, 0, 50, 100, 200, 0]) + bytes(4 * 254)
    offset = 14 + 40 + len(palette)
    info = struct.pack('<IiiHHIIiiII', 40, width, height, 1, 8, 1, len(data), 2835, 2835, 256, 0)
    head = b'BM' + struct.pack('<IHHI', offset + len(data), 0, 0, offset)
    with open(name, 'wb') as f:
        f.write(head + info + palette + data)


rle_bmp(200, 150, bytes([10, 1, 0, 2, 5, 3, 4, 1, 0, 1]), 'rle_skipped.bmp')

#!/usr/bin/python3
"""Writes the small PNGs of tests/data/png: every colour type and bit depth,
transparency, Adam7 interlacing and the colour chunks, by a writer of its
own (no library decides what goes into them). Run by hand when they change.
"""
import struct
import zlib
from pathlib import Path

HERE = Path(__file__).resolve().parent / "png"
W, H = 37, 23  # odd sizes: partial bytes at low depths, every Adam7 pass
CHANNELS = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}
ADAM7 = [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2)]


def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF)


def sample(x, y, c, depth):
    """A deterministic pattern covering the whole range of each channel."""
    top = (1 << depth) - 1
    v = (x * 7919 + y * 104729 + c * 31337 + (x * y) * 13) % (top + 1)
    if c == 3 and depth >= 8:  # alpha: every level, clear and opaque included
        v = (x * 11 + y * 3) * top // (W * 11 + H * 3)
    return v


def pack_row(values, depth):
    if depth == 16:
        return b"".join(struct.pack(">H", v) for v in values)
    if depth == 8:
        return bytes(values)
    out, acc, used = bytearray(), 0, 0
    for v in values:
        acc = (acc << depth) | v
        used += depth
        if used == 8:
            out.append(acc)
            acc, used = 0, 0
    if used:
        out.append(acc << (8 - used))
    return bytes(out)


def scanlines(ctype, depth, xs, ys):
    n = CHANNELS[ctype]
    raw = bytearray()
    for y in ys:
        values = [sample(x, y, c, depth) for x in xs for c in range(n)]
        raw += b"\0" + pack_row(values, depth)
    return bytes(raw)


def png(ctype, depth, interlace=False, extra=b""):
    ihdr = struct.pack(">IIBBBBB", W, H, depth, ctype, 0, 0, 1 if interlace else 0)
    if interlace:
        data = b""
        for x0, y0, dx, dy in ADAM7:
            xs, ys = list(range(x0, W, dx)), list(range(y0, H, dy))
            if xs and ys:
                data += scanlines(ctype, depth, xs, ys)
    else:
        data = scanlines(ctype, depth, range(W), range(H))
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + extra + chunk(b"IDAT", zlib.compress(data)) + chunk(b"IEND", b"")


def palette(n):
    return chunk(b"PLTE", bytes((i * 37 + c * 91) % 256 for i in range(n) for c in range(3)))


def main():
    HERE.mkdir(exist_ok=True)
    files = {}
    for depth in (1, 2, 4, 8, 16):
        files[f"grey{depth}"] = png(0, depth)
    files["grey1_trns_white"] = png(0, 1, extra=chunk(b"tRNS", struct.pack(">H", 1)))
    files["grey2_trns"] = png(0, 2, extra=chunk(b"tRNS", struct.pack(">H", 2)))
    files["grey8_trns"] = png(0, 8, extra=chunk(b"tRNS", struct.pack(">H", 77)))
    files["grey16_trns"] = png(0, 16, extra=chunk(b"tRNS", struct.pack(">H", 4660)))
    files["rgb8"] = png(2, 8)
    files["rgb16"] = png(2, 16)
    files["rgb8_trns"] = png(2, 8, extra=chunk(b"tRNS", struct.pack(">HHH", 10, 200, 30)))
    # the colour of pixel (0, 0): that one pixel clear
    files["rgb16_trns"] = png(2, 16, extra=chunk(b"tRNS", struct.pack(">HHH", 0, 31337, 62674)))
    for depth in (1, 2, 4, 8):
        files[f"palette{depth}"] = png(3, depth, extra=palette(1 << depth))
    files["palette8_trns"] = png(3, 8, extra=palette(256) + chunk(b"tRNS", bytes(range(0, 250, 2))))
    files["palette8_short"] = png(3, 8, extra=palette(100))  # indices past the palette
    files["palette1_one_colour"] = png(3, 1, extra=palette(1))
    files["greyalpha8"] = png(4, 8)
    files["greyalpha16"] = png(4, 16)
    files["rgba8"] = png(6, 8)
    files["rgba16"] = png(6, 16)
    for name, (ctype, depth) in {"rgba8": (6, 8), "rgb16": (2, 16), "grey2": (0, 2), "palette4": (3, 4)}.items():
        files[f"{name}_interlaced"] = png(ctype, depth, True, palette(16) if ctype == 3 else b"")
    icc = (Path(__file__).resolve().parent / "displayp3.icc").read_bytes()
    files["rgb8_iccp"] = png(2, 8, extra=chunk(b"iCCP", b"Display P3\0\0" + zlib.compress(icc)))
    files["rgb8_srgb"] = png(2, 8, extra=chunk(b"sRGB", b"\0"))
    files["rgb8_gama"] = png(2, 8, extra=chunk(b"gAMA", struct.pack(">I", 65000)))
    chrm = struct.pack(">8I", 31270, 32900, 64000, 33000, 21000, 71000, 15000, 6000)
    files["rgb8_gama_chrm"] = png(2, 8, extra=chunk(b"gAMA", struct.pack(">I", 45455)) + chunk(b"cHRM", chrm))
    files["rgba16_gama"] = png(6, 16, extra=chunk(b"gAMA", struct.pack(">I", 100000)))
    files["grey8_gama"] = png(0, 8, extra=chunk(b"gAMA", struct.pack(">I", 45455)))
    files["palette8_iccp_and_srgb"] = png(3, 8, extra=chunk(b"iCCP", b"P3\0\0" + zlib.compress(icc)) + chunk(b"sRGB", b"\0") + palette(256))
    for name, data in files.items():
        (HERE / f"{name}.png").write_bytes(data)


if __name__ == "__main__":
    main()

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


# JPEGs made with cjpeg -quality 85 (restarts.jpg with -restart 2,
# progressive.jpg with -progressive) from a 320x213 reduction of
# mate-backgrounds' Elephants.jpg; each hostile one flips one bit of their
# scan data, where djpeg then reports corrupt data and nothing else.
def flipped(source, offset, mask, name):
    data = bytearray(open(source, 'rb').read())
    data[offset] ^= mask
    open(name, 'wb').write(data)


flipped('sequential.jpg', 18677, 8, 'flip_lost_place.jpg')      # 28 extraneous bytes before the end marker
flipped('restarts.jpg', 5858, 1, 'flip_before_restart.jpg')     # 173 extraneous bytes before RST1
flipped('progressive.jpg', 14242, 64, 'flip_before_scan.jpg')   # 62 extraneous bytes before a later scan's DHT

# A progressive JPEG whose frame header claims 16384x16384 while its scans
# hold the data of 320x213.
data = bytearray(open('progressive.jpg', 'rb').read())
sof = data.index(b'\xff\xc2')
data[sof + 5:sof + 9] = struct.pack('>HH', 16384, 16384)
open('lying_progressive.jpg', 'wb').write(data)


# HEIF grids built around photo.heic's coded picture (192x120): every tile
# is that picture. grid.heic is an honest 2x2 grid of 384x240;
# lying_grid.heic is a 5x5 grid whose descriptor makes a 20480x20480 canvas
# while its ispe says 512x512.
def box(kind, body):
    return struct.pack('>I', 8 + len(body)) + kind + body


def full(kind, version, body, flags=0):
    return box(kind, struct.pack('>I', version << 24 | flags) + body)


def heif_grid(rows, cols, canvas, grid_ispe, tile_ispe, name):
    photo = open('photo.heic', 'rb').read()
    hvcc = photo[photo.index(b'hvcC') - 4:][:struct.unpack('>I', photo[photo.index(b'hvcC') - 4:][:4])[0]]
    coded = photo[0x166:0x166 + 0x21ff]  # the picture's data, as its iloc says
    tiles = list(range(2, 2 + rows * cols))
    infe = [full(b'infe', 2, struct.pack('>HH', 1, 0) + b'grid\0')]
    infe += [full(b'infe', 2, struct.pack('>HH', t, 0) + b'hvc1\0', flags=1) for t in tiles]  # hidden
    iinf = full(b'iinf', 0, struct.pack('>H', len(infe)) + b''.join(infe))
    descriptor = struct.pack('>BBBBII', 0, 1, rows - 1, cols - 1, *canvas)
    ipco = box(b'ipco', hvcc + full(b'ispe', 0, struct.pack('>II', *tile_ispe)) + full(b'ispe', 0, struct.pack('>II', *grid_ispe)))
    ipma = full(b'ipma', 0, struct.pack('>I', 1 + len(tiles)) + struct.pack('>HBB', 1, 1, 0x83)
                + b''.join(struct.pack('>HBBB', t, 2, 0x81, 0x82) for t in tiles))
    iref = full(b'iref', 0, box(b'dimg', struct.pack('>HH', 1, len(tiles)) + b''.join(struct.pack('>H', t) for t in tiles)))
    hdlr = full(b'hdlr', 0, struct.pack('>I', 0) + b'pict' + bytes(12) + b'\0')
    pitm = full(b'pitm', 0, struct.pack('>H', 1))
    ftyp = box(b'ftyp', b'heic' + struct.pack('>I', 0) + b'mif1heic')

    def meta(mdat_at):
        entries = struct.pack('>HHHHII', 1, 1, 0, 1, 0, len(descriptor))
        entries += b''.join(struct.pack('>HHHHII', t, 0, 0, 1, mdat_at, len(coded)) for t in tiles)
        iloc = full(b'iloc', 1, struct.pack('>BBH', 0x44, 0x00, 1 + len(tiles)) + entries)
        return full(b'meta', 0, hdlr + pitm + iloc + iinf + iref + box(b'iprp', ipco + ipma) + box(b'idat', descriptor))

    start = len(ftyp) + len(meta(0)) + 8
    open(name, 'wb').write(ftyp + meta(start) + box(b'mdat', coded))


heif_grid(2, 2, (384, 240), (384, 240), (192, 120), 'grid.heic')
heif_grid(5, 5, (20480, 20480), (512, 512), (4096, 4096), 'lying_grid.heic')


# exif.jpg: a 300x200 photo whose EXIF holds what --metadata safe keeps
# (make, model, date taken, exposure) and what it drops (GPS, serial
# number, owner, a thumbnail), with orientation 6 (turned right).
def exif_photo(name):
    from PIL import Image
    picture = Image.open('sequential.jpg').resize((300, 200))
    exif = Image.Exif()
    exif[0x010F] = 'TovalinCam'        # Make
    exif[0x0110] = 'Model T'           # Model
    exif[0x0112] = 6                   # Orientation
    exif[0x0132] = '2026:12:01 10:00:00'
    from PIL.TiffImagePlugin import IFDRational
    exif[0x8769] = {
        0x9003: '2026:12:01 09:59:58',  # DateTimeOriginal
        0x829A: IFDRational(1, 250),    # ExposureTime
        0x829D: IFDRational(28, 10),    # FNumber
        0x8827: 200,                    # ISO
        0xA431: 'SN-12345',             # BodySerialNumber
        0xA430: 'Jane Owner',           # CameraOwnerName
    }
    exif[0x8825] = {1: 'N', 2: (IFDRational(35, 1), IFDRational(39, 1), IFDRational(0, 1))}
    picture.save(name, quality=85, exif=exif)


exif_photo('exif.jpg')


# nested_overlay.heic: a 1x1 grid of 192x120 whose one tile is itself an
# overlay of a 30000x30000 canvas over photo.heic's picture (found by
# fuzzing: libheif makes the overlay's canvas).
def nested_overlay(name):
    photo = open('photo.heic', 'rb').read()
    hvcc = photo[photo.index(b'hvcC') - 4:][:struct.unpack('>I', photo[photo.index(b'hvcC') - 4:][:4])[0]]
    coded = photo[0x166:0x166 + 0x21ff]
    grid = struct.pack('>BBBBII', 0, 1, 0, 0, 192, 120)
    overlay = struct.pack('>BB4HII', 0, 1, 0, 0, 0, 0, 30000, 30000) + struct.pack('>II', 0, 0)
    infe = [full(b'infe', 2, struct.pack('>HH', 1, 0) + b'grid\0'),
            full(b'infe', 2, struct.pack('>HH', 2, 0) + b'iovl\0', flags=1),
            full(b'infe', 2, struct.pack('>HH', 3, 0) + b'hvc1\0', flags=1)]
    iinf = full(b'iinf', 0, struct.pack('>H', 3) + b''.join(infe))
    ipco = box(b'ipco', hvcc + full(b'ispe', 0, struct.pack('>II', 192, 120)))
    ipma = full(b'ipma', 0, struct.pack('>I', 3) + struct.pack('>HBB', 1, 1, 0x82) + struct.pack('>HBB', 2, 1, 0x82)
                + struct.pack('>HBBB', 3, 2, 0x81, 0x82))
    iref = full(b'iref', 0, box(b'dimg', struct.pack('>HHH', 1, 1, 2)) + box(b'dimg', struct.pack('>HHH', 2, 1, 3)))
    hdlr = full(b'hdlr', 0, struct.pack('>I', 0) + b'pict' + bytes(12) + b'\0')
    pitm = full(b'pitm', 0, struct.pack('>H', 1))
    ftyp = box(b'ftyp', b'heic' + struct.pack('>I', 0) + b'mif1heic')

    def meta(mdat_at):
        entries = struct.pack('>HHHHII', 1, 1, 0, 1, 0, len(grid)) + struct.pack('>HHHHII', 2, 1, 0, 1, len(grid), len(overlay))
        entries += struct.pack('>HHHHII', 3, 0, 0, 1, mdat_at, len(coded))
        iloc = full(b'iloc', 1, struct.pack('>BBH', 0x44, 0x00, 3) + entries)
        return full(b'meta', 0, hdlr + pitm + iloc + iinf + iref + box(b'iprp', ipco + ipma) + box(b'idat', grid + overlay))

    start = len(ftyp) + len(meta(0)) + 8
    open(name, 'wb').write(ftyp + meta(start) + box(b'mdat', coded))


nested_overlay('nested_overlay.heic')

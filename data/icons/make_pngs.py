#!/usr/bin/python3
"""Renders tovalin.svg's shapes to the hicolor PNG sizes (Debian's python3-pil).

The SVG is the source; this draws the same rectangles and arrow at 8x and
scales down, since Debian 12's ImageMagick has no SVG renderer by default.
"""
from PIL import Image, ImageDraw

SS = 8  # supersampling
YELLOW, BLUE, NAVY = (255, 255, 128, 255), (70, 110, 200, 255), (40, 60, 140, 255)


def render(size):
    k = size * SS / 128
    im = Image.new("RGBA", (round(128 * k),) * 2, (0, 0, 0, 0))
    d = ImageDraw.Draw(im)
    s = lambda *v: [round(x * k) for x in v]
    d.rounded_rectangle(s(0, 0, 128, 128), radius=round(14 * k), fill=NAVY)
    d.rounded_rectangle(s(8, 8, 120, 120), radius=round(6 * k), fill=YELLOW)
    d.rectangle(s(17, 49, 79, 111), fill=NAVY)
    d.rectangle(s(23, 55, 73, 105), fill=BLUE)
    w = round(8 * k)
    d.line(s(108, 20, 72, 56), fill=NAVY, width=w)
    d.line(s(72, 32, 72, 56, 96, 56), fill=NAVY, width=w, joint="curve")
    return im.resize((size, size), Image.LANCZOS)


for size in (16, 32, 48, 64, 128, 256):
    render(size).save(f"tovalin-{size}.png")

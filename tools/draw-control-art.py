#!/usr/bin/env python3
"""Draws the artwork of the program's own controls in the instrument's brown
and orange palette, pixel by pixel so that it stays crisp at its size:

  resources/hsliderbk.bmp   211 x 24  track of the horizontal sliders
  resources/hsliderind.bmp   11 x 20  their thumb (a fader cap)
  resources/sliderbk.bmp     30 x 108 track of the two wheels
  resources/sliderind.bmp    24 x 10  their thumb
  resources/spin.bmp         16 x 22  the spin buttons: up arrow over down arrow
  src/gui/controls/SwitchImages.h       the on/off switch as XPM data: a lit green
                                      lamp (20 x 21) and an unlit grey one (20 x 20)

The thumbs travel over the track less their own size with the pointer on
their centre, so the tick marks of a track sit where a thumb's centre can be.

Usage: tools/draw-control-art.py [source-dir]
"""
import math
import os
import struct
import sys

BACKGROUND = (102, 51, 0)
TEXT = (255, 204, 102)
EDITOR = (34, 17, 0)
ORANGE = (204, 102, 0)
DARK = (51, 25, 0)
DEEP = (77, 38, 0)
RUST = (153, 76, 0)
LIGHT = (255, 153, 51)


def canvas(w, h, colour=BACKGROUND):
    return [[colour] * w for _ in range(h)]


def mix(a, b, t):
    t = max(0.0, min(1.0, t))
    return tuple(int(round(a[i] + (b[i] - a[i]) * t)) for i in range(3))


def rect(px, x0, y0, x1, y1, colour):
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            px[y][x] = colour


def write_bmp(path, px):
    h, w = len(px), len(px[0])
    row_bytes = (w * 3 + 3) & ~3
    data = bytearray()
    for y in range(h - 1, -1, -1):  # bottom-up
        row = bytearray()
        for (r, g, b) in px[y]:
            row += bytes((b, g, r))
        row += b"\0" * (row_bytes - len(row))
        data += row
    header = struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + data)


def groove(px, x0, y0, x1, y1):
    """A slot sunk into the panel: dark inside, shadow on the upper/left lip,
    a lit lower/right lip."""
    rect(px, x0, y0, x1, y1, EDITOR)
    for x in range(x0, x1 + 1):
        px[y0][x] = DARK
        px[y1][x] = RUST
    for y in range(y0, y1 + 1):
        px[y][x0] = DARK
        px[y][x1] = RUST


def horizontal_track():
    w, h = 211, 24
    px = canvas(w, h)
    groove(px, 3, 10, 207, 13)
    # Ticks under the groove where the thumb's centre stands at 0, 10, ..., 100 %.
    for k in range(11):
        x = 5 + 20 * k
        long_tick = k in (0, 5, 10)
        for y in range(17, 22 if long_tick else 20):
            px[y][x] = TEXT if long_tick else ORANGE
    return px


def vertical_track():
    w, h = 30, 108
    px = canvas(w, h)
    groove(px, 13, 3, 16, 104)
    for k in range(9):
        y = 5 + round(98 * k / 8)
        long_tick = k in (0, 4, 8)
        for x in range(4 if long_tick else 6, 10):
            px[y][x] = TEXT if long_tick else ORANGE
        for x in range(20, 26 if long_tick else 24):
            px[y][x] = TEXT if long_tick else ORANGE
    return px


def fader_cap(w, h, line_vertical):
    """A bevelled orange cap with a dark index line across its middle."""
    px = canvas(w, h)
    for y in range(h):
        for x in range(w):
            t = (y / (h - 1)) * 0.7 + (x / (w - 1)) * 0.3
            px[y][x] = mix(TEXT, ORANGE, t)
    for x in range(w):
        px[0][x] = DARK
        px[h - 1][x] = DARK
        px[1][x] = mix(px[1][x], (255, 240, 200), 0.6) if 0 < x < w - 1 else DARK
        px[h - 2][x] = RUST if 0 < x < w - 1 else DARK
    for y in range(h):
        px[y][0] = DARK
        px[y][w - 1] = DARK
        if 1 < y < h - 2:
            px[y][1] = mix(px[y][1], (255, 240, 200), 0.5)
            px[y][w - 2] = RUST
    if line_vertical:
        cx = w // 2
        for y in range(3, h - 3):
            px[y][cx] = DEEP
    else:
        for x in range(3, w - 3):
            px[h // 2 - 1][x] = DEEP
            px[h // 2][x] = mix(DEEP, TEXT, 0.35)
    return px


def spin_button():
    w, h = 16, 22
    px = canvas(w, h)
    for (y0, y1, up) in ((0, 10, True), (11, 21, False)):
        for y in range(y0, y1 + 1):
            for x in range(w):
                px[y][x] = mix(RUST, DEEP, (y - y0) / (y1 - y0))
        for x in range(w):
            px[y0][x] = ORANGE
            px[y1][x] = DARK
        for y in range(y0, y1 + 1):
            px[y][0] = ORANGE if y < y1 else DARK
            px[y][w - 1] = DARK
        # The arrow: rows 2, 4, 6, 8 pixels wide, centred on the even width.
        mid = (y0 + y1) // 2
        for r in range(4):
            y = (mid - 2 + r) if up else (mid + 1 - r)
            for x in range(7 - r, 9 + r):
                px[y][x] = TEXT
    return px


def lamp(size_w, size_h, centre, bright, dark, rim, shades):
    """A round lamp on a transparent ground (None where transparent)."""
    cx, cy = centre
    radius = min(size_w, size_h) / 2 - 0.8
    px = [[None] * size_w for _ in range(size_h)]
    for y in range(size_h):
        for x in range(size_w):
            d = math.hypot(x + 0.5 - cx, y + 0.5 - cy)
            if d > radius:
                continue
            if d > radius - 1.2:
                px[y][x] = rim
                continue
            # Light from the upper left.
            hx, hy = cx - radius * 0.35, cy - radius * 0.4
            t = math.hypot(x + 0.5 - hx, y + 0.5 - hy) / (radius * 1.45)
            # A fixed number of shades keeps the XPM palette small.
            px[y][x] = mix(bright, dark, round(min(t, 1.0) * (shades - 1)) / (shades - 1))
    return px


def to_xpm(name, px, chars_per_pixel, max_colours):
    h, w = len(px), len(px[0])
    colours = sorted({c for row in px for c in row if c is not None})
    assert len(colours) + 1 <= max_colours, (name, len(colours))
    alphabet = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789#$%&*+-=@"
    codes = {}
    if chars_per_pixel == 1:
        for i, c in enumerate(colours):
            codes[c] = alphabet[i]
        none_code = "."
    else:
        for i, c in enumerate(colours):
            codes[c] = alphabet[i // len(alphabet)] + alphabet[i % len(alphabet)]
        none_code = ".."
    lines = ['"%d %d %d %d",' % (w, h, len(colours) + 1, chars_per_pixel)]
    lines.append('"%s c None",' % none_code)
    for c in colours:
        lines.append('"%s c #%02X%02X%02X",' % ((codes[c],) + c))
    for y, row in enumerate(px):
        text = "".join(none_code if c is None else codes[c] for c in row)
        lines.append('"%s"%s' % (text, "," if y < h - 1 else ""))
    return "static const char* const %s[] = {\n%s\n};\n" % (name, "\n".join(lines))


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
    res = os.path.join(root, "resources")
    write_bmp(os.path.join(res, "hsliderbk.bmp"), horizontal_track())
    write_bmp(os.path.join(res, "hsliderind.bmp"), fader_cap(11, 20, True))
    write_bmp(os.path.join(res, "sliderbk.bmp"), vertical_track())
    write_bmp(os.path.join(res, "sliderind.bmp"), fader_cap(24, 10, False))
    write_bmp(os.path.join(res, "spin.bmp"), spin_button())
    on = lamp(20, 21, (10.0, 10.5), (200, 255, 150), (0, 110, 20), (0, 60, 10), 60)
    off = lamp(20, 20, (10.0, 10.0), (215, 215, 215), (70, 70, 70), (40, 40, 40), 40)
    with open(os.path.join(root, "src", "gui", "controls", "SwitchImages.h"), "w") as f:
        f.write("#pragma once\n// The on/off switch's two pictures. Drawn by tools/draw-control-art.py;\n"
                "// edit that script, not this file.\n\n")
        f.write(to_xpm("switch_on_xpm", on, 2, 94))
        f.write("\n")
        f.write(to_xpm("switch_off_xpm", off, 1, 62))


if __name__ == "__main__":
    main()

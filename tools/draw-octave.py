#!/usr/bin/env python3
"""Draws the on-screen keyboard's artwork: resources/octave.bmp (one octave
of piano keys, 137 x 99, keys where the octave control's hit tables put them)
and the two red ball markers of held keys as XPM data
(resources/octave_marker_white.xpm 14 x 14, resources/octave_marker_black.xpm
11 x 11), and the window icon resources/marovane.ico. Seven octaves side by side read as one keyboard: the left edge of
every C carries the seam to the B before it.

Usage: tools/draw-octave.py [resources-dir]
"""
import math
import os
import struct
import sys

W, H = 137, 99
SPLIT = 56  # black keys end above this line
# White keys: (first x, last x) in the lower zone.
WHITE = [(0, 19), (20, 38), (39, 58), (59, 77), (78, 97), (98, 116), (117, 136)]
# Black keys: (first x, last x), from the top down to SPLIT - 1.
BLACK = [(12, 24), (36, 47), (70, 82), (92, 103), (114, 125)]
# Seams between white keys; those at 0 and 59 (B|C and E|F) run the full height.
SEAMS = [0, 20, 39, 59, 78, 98, 117]


def mix(a, b, t):
    return tuple(int(round(a[i] + (b[i] - a[i]) * t)) for i in range(3))


def draw_octave():
    px = [[(0, 0, 0)] * W for _ in range(H)]
    ivory_top, ivory_bottom = (252, 249, 240), (226, 220, 204)
    for y in range(H):
        t = y / (H - 1)
        c = mix(ivory_top, ivory_bottom, t * t)
        for x in range(W):
            px[y][x] = c
    # The lip of the case throws a soft shadow over the top of the keys.
    for y in range(4):
        for x in range(W):
            px[y][x] = mix((70, 40, 30), px[y][x], (y + 1) / 5)
    # Rounded front edge of the white keys.
    for y in range(H - 5, H):
        k = (y - (H - 5)) / 4
        for x in range(W):
            px[y][x] = mix(px[y][x], (150, 144, 130), k)
    # Seams: a dark line with a light line beside it, like a gap between keys.
    for sx in SEAMS:
        top = 0 if sx in (0, 59) else SPLIT
        for y in range(top, H):
            px[y][sx] = (96, 90, 80)
            if sx + 1 < W:
                px[y][sx + 1] = mix(px[y][sx + 1], (255, 255, 255), 0.6)
        # Seams under the black keys show between them only from SPLIT on.
    # Black keys with their shadow on the white keys to the right and below.
    for (x0, x1) in BLACK:
        for y in range(4, SPLIT + 3):
            for x in range(x0 + 1, min(x1 + 3, W)):
                if y >= SPLIT or x > x1:
                    px[y][x] = mix(px[y][x], (120, 110, 95), 0.45)
        for y in range(0, SPLIT):
            for x in range(x0, x1 + 1):
                edge = x in (x0, x1)
                if edge:
                    c = (8, 8, 8)
                elif y >= SPLIT - 7:  # the sloped front of the key
                    c = mix((70, 68, 66), (24, 24, 24), (y - (SPLIT - 7)) / 6)
                else:
                    # the top face: a faint sheen down the middle
                    mid = (x0 + x1) / 2
                    d = abs(x - mid) / ((x1 - x0) / 2)
                    c = mix((52, 50, 50), (18, 18, 18), min(1.0, d * 1.2))
                    c = mix(c, (30, 30, 30), y / SPLIT * 0.5)
                px[y][x] = c
        # highlight along the left of the top face
        for y in range(2, SPLIT - 8):
            px[y][x0 + 1] = (85, 83, 80)
    return px


def write_bmp(path, px):
    h, w = len(px), len(px[0])
    row = (w * 3 + 3) & ~3
    data = bytearray()
    for y in range(h - 1, -1, -1):
        line = bytearray()
        for x in range(w):
            r, g, b = px[y][x]
            line += bytes((b, g, r))
        line += b"\0" * (row - w * 3)
        data += line
    header = struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + data)


def ball(size, step):
    """A shaded red ball lit from the upper left, None outside it."""
    r = size / 2.0
    out = []
    for y in range(size):
        line = []
        for x in range(size):
            dx, dy = (x + 0.5 - r) / r, (y + 0.5 - r) / r
            d2 = dx * dx + dy * dy
            if d2 > 1.0:
                line.append(None)
                continue
            z = math.sqrt(1.0 - d2)
            lx, ly, lz = -0.45, -0.55, 0.70
            n = math.sqrt(lx * lx + ly * ly + lz * lz)
            diffuse = max(0.0, (dx * lx + dy * ly + z * lz) / n)
            shine = diffuse ** 18
            c = [90 + 150 * diffuse, 6 + 20 * diffuse, 6 + 16 * diffuse]
            c = [min(255.0, v + 230 * shine) for v in c]
            if d2 > 0.78:  # darker rim against the key
                c = [v * 0.7 for v in c]
            line.append(tuple(min(255, int(v) // step * step) for v in c))
        out.append(line)
    return out


CHARS = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789#$%&*+-=<>@^~/.,:;!()[]{}|"


def write_xpm(path, name, px):
    colours = sorted({c for line in px for c in line if c is not None})
    assert len(colours) < len(CHARS), (name, len(colours))
    code = {c: CHARS[i] for i, c in enumerate(colours)}
    size = len(px)
    lines = [f'"{size} {size} {len(colours) + 1} 1"', '"  c None"']
    lines += [f'"{code[c]} c #{c[0]:02X}{c[1]:02X}{c[2]:02X}"' for c in colours]
    lines += ['"' + "".join(" " if c is None else code[c] for c in line) + '"' for line in px]
    with open(path, "w") as f:
        f.write("/* XPM */\n")
        f.write(f"static const char* const {name}[] = {{\n")
        f.write(",\n".join(lines))
        f.write("};\n")


def draw_icon(size=32):
    """Three white keys and two black ones on the window's brown."""
    brown, ivory, black = (102, 51, 0), (250, 246, 235), (20, 20, 20)
    px = [[brown + (255,)] * size for _ in range(size)]
    x0, x1, y0, y1 = 3, size - 4, 5, size - 5
    keys = 3
    kw = (x1 - x0 + 1) / keys
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            seam = any(int(x0 + i * kw) == x for i in range(1, keys))
            px[y][x] = ((110, 100, 90) if seam else ivory) + (255,)
    for i in range(1, keys):
        cx = x0 + i * kw
        for y in range(y0, y0 + int((y1 - y0) * 0.6)):
            for x in range(int(cx - kw * 0.3), int(cx + kw * 0.3) + 1):
                px[y][x] = black + (255,)
    return px


def write_ico(path, px):
    """One 32-bit image in a Windows icon file (BMP inside, bottom-up)."""
    size = len(px)
    xor = bytearray()
    for y in range(size - 1, -1, -1):
        for x in range(size):
            r, g, b, a = px[y][x]
            xor += bytes((b, g, r, a))
    and_row = ((size + 31) // 32) * 4
    mask = bytes(and_row * size)
    dib = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    image = dib + xor + mask
    head = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(image), 6 + 16)
    with open(path, "wb") as f:
        f.write(head + entry + image)


def main():
    res = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "resources")
    write_bmp(os.path.join(res, "octave.bmp"), draw_octave())
    write_xpm(os.path.join(res, "octave_marker_white.xpm"), "octave_marker_white_xpm", ball(14, 4))
    write_xpm(os.path.join(res, "octave_marker_black.xpm"), "octave_marker_black_xpm", ball(11, 4))
    write_ico(os.path.join(res, "marovane.ico"), draw_icon())


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Draws the eight 18 x 18 faces of the main window's bitmap buttons and
writes them as XPM data to src/gui/app/ButtonFaces.h.

Every face is pixel art lit from the top left: a dark outline, a light bevel
on the upper and left inner edges, a darker one on the lower and right inner
edges. Each has exactly one transparent colour.

Usage: tools/draw-button-faces.py [output-header]
"""
import math
import os
import sys

N = 18


def hexc(s):
    return (int(s[1:3], 16), int(s[3:5], 16), int(s[5:7], 16))


def blank():
    return [[None] * N for _ in range(N)]


def parse_mask(rows):
    assert len(rows) == N, len(rows)
    for r in rows:
        assert len(r) == N, r
    return [[ch != "." for ch in r] for r in rows]


def from_grid(rows, palette):
    """A face drawn character by character; '.' is transparent."""
    assert len(rows) == N, len(rows)
    px = blank()
    for y, r in enumerate(rows):
        assert len(r) == N, (y, r)
        for x, ch in enumerate(r):
            if ch != ".":
                px[y][x] = hexc(palette[ch])
    return px


def inside(mask, x, y):
    return 0 <= x < N and 0 <= y < N and mask[y][x]


def bevel(mask, outline, light, base, dark, px=None):
    """Fills a mask: outline on its rim, light just inside the upper and left
    rim, dark just inside the lower and right rim, base elsewhere."""
    px = px or blank()
    rim = [[False] * N for _ in range(N)]
    for y in range(N):
        for x in range(N):
            if mask[y][x] and not all(inside(mask, x + dx, y + dy) for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1))):
                rim[y][x] = True
    for y in range(N):
        for x in range(N):
            if not mask[y][x]:
                continue
            if rim[y][x]:
                c = outline
            elif rim[y - 1][x]:
                c = light
            elif rim[y + 1][x]:
                c = dark
            elif rim[y][x - 1]:
                c = light
            elif rim[y][x + 1]:
                c = dark
            else:
                c = base
            px[y][x] = hexc(c)
    return px


def halo(mask, px, colour):
    """A one-pixel light ring around a mask, so that a dark glyph reads on a
    dark button as well as on a light one."""
    for y in range(N):
        for x in range(N):
            if mask[y][x]:
                continue
            if any(inside(mask, x + dx, y + dy) for dx in (-1, 0, 1) for dy in (-1, 0, 1)):
                px[y][x] = hexc(colour)
    return px


ORANGE = ("#7A3A00", "#FFD070", "#FF9A1A", "#D86A00")


def arrow(pointing_left):
    mask = [[False] * N for _ in range(N)]
    for y in range(2, 16):
        x0 = 1 + int(abs(y - 8.5))
        x1 = 16 if 5 <= y <= 12 else 8
        for x in range(x0, x1 + 1):
            mask[y][x] = True
    if not pointing_left:
        mask = [list(reversed(r)) for r in mask]
    return bevel(mask, *ORANGE)


def panic():
    mask = parse_mask([
        "..................",
        ".......####.......",
        "......######......",
        "......######......",
        "......######......",
        "......######......",
        "......######......",
        ".......####.......",
        ".......####.......",
        ".......####.......",
        ".......####.......",
        "........##........",
        "..................",
        ".......####.......",
        "......######......",
        "......######......",
        ".......####.......",
        "..................",
    ])
    return bevel(mask, "#4A1206", "#E8866A", "#B8401E", "#882A10")


def about():
    mask = parse_mask([
        "..................",
        "........##........",
        ".......####.......",
        ".......####.......",
        "........##........",
        "..................",
        ".....######.......",
        ".....######.......",
        ".......####.......",
        ".......####.......",
        ".......####.......",
        ".......####.......",
        ".......####.......",
        ".......####.......",
        ".....########.....",
        ".....########.....",
        "..................",
        "..................",
    ])
    return bevel(mask, "#0A2466", "#8CB4FF", "#2F6AE0", "#1A46A8")


def help_face():
    mask = parse_mask([
        "..................",
        "......######......",
        "....##########....",
        "...############...",
        "...####....####...",
        "...####....####...",
        "...........####...",
        "..........#####...",
        ".........#####....",
        "........#####.....",
        ".......#####......",
        ".......####.......",
        ".......####.......",
        "..................",
        ".......####.......",
        ".......####.......",
        ".......####.......",
        "..................",
    ])
    px = bevel(mask, "#000000", "#6A6A6A", "#262626", "#0A0A0A")
    return halo(mask, px, "#FFF2D6")


def midi():
    c = 9.0
    mask = [[math.hypot(x + 0.5 - c, y + 0.5 - c) <= 8.95 for x in range(N)] for y in range(N)]
    px = bevel(mask, "#2A1E40", "#FAF6FF", "#E2D6F8", "#B4A2D8")
    for y in range(N):
        for x in range(N):
            dx, dy = x + 0.5 - c, y + 0.5 - c
            d = math.hypot(dx, dy)
            lit = -(dx + dy) / max(d, 1e-6)  # 1 towards the top left
            if 5.9 <= d < 7.0:
                # the groove between the metal shell and the insulating face
                px[y][x] = hexc("#5E4A86") if lit > -0.2 else hexc("#8E7AB8")
            elif d < 5.9:
                px[y][x] = hexc("#D2C4EE") if lit > -0.5 or d < 3 else hexc("#C0B0E2")
    # Five pin holes on a half circle, and the key notch at the bottom.
    hole, deep = hexc("#2A1E40"), hexc("#140C22")
    for cx, cy in ((5, 9), (6, 6), (9, 5), (12, 6), (13, 9)):
        px[cy - 1][cx - 1] = deep
        px[cy - 1][cx] = hole
        px[cy][cx - 1] = hole
        px[cy][cx] = hexc("#7E6AA8")
    for x in (8, 9):
        for y in (14, 15):
            px[y][x] = hole
    return px


def audio():
    return from_grid([
        "........KK........",
        ".......KWgK.......",
        ".......KKKK.......",
        ".......KWgK.......",
        ".......KLgK.......",
        ".......KKKK.......",
        ".......KWgK.......",
        ".......KLgK.......",
        ".....KKKKKKKK.....",
        ".....KWLLggGK.....",
        ".....KWLgggGK.....",
        ".....KLLggGGK.....",
        "......KggGGK......",
        "CC.....KgGK.......",
        "cCC....KgGK.......",
        ".ccC....Cc........",
        "..cccCCCcc........",
        "....cccc..........",
    ], {"K": "#141414", "W": "#B0B0B0", "L": "#858585", "g": "#5E5E5E",
        "G": "#404040", "c": "#1E1E1E", "C": "#4E4E4E"})


def folder():
    return from_grid([
        "..................",
        "..................",
        ".oooo.............",
        "oBBBBo............",
        "oBbbbboooooooooo..",
        "oBbppppppppppbbbo.",
        "oBbpwwwwwwwwpbbbo.",
        "oBbpwooooooooooooo",
        "oBbpoFFFFFFFFFFFFo",
        "oBbpofffffffffffo.",
        "oBboffffffffffffo.",
        "oBbofffffffffffo..",
        "oBofffffffffffffo.",
        "oBoffffffffffffo..",
        "ooffffffffffffo...",
        "oosssssssssssso...",
        "oooooooooooooo....",
        "..................",
    ], {"o": "#6A4400", "B": "#F2C850", "b": "#D49E18", "p": "#A8A8A0",
        "w": "#FFFFFF", "F": "#FFF0A0", "f": "#FFD33C", "s": "#E0A818"})


CHARS = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789#$%&*+-=<>@^~/.,:;!()[]{}|"


def xpm_lines(name, px):
    colours = sorted({c for line in px for c in line if c is not None})
    assert len(colours) < len(CHARS), (name, len(colours))
    code = {c: CHARS[i] for i, c in enumerate(colours)}
    lines = [f'"{N} {N} {len(colours) + 1} 1"', '"  c None"']
    lines += [f'"{code[c]} c #{c[0]:02X}{c[1]:02X}{c[2]:02X}"' for c in colours]
    lines += ['"' + "".join(" " if c is None else code[c] for c in line) + '"' for line in px]
    return f"static const char* const {name}[] = {{\n" + ",\n".join(lines) + "};\n"


FACES = [
    ("copy_left_xpm", "Copy the sustain spectrum into the attack spectrum: an orange arrow pointing left.", lambda: arrow(True)),
    ("copy_right_xpm", "Copy the attack spectrum into the sustain spectrum: an orange arrow pointing right.", lambda: arrow(False)),
    ("panic_xpm", "Panic: a red-brown exclamation mark.", panic),
    ("about_xpm", "About: a blue \"i\".", about),
    ("help_xpm", "Help: a black question mark with a light rim.", help_face),
    ("midi_xpm", "MIDI settings: a five-pin MIDI socket in pale lavender.", midi),
    ("audio_xpm", "Audio settings: a dark grey jack plug on its cable.", audio),
    ("folder_xpm", "Load: an open yellow folder.", folder),
]


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "src", "gui", "app", "ButtonFaces.h")
    parts = [
        "#pragma once\n",
        "// The 18 x 18 faces of the main window's bitmap buttons as XPM data, each\n",
        "// with one transparent colour. Drawn by tools/draw-button-faces.py.\n",
    ]
    for name, comment, draw in FACES:
        px = draw()
        assert len(px) == N and all(len(r) == N for r in px)
        parts.append(f"\n// {comment}\n")
        parts.append(xpm_lines(name, px))
    with open(out, "w") as f:
        f.write("".join(parts))


if __name__ == "__main__":
    main()

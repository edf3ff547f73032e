#!/usr/bin/python3
"""Draws the picture of the computer keyboard's notes for the help book.

Sixty keys play notes 24 to 83 by their place on the keyboard: the function
keys, the digit row, the Q row, the A row and the Z row, one octave each. Keys
that play are drawn like piano keys (light for natural notes, dark for sharps)
with the note's name; the first key of each octave has an orange rim; keys that
play nothing are dim. Writes resources/help/keymap.png with ImageMagick.

Run from anywhere: /usr/bin/python3 tools/draw-keymap.py
"""
import os
import subprocess

NAMES = ["C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"]
FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"
BOLD = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"

U = 44            # one key's width, pixels
GAP = 4
MARGIN = 12
ROW = 52          # row pitch

BACKGROUND = "#221100"
DIM = "#4a2600"
DIM_TEXT = "#a07040"
ORANGE = "#ffcc66"
LIGHT = "#fbf6e8"
DARK = "#181410"
DARK_RIM = "#8a6a3a"


def note_name(n):
    return f"{NAMES[n % 12]}{n // 12 - 1}"


# Each row: (label, width in units, note or None, x offset in units or None).
# A note of None plays nothing. Places follow a common PC keyboard (US caps).
def rows():
    f = []
    for i in range(12):
        f.append((f"F{i + 1}", 1, 24 + i, 1.5 + i + 0.5 * (i // 4)))
    digits = ["1", "2", "3", "4", "5", "6", "7", "8", "9", "0", "-", "="]
    d = [("`", 1, None, 0)] + [(k, 1, 36 + i, None) for i, k in enumerate(digits)] + [("Bksp", 2, None, None)]
    upper = ["Q", "W", "E", "R", "T", "Y", "U", "I", "O", "P", "[", "]"]
    q = [("Tab", 1.5, None, 0)] + [(k, 1, 48 + i, None) for i, k in enumerate(upper)] + [("\\", 1.5, 83, None)]
    home = ["A", "S", "D", "F", "G", "H", "J", "K", "L", ";", "'"]
    a = [("Caps", 1.75, None, 0)] + [(k, 1, 60 + i, None) for i, k in enumerate(home)] + [("Return", 2.25, 71, None)]
    lower = ["Z", "X", "C", "V", "B", "N", "M", ",", ".", "/"]
    z = [("Shift", 2.25, 82, 0)] + [(k, 1, 72 + i, None) for i, k in enumerate(lower)] + [("Shift", 2.75, 82, None)]
    return [f, d, q, a, z]


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = os.path.join(here, "..", "resources", "help", "keymap.png")
    width = int(MARGIN * 2 + 15 * U)
    height = int(MARGIN * 2 + 5 * ROW + 8)
    draw = []
    for r, row in enumerate(rows()):
        x = 0.0
        y = MARGIN + r * ROW + (8 if r > 0 else 0)  # the function keys stand apart
        for label, w, note, at in row:
            if at is not None:
                x = at
            x0 = MARGIN + x * U
            x1 = x0 + w * U - GAP
            y1 = y + ROW - GAP - 6
            if note is None:
                fill, text, rim = DIM, DIM_TEXT, DIM
            elif "#" in NAMES[note % 12]:
                fill, text, rim = DARK, LIGHT, DARK_RIM
            else:
                fill, text, rim = LIGHT, DARK, LIGHT
            if note is not None and note % 12 == 0:
                rim = ORANGE
            draw += ["-fill", fill, "-stroke", rim, "-strokewidth", "2",
                     "-draw", f"roundrectangle {x0:.0f},{y:.0f} {x1:.0f},{y1:.0f} 5,5"]
            cap = label.replace("\\", "\\\\").replace("'", "\\'")
            draw += ["-stroke", "none", "-fill", text, "-font", BOLD, "-pointsize", "13",
                     "-draw", f"text {x0 + 5:.0f},{y + 16:.0f} '{cap}'"]
            if note is not None:
                draw += ["-font", FONT, "-pointsize", "12",
                         "-draw", f"text {x0 + 5:.0f},{y1 - 6:.0f} '{note_name(note)}'"]
            x += w
    cmd = ["/usr/bin/convert", "-size", f"{width}x{height}", f"xc:{BACKGROUND}"] + draw + ["-depth", "8", "-strip", out]
    subprocess.run(cmd, check=True)


if __name__ == "__main__":
    main()

#!/usr/bin/python3
"""Writes the expected frequency of every MIDI note for each tuning case of
the tuning test (CASES below: a scale and an optional keyboard mapping) into
expected/CASE.txt, one line a note: "NOTE FREQUENCY" or "NOTE silent".
With --check, writes nothing and exits 1 when a committed table differs.

Computed on its own, without the program's reader: ratios multiply as exact
fractions, cents add as 50-digit decimals, and only the final 2^(cents/1200)
is a decimal power (50 digits). Without a mapping, degree 0 lies on note 60,
900 cents below 440 Hz on note 69, and every key sounds."""
import decimal
import os
import sys
from decimal import Decimal
from fractions import Fraction

CASES = {
    "edo19": ("edo19.scl", None),
    "just12-d": ("just12.scl", "just12-d.kbm"),
    "bohlen-pierce": ("bohlen-pierce.scl", None),
    "steps88": ("steps88.scl", "steps88.kbm"),
    "white-keys": ("major.scl", "white-keys.kbm"),
}

decimal.getcontext().prec = 50
LN2 = Decimal(2).ln()


def lines(path):
    with open(path, encoding="utf-8", newline="") as f:
        for line in f.read().replace("\r\n", "\n").split("\n"):
            if not line.startswith("!"):
                yield line


def read_scale(path):
    """The degrees 1..N as (Fraction, Decimal cents) pairs."""
    it = lines(path)
    next(it)  # description
    count = int(next(it).split()[0])
    degrees = []
    for _ in range(count):
        word = next(it).split()[0]
        if "." in word:
            degrees.append((Fraction(1), Decimal(word)))
        else:
            degrees.append((Fraction(word), Decimal(0)))
    return degrees


def read_map(path):
    it = lines(path)
    size, first, last, middle, reference = (int(next(it).split()[0]) for _ in range(5))
    frequency = Decimal(next(it).split()[0])
    octave = int(next(it).split()[0])
    mapping = [None if w == "x" else int(w) for w in (next(it).split()[0] for _ in range(size))]
    return dict(size=size, first=first, last=last, middle=middle, reference=reference,
                frequency=frequency, octave=octave, mapping=mapping)


def degree_pitch(degrees, d):
    periods, within = divmod(d, len(degrees))  # floor division, as a keyboard wants
    ratio, cents = degrees[-1]
    base = (Fraction(1), Decimal(0)) if within == 0 else degrees[within - 1]
    return base[0] * ratio ** periods, base[1] + cents * periods


def key_pitch(degrees, kbm, key):
    if kbm is None:
        return degree_pitch(degrees, key - 60)
    offset = key - kbm["middle"]
    if kbm["size"] == 0:
        return degree_pitch(degrees, offset)
    repeats, index = divmod(offset, kbm["size"])
    entry = kbm["mapping"][index]
    if entry is None:
        return None
    ratio, cents = degree_pitch(degrees, entry)
    octave_ratio, octave_cents = degree_pitch(degrees, kbm["octave"])
    return ratio * octave_ratio ** repeats, cents + octave_cents * repeats


def table(here, scl, kbm_name):
    degrees = read_scale(os.path.join(here, scl))
    kbm = read_map(os.path.join(here, kbm_name)) if kbm_name else None
    if kbm is None:
        ref_ratio, ref_cents, ref_frequency = Fraction(1), Decimal(900), Decimal(440)
    else:
        ref_ratio, ref_cents = key_pitch(degrees, kbm, kbm["reference"])
        ref_frequency = kbm["frequency"]
    out = []
    for key in range(128):
        pitch = None
        if kbm is None or kbm["first"] <= key <= kbm["last"]:
            pitch = key_pitch(degrees, kbm, key)
        if pitch is None:
            out.append(f"{key} silent")
            continue
        ratio = pitch[0] / ref_ratio
        power = ((pitch[1] - ref_cents) / 1200 * LN2).exp()
        frequency = ref_frequency * Decimal(ratio.numerator) / Decimal(ratio.denominator) * power
        out.append(f"{key} {frequency:.20e}")
    return "\n".join(out) + "\n"


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    check = "--check" in sys.argv[1:]
    status = 0
    os.makedirs(os.path.join(here, "expected"), exist_ok=True)
    for name, (scl, kbm) in CASES.items():
        path = os.path.join(here, "expected", name + ".txt")
        text = table(here, scl, kbm)
        if check:
            with open(path, encoding="utf-8") as f:
                if f.read() != text:
                    print(f"{path} differs from what make-tables.py computes")
                    status = 1
        else:
            with open(path, "w", encoding="utf-8") as f:
                f.write(text)
    return status


if __name__ == "__main__":
    sys.exit(main())

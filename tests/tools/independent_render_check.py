#!/usr/bin/env python3
"""Checks marovane-render against a second, independent model of the engine.

The model below is written from the documented arithmetic alone, in Python
with every float rounding made explicit, and knows nothing of the C++ code.
For each case it renders the same timeline as the tool (notes started
together, held for whole buffers, released, rendered until silent) and the
WAV file the tool wrote must match it bit for bit.

usage: independent_render_check.py MAROVANE-RENDER WORKDIR
"""
import math
import os
import struct
import subprocess
import sys

N = 32768


def f32(x):
    return struct.unpack("f", struct.pack("f", x))[0]


TWO_PI = 6.283185307179586
SINE = [f32(math.sin(i / 32768 * TWO_PI)) for i in range(N)]
SAW_T = f32(31129.6)
SHAPES = [
    SINE,
    [1.0 if i < 16384 else 0.0 for i in range(N)],
    [f32(i / SAW_T) if i < SAW_T else f32(1 - (i - SAW_T) / 1638) for i in range(N)],
    [f32(2 * i / 32768 * 2 - 1) if i < 16384 else f32(1 - 2 * (i - 16384) / 32768 * 2) for i in range(N)],
    [abs(v) for v in SINE],
    [1.0 if i < 8192 else 0.0 for i in range(N)],
    [f32(i / 10922.666666666666) if i < 10922 else 1.0 if i < 21845
     else f32((i - 21845.333333333332) / 10922.666666666666) for i in range(N)],
]
MS = f32(1000.0 / 44100)


def note_hz(n):
    f = 440 * 2 ** ((n - 69) / 12)
    return float(f"{f:.3f}") if n < 124 else float(f"{f:.2f}")


class Note:
    def __init__(self, n, velocity):
        self.n = n
        self.vel = velocity
        self.held, self.rel = True, False
        self.ns = self.rs = 0
        self.phase = [0.0] * 128
        self.from_sustain, self.rel_level = True, 0.0


def render(case):
    A, D, S, R = case["attack"], case["decay"], case["sustain"], case["release"]
    att, sus = case["attack_levels"], case["sustain_levels"]
    lfo_f, shape = f32(case["lfo_hz"]), SHAPES[case["lfo_shape"]]
    depth = f32(f32(float(case["mod_wheel"])) / 16383.0)
    bend = (float(case["pitch_wheel"]) - 8192.0) / 4096.0
    vel = f32(f32(float(case["velocity"])) / 127.0)
    notes = [Note(n, vel) for n in sorted(case["notes"])]
    hold_buffers = math.ceil(case["hold"] * 44100 / 256)
    lfo_inc = 1.0 / f32(44100 / lfo_f)
    lfo = 0.0
    out = []

    def held_level(e):
        if e < A:
            return f32(e / A)
        if e < A + D:
            u = f32((e - A) / D)
            return f32(f32(S + f32((100 - S) * f32(1 - u))) * 0.01)
        return f32(S * 0.01)

    def env(nt, off):
        if not nt.held and not nt.rel:
            return 0.0
        if nt.ns + off == 0:
            return 0.0
        e = f32(f32(nt.ns + off if nt.held else nt.rs + off) * MS)
        if nt.rel:
            # A release falls from the gain the note had when let go; from the
            # sustain level when that was in the sustain.
            if e < R:
                if nt.from_sustain:
                    return f32(S * 0.01 * f32(R - e) / R)
                return f32(nt.rel_level * f32(R - e) / R)
            nt.rel = nt.held = False
            nt.rs = 0
            return 0.0
        return held_level(e)

    def morph(nt, h):
        a, s = att[h], sus[h]
        if a == s:
            return a
        if nt.rel:
            return s
        t0 = f32(f32(nt.ns) * MS)
        if t0 >= A + D:
            return s
        t = f32(t0 / (A + D))
        return f32(f32(a * f32(1 - t)) + f32(s * t))

    b = 0
    while True:
        if b == hold_buffers:
            for nt in notes:
                e = f32(f32(nt.ns) * MS)
                nt.from_sustain = not (e < A + D)
                nt.rel_level = 0.0 if nt.from_sustain else held_level(e)
                nt.rs, nt.rel, nt.held = 0, True, False
        elif b > hold_buffers and not any(nt.held or nt.rel for nt in notes):
            break
        mix = [0.0] * 256
        for nt in notes:
            if not (nt.held or nt.rel):
                continue
            f = note_hz(nt.n)
            if bend != 0:
                f = f * 1.0594630943592953 ** bend
            g = [f32(env(nt, i) * nt.vel) for i in range(256)]
            for h in range(128):
                if att[h] == 0 and sus[h] == 0:
                    continue
                inc = 1 / (44100 / ((h + 1) * f))
                m = morph(nt, h)
                p = nt.phase[h]
                for i in range(256):
                    while p >= 1.0:
                        p = f32(p - 1.0)
                    v = f32(f32(m * SINE[int(f32(p * 32768))]) * g[i])
                    mix[i] = f32(mix[i] + v)
                    p = f32(p + inc)
                nt.phase[h] = p
            nt.ns += 256
            if nt.rel:
                nt.rs += 256
        for k in range(256):
            w = shape[int(f32(lfo * 32768))]
            mix[k] = f32(f32(f32(1 - depth) * mix[k]) + f32(f32(w * depth) * mix[k]))
            lfo = f32(lfo + lfo_inc)
            if lfo >= 1.0:
                lfo = f32(lfo - 1.0)
        out += mix
        b += 1
    return out


def write_patch(path, case):
    keys = {"Attack": case["attack"], "Decay": case["decay"], "Sustain": case["sustain"],
            "Release": case["release"], "LFOFrequency": case["lfo_text"], "LFOWaveform": case["lfo_shape"]}
    for h in range(128):
        keys[f"AttackHarmonic{h}"] = repr(case["attack_levels"][h])
        keys[f"SustainHarmonic{h}"] = repr(case["sustain_levels"][h])
    with open(path, "w") as f:
        f.write('<?xml version="1.0" encoding="UTF-8"?>\n<Settings>\n')
        for k, v in keys.items():
            f.write(f'  <{k} {k}="{v}"/>\n')
        f.write("</Settings>\n")


def read_wav(path):
    data = open(path, "rb").read()
    at = data.find(b"data")
    size = struct.unpack_from("<I", data, at + 4)[0]
    return struct.unpack_from(f"<{size // 4}f", data, at + 8)


def levels(pairs):
    v = [0.0] * 128
    for h, x in pairs.items():
        v[h] = f32(x)
    return v


CASES = [
    dict(name="morph, envelope, bend down, velocity, triangle tremolo", notes=[57], hold=0.116,
         attack=30, decay=40, sustain=60, release=50, lfo_text="7.3", lfo_hz=7.3, lfo_shape=3,
         mod_wheel=11468, pitch_wheel=3000, velocity=100,
         attack_levels=levels({0: 0.3, 2: 0.2}), sustain_levels=levels({0: 0.1, 1: 0.25})),
    dict(name="chord bent up, high partials folding, saw tremolo at full depth", notes=[96, 60, 64], hold=0.05,
         attack=0, decay=25, sustain=35, release=20, lfo_text="19.5", lfo_hz=19.5, lfo_shape=2,
         mod_wheel=16383, pitch_wheel=16383, velocity=127,
         attack_levels=levels({0: 0.2, 9: 0.05, 60: 0.01, 127: 0.02}),
         sustain_levels=levels({0: 0.2, 4: 0.1, 127: 0.02})),
    dict(name="release longer than the hold, trapezoid and an LFO text with white space and an exponent", notes=[21], hold=0.02,
         attack=100, decay=0, sustain=100, release=30, lfo_text=" 3.25e0 ", lfo_hz=3.25, lfo_shape=6,
         mod_wheel=5000, pitch_wheel=8192, velocity=1,
         attack_levels=levels({0: 0.5, 1: 0.25}), sustain_levels=levels({0: 0.5, 3: 0.125})),
]


def main():
    tool, work = sys.argv[1], sys.argv[2]
    os.makedirs(work, exist_ok=True)
    failures = 0
    for i, case in enumerate(CASES):
        patch, wav = os.path.join(work, f"independent{i}.mrvn"), os.path.join(work, f"independent{i}.wav")
        write_patch(patch, case)
        args = [tool, "--patch", patch, "--hold", str(case["hold"]), "--velocity", str(case["velocity"]),
                "--pitch-wheel", str(case["pitch_wheel"]), "--mod-wheel", str(case["mod_wheel"]),
                "-o", wav] + [str(n) for n in case["notes"]]
        subprocess.run(args, check=True, stdout=subprocess.DEVNULL)
        got = read_wav(wav)
        want = render(case)
        left, right = got[0::2], got[1::2]
        bad = [k for k in range(max(len(left), len(want)))
               if k >= len(left) or k >= len(want) or left[k] != want[k] or right[k] != left[k]]
        peak = max(abs(v) for v in want)
        if bad or peak == 0:
            failures += 1
            k = bad[0] if bad else 0
            print(f"FAIL {case['name']}: {len(bad)} of {len(want)} frames differ (tool wrote {len(left)}); "
                  f"first at {k}: tool {left[k] if k < len(left) else None}, model {want[k] if k < len(want) else None}")
        else:
            print(f"ok   {case['name']}: {len(want)} frames identical, peak {peak:.4f}")
        os.remove(patch)
        os.remove(wav)
    print(f"{len(CASES) - failures} passed, {failures} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

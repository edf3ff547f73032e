#!/usr/bin/env python3
"""Writes the factory patches into resources/patches.

Each patch is a settings document with the 263 keys the loader reads. Run it
again after changing a sound here; the .mrvn files are committed.
"""
import math
import os
import random

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "..", "resources", "patches")


def write(name, attack_ms, decay_ms, sustain, release_ms, lfo_hz, lfo_shape, mod_wheel, attack, sustain_levels):
    # Any file may hold any value, but the ones we ship stay where the
    # window's sliders can show them and set them again.
    for label, value, top in (("attack", attack_ms, 1000), ("decay", decay_ms, 1000), ("sustain", sustain, 100),
                              ("release", release_ms, 1000), ("LFO frequency", lfo_hz, 20),
                              ("LFO shape", lfo_shape, 6), ("mod wheel", mod_wheel, 16383)):
        if not 0 <= value <= top:
            raise SystemExit(f"{name}: {label} {value} is outside the control's range 0 to {top}")
    lines = ['<?xml version="1.0" encoding="UTF-8"?>', "<Settings>"]

    def key(k, v):
        lines.append(f'  <{k} {k}="{v}"/>')

    key("Attack", attack_ms)
    key("Decay", decay_ms)
    key("Sustain", sustain)
    key("Release", release_ms)
    key("LFOFrequency", f"{lfo_hz:.1f}")
    key("LFOWaveform", lfo_shape)
    key("ModWheel", mod_wheel)
    for h in range(128):
        key(f"AttackHarmonic{h}", f"{attack[h]:.6f}")
        key(f"SustainHarmonic{h}", f"{sustain_levels[h]:.6f}")
    lines.append("</Settings>")
    with open(os.path.join(OUT, name + ".mrvn"), "w") as f:
        f.write("\n".join(lines) + "\n")


def spectrum(fn, peak=0.5):
    levels = [max(0.0, fn(h + 1)) for h in range(128)]
    total = sum(levels)
    return [l * peak / total if total else 0.0 for l in levels]


def main():
    os.makedirs(OUT, exist_ok=True)
    # Drawbar organ: octaves and fifths, steady, a little vibrato-like tremolo.
    organ = spectrum(lambda n: {1: 1.0, 2: 0.8, 3: 0.6, 4: 0.5, 6: 0.3, 8: 0.25, 10: 0.1, 12: 0.1, 16: 0.08}.get(n, 0))
    write("Organ", 5, 0, 100, 60, 6.0, 0, 1500, organ, organ)
    # Bright attack that mellows into a round tone.
    bright = spectrum(lambda n: 1.0 / n if n <= 40 else 0)
    round_ = spectrum(lambda n: 1.0 / (n * n) if n % 2 else 0)
    write("Brass", 40, 300, 80, 150, 5.0, 0, 0, bright, round_)
    # Bell: inharmonic-sounding sparse partials fading to the fundamental.
    bell = spectrum(lambda n: {1: 1.0, 3: 0.7, 5: 0.6, 7: 0.5, 9: 0.45, 11: 0.4, 14: 0.3, 17: 0.3, 20: 0.2}.get(n, 0))
    fund = spectrum(lambda n: 1.0 if n == 1 else (0.3 if n == 3 else 0))
    write("Bell", 1, 1000, 20, 900, 3.0, 0, 0, bell, fund)
    # Slow pad with a saw-like sustain and gentle triangle tremolo.
    pad_attack = spectrum(lambda n: 1.0 if n == 1 else 0)
    pad = spectrum(lambda n: 1.0 / n if n <= 24 else 0)
    write("Pad", 600, 800, 90, 1000, 4.0, 3, 3000, pad_attack, pad)
    # Hollow square-wave lead.
    square = spectrum(lambda n: 1.0 / n if n % 2 and n <= 31 else 0)
    write("Square Lead", 2, 0, 100, 40, 7.0, 0, 0, square, square)
    # Breath: a noisy onset settling on a soft flute tone.
    rng = random.Random(7)
    breath = spectrum(lambda n: rng.random() / math.sqrt(n) if n <= 48 else 0)
    flute = spectrum(lambda n: {1: 1.0, 2: 0.2, 3: 0.1}.get(n, 0))
    write("Flute", 80, 120, 85, 200, 5.0, 0, 0, breath, flute)


if __name__ == "__main__":
    main()

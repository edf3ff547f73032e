#!/usr/bin/env python3
"""Writes the seed corpus of the patch harnesses (one folder, corpus/patch,
that the reader, the render and the writer harnesses share): the shipped patches and the
hostile files that once crashed, silenced or hung the program, each small.
Run it again after adding a seed here; the files are committed. Inputs that
libFuzzer found are kept beside them as found-*: the small ones of a merged
run (-merge=1), and any crash, copied into corpus/patch by hand."""
import glob
import os
import shutil

HERE = os.path.dirname(os.path.abspath(__file__))
PATCHES = os.path.join(HERE, "..", "..", "resources", "patches")
DECL = '<?xml version="1.0" encoding="UTF-8"?>\n'


def entry(key, value):
    return f'<{key} {key}="{value}"/>'


def settings(*entries):
    return DECL + "<Settings>\n" + "\n".join(entries) + "\n</Settings>\n"


SEEDS = {
    "deep-nesting.xml": DECL + "<a>" * 2000 + "</a>" * 2000,
    "nested-65.xml": settings(entry("Sustain", "80"), "<a>" * 64 + "</a>" * 64),
    "nan.mrvn": settings(entry("Sustain", "80"), entry("AttackHarmonic0", "0.5"), entry("SustainHarmonic5", "nan")),
    "inf.mrvn": settings(entry("AttackHarmonic3", "inf"), entry("LFOFrequency", "-Infinity")),
    "beyond-float.mrvn": settings(entry("SustainHarmonic0", "1e39")),
    "overflowing-sum.mrvn": settings(entry("Sustain", "100"),
                                     *[entry(f"SustainHarmonic{h}", "1e38") for h in range(4)]),
    "not-a-patch.xml": DECL + "<html><head><title>Attack</title></head><body><p Sustain='80'/></body></html>\n",
    "entities.xml": DECL + '<!DOCTYPE Settings [<!ENTITY a "1111111111"><!ENTITY b "&a;&a;&a;&a;&a;">]>'
                           '<Settings><Attack Attack="&b;"/></Settings>\n',
    "sustain-only.mrvn": settings(entry("Sustain", "80")),
    "junk-numbers.mrvn": settings(entry("Attack", " 250"), entry("Sustain", "12abc"), entry("LFOFrequency", "abc"),
                                  entry("AttackHarmonic0", "0x1p-3"), entry("SustainHarmonic1", "-.5e+1")),
    "extremes.mrvn": settings(entry("Attack", "-5"), entry("Decay", "2147483647"), entry("Sustain", "-2147483648"),
                              entry("Release", "99999999999"), entry("LFOFrequency", "-3.4e38"),
                              entry("LFOWaveform", "99"), entry("ModWheel", "-1"),
                              entry("AttackHarmonic127", "3.4028235e38"), entry("SustainHarmonic127", "1e-45")),
    "duplicates.mrvn": DECL + '<Other><Attack/><Attack Attack="3"/><Attack Attack="4"/>'
                              '<Decay Attack="5" Decay="6"/><Group><Sustain Sustain="1"/></Group></Other>\n',
    "malformed.xml": DECL + '<Settings><Attack Attack="5"></Settings>',
    "windows-1252.xml": '<?xml version="1.0" encoding="windows-1252"?><Settings>'
                        + entry("Sustain", "80") + '<x y="\xe9"/></Settings>\n',
    "volume.mrvn": settings(entry("Sustain", "100"), entry("Volume", "-6.0206"), entry("SustainHarmonic0", "0.5")),
    "volume-beyond-range.mrvn": settings(entry("Volume", "-1e30"), entry("SustainHarmonic0", "0.5")),
    "band-limit.mrvn": settings(entry("BandLimit", "1"), entry("SustainHarmonic40", "0.5"), entry("SustainHarmonic0", "0.5")),
    "empty": "",
}


def main():
    folder = os.path.join(HERE, "corpus", "patch")
    os.makedirs(folder, exist_ok=True)
    for path in glob.glob(os.path.join(PATCHES, "*.mrvn")):
        shutil.copy(path, os.path.join(folder, "shipped-" + os.path.basename(path).replace(" ", "-")))
    for name, text in SEEDS.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(text.encode("latin-1"))


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Writes the seed corpus of the MIDI file harness: small files in every
layout the reader takes, and the malformed ones that once crashed or misled
the renderer. Run it again after adding a seed here; the files are committed.
Inputs that libFuzzer found are kept beside them as found-*."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def vlq(n):
    out = [n & 0x7F]
    n >>= 7
    while n:
        out.insert(0, (n & 0x7F) | 0x80)
        n >>= 7
    return bytes(out)


def chunk(kind, data):
    return kind + struct.pack(">I", len(data)) + data


def track(events, end=True):
    data = b"".join(vlq(delta) + bytes(message) for delta, message in events)
    return chunk(b"MTrk", data + (b"\x00\xff\x2f\x00" if end else b""))


def song(tracks, fmt=1, division=(0x01, 0xE0)):
    return chunk(b"MThd", struct.pack(">HH", fmt, len(tracks)) + bytes(division)) + b"".join(tracks)


def tempo(us):
    return [0xFF, 0x51, 0x03, us >> 16, (us >> 8) & 0xFF, us & 0xFF]


NOTES = [(0, [0x90, 60, 100]), (120, [0xB0, 1, 64]), (120, [0x80, 60, 0]), (240, [0x93, 67, 80]),
         (240, [0xE3, 0, 80]), (240, [0x83, 67, 0])]
TEMPO_MAP = [(0, tempo(500000)), (480, tempo(250000))]
SYSEX = [0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7]

SEEDS = {
    "two-notes.mid": song([track(TEMPO_MAP), track(NOTES)]),
    "no-end-of-track.mid": song([track(TEMPO_MAP, False), track(NOTES, False)]),
    "note-without-end-26-bytes.mid": song([track([(0, [0x90, 60, 100])], False)]),
    "format-0-running-status.mid": song([track([(0, tempo(500000)), (0, [0x90, 60, 100]), (120, [62, 90]),
                                               (0, SYSEX), (60, [0xF7, 0x02, 0xF3, 0x01]), (0, [64, 80]),
                                               (60, [0xFF, 0x01, 0x01, 0x78]), (0, [60, 0]), (0, [62, 0]),
                                               (0, [64, 0]), (10, [0xC0, 5]), (10, [7]), (10, [0xD0, 9])])], fmt=0),
    "tempo-in-second-track.mid": song([track([(0, [0xFF, 0x03, 0x01, 0x41])]),
                                       track([(0, tempo(400000))] + NOTES + [(0, tempo(300000)), (960, [0x90, 1, 1])])]),
    "smpte-25x40.mid": song([track(TEMPO_MAP), track(NOTES)], division=(0xE7, 40)),
    "smpte-29.97.mid": song([track(NOTES)], division=(0xE3, 80)),
    "tempo-length-0.mid": song([track([(0, [0xFF, 0x51, 0x00]), (0, [0x90, 60, 100])])]),
    "tempo-length-2.mid": song([track([(0, [0xFF, 0x51, 0x02, 0x07, 0xA1]), (0, [0x90, 60, 100])])]),
    "tempo-zero.mid": song([track([(0, tempo(0)), (0, [0x90, 60, 100])])]),
    "format-2.mid": song([track(NOTES), track(NOTES)], fmt=2),
    "long-delta.mid": song([track([(0, [0x90, 60, 100]), (0x0FFFFFFF, [0x80, 60, 0])])], division=(0, 1)),
    "foreign-chunk.mid": chunk(b"MThd", struct.pack(">HHBB", 1, 1, 0x01, 0xE0)) + chunk(b"XFIH", b"\x01\x02")
                         + track(NOTES),
    "truncated.mid": song([track(TEMPO_MAP), track(NOTES)])[:40],
    "header-only.mid": song([track(NOTES)])[:14],
    "empty": b"",
    # Many running-status notes over four tracks, for inputs of a few KB.
    "many-notes.mid": song([track(TEMPO_MAP + [(1920, tempo(600000))])]
                           + [track([(0, [0x90 + t, 40 + t, 100])]
                                    + [(1 + (i % 7), [40 + t + i % 24, (i * 37) % 128]) for i in range(250)])
                              for t in range(4)]),
}


def main():
    folder = os.path.join(HERE, "corpus", "midi_file")
    os.makedirs(folder, exist_ok=True)
    for name, data in SEEDS.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""The plugin in Ardour 7 without its window: a session with a MIDI region
holding a song (A4 alone first) on a track with the plugin in the format
given, bounced by ardour7-export (tools/ardour-roundtrip.py) in Ardour's
blocks of 1024 frames. The bounce must hold the start-up sound's sine at
440 Hz for A4, as loud as the velocity makes it, fall silent once the last
release has ended, and be what marovane-render --midi makes of the same
file, bit for bit; Ardour must show the plugin's eight parameters with
their ranges and no other.

    ardour_roundtrip_test.py lv2|vst3 BUNDLE_DIR SOURCE_DIR MAROVANE_RENDER
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile

RATE = 44100


def vlq(n):
    b = [n & 0x7F]
    n >>= 7
    while n:
        b.insert(0, (n & 0x7F) | 0x80)
        n >>= 7
    return bytes(b)


# The song, at 480 ticks a beat and 120 beats a minute: a tick is 45.9375
# frames at 44100 Hz, so every event is on a multiple of 32 ticks (1470
# frames), where Ardour and marovane-render place it on the same frame. A4
# alone for its first second, then a chord of overlapping notes. No
# controllers: Ardour plays a region's controllers from lines it draws
# between their values (a pitch-wheel move becomes a ramp), which a file's
# render does not.
SONG = [(0, [0x90, 69, 100]), (960, [0x80, 69, 0]), (1440, [0x90, 60, 90]), (1472, [0x90, 64, 80]),
        (1504, [0x90, 67, 127]), (1632, [0x80, 60, 0]), (1920, [0x80, 67, 0]), (2080, [0x80, 64, 0])]
LAST_EVENT_FRAME = 2080 * 22050 // 480


def write_song(path):
    events = vlq(0) + bytes([0xFF, 0x51, 3, 0x07, 0xA1, 0x20])
    at = 0
    for tick, message in SONG:
        events += vlq(tick - at) + bytes(message)
        at = tick
    events += vlq(0) + bytes([0xFF, 0x2F, 0])
    with open(path, "wb") as f:
        f.write(b"MThd" + (6).to_bytes(4, "big") + bytes([0, 0, 0, 1, 0x01, 0xE0]))
        f.write(b"MTrk" + len(events).to_bytes(4, "big") + events)


def read_wav(path):
    """The channels of a 32-bit float WAV file, and its rate."""
    data = open(path, "rb").read()
    pos, fmt, samples = 12, None, None
    while pos + 8 <= len(data):
        cid, size = data[pos:pos + 4], struct.unpack("<I", data[pos + 4:pos + 8])[0]
        if cid == b"fmt ":
            fmt = data[pos + 8:pos + 8 + size]
        elif cid == b"data":
            samples = data[pos + 8:pos + 8 + size]
        pos += 8 + size + (size & 1)
    tag, channels, rate, _, _, bits = struct.unpack("<HHIIHH", fmt[:16])
    if tag == 0xFFFE:
        tag = struct.unpack("<H", fmt[24:26])[0]
    if tag != 3 or bits != 32:
        raise SystemExit("the bounce is not 32-bit float (format %d, %d bits)" % (tag, bits))
    values = struct.unpack("<%df" % (len(samples) // 4), samples)
    return [list(values[c::channels]) for c in range(channels)], rate


def hertz(x, start, count):
    """Rising zero crossings, each placed between its two samples."""
    first = last = None
    n = 0
    for i in range(start + 1, start + count):
        if x[i - 1] < 0 <= x[i]:
            at = i - 1 + x[i - 1] / (x[i - 1] - x[i])
            first = at if first is None else first
            last = at
            n += 1
    return (n - 1) * RATE / (last - first) if n > 1 else 0.0


def main():
    fmt, bundles, source, render = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4]
    work = tempfile.mkdtemp(prefix="ardour-roundtrip-test-")
    failures = []

    def check(ok, what):
        print(("ok    " if ok else "FAIL  ") + what)
        if not ok:
            failures.append(what)

    try:
        mid, wav = os.path.join(work, "a4.mid"), os.path.join(work, "bounce.wav")
        write_song(mid)
        run = subprocess.run([sys.executable, os.path.join(source, "tools", "ardour-roundtrip.py"), "--format", fmt,
                              "--plugins", bundles, "--midi", mid, "--seconds", "3", "-o", wav,
                              "--work", os.path.join(work, "ardour")],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, timeout=600)
        if run.returncode != 0:
            print(run.stderr)
            with open(os.path.join(work, "ardour", "ardour.log"), errors="replace") as f:
                print(f.read()[-3000:])
            raise SystemExit("the round trip failed")

        shown = [line.split("\t")[1:] for line in run.stdout.splitlines() if line.startswith("parameter\t")]
        expected = [["Attack", 0, 1000, 0], ["Decay", 0, 1000, 0], ["Sustain", 0, 100, 100],
                    ["Release", 0, 1000, 10], ["LFO Frequency", 0, 20, 5],
                    ["LFO Waveform", 0, 6, 0], ["Volume", -60, 6, 0], ["Mod Wheel", 0, 1, 0],
                    ["Band Limit", 0, 1, 0]]
        # A VST3 host works in values from 0 to 1: a default it turns back
        # into the parameter's unit may be off by a float's rounding (the
        # volume's 0 dB comes back as 1.8e-06), which the plugin takes as 0.
        def same(row, want):
            return (len(row) == 4 and row[0] == want[0] and
                    all(abs(float(v) - w) <= 1e-5 * max(1.0, abs(w)) for v, w in zip(row[1:], want[1:])))
        check(len(shown) == len(expected) and all(same(r, w) for r, w in zip(shown, expected)),
              "Ardour shows the nine parameters and their ranges: %s" % shown)

        (left, right), rate = read_wav(wav)
        check(rate == RATE and len(left) == 3 * RATE, "three seconds at 44100 Hz (%d frames at %d Hz)" % (len(left), rate))
        f = hertz(left, RATE // 10, 30000)
        check(abs(f - 440.0) < 0.05, "A4 sounds at 440 Hz (%.4f Hz)" % f)
        # The start-up sound is a sine of amplitude 0.5 at full velocity.
        peak = max(abs(v) for v in left[:RATE])
        check(abs(peak - 0.5 * 100 / 127) < 0.01, "as loud as velocity 100 makes it (peak %.4f)" % peak)
        # The last note is released at its frame; the release lasts 10 ms.
        tail = next((i for i in range(len(left) - 1, -1, -1) if left[i] != 0.0), -1)
        check(LAST_EVENT_FRAME < tail < LAST_EVENT_FRAME + 441 + 64,
              "silent once the last release has ended (last sound at frame %d)" % tail)
        # What marovane-render makes of the same file, to the bit.
        expected = os.path.join(work, "render.wav")
        subprocess.run([render, "--midi", mid, "-o", expected], check=True, stderr=subprocess.DEVNULL, timeout=120)
        (rl, rr), _ = read_wav(expected)
        n = len(rl)
        same = left[:n] == rl and right[:n] == rr and not any(left[n:]) and not any(right[n:])
        first = next((i for i in range(min(n, len(left))) if left[i] != rl[i] or right[i] != rr[i]), None)
        check(same, "the bounce is marovane-render's sound bit for bit (first difference at frame %s)" % first)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

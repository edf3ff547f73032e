#!/usr/bin/env python3
"""The plugin in Ardour 7 without its window: a session with a MIDI region
holding A4 (MIDI 69, velocity 100, one second) on a track with the plugin in
the format given, bounced by ardour7-export (tools/ardour-roundtrip.py).
The bounce must be the start-up sound's sine at 440 Hz, as loud as the
velocity makes it, the same on both channels, and silent again once the
note's release has ended; Ardour must show the plugin's seven parameters
with their ranges and no other.

    ardour_roundtrip_test.py lv2|vst3 BUNDLE_DIR SOURCE_DIR
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


def write_a4(path):
    """A4 at velocity 100 for two beats of 480 ticks at 120 beats a minute:
    frames 0 to 44100 at 44100 Hz."""
    events = (vlq(0) + bytes([0xFF, 0x51, 3, 0x07, 0xA1, 0x20]) + vlq(0) + bytes([0x90, 69, 100]) +
              vlq(960) + bytes([0x80, 69, 0]) + vlq(0) + bytes([0xFF, 0x2F, 0]))
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
    fmt, bundles, source = sys.argv[1], sys.argv[2], sys.argv[3]
    work = tempfile.mkdtemp(prefix="ardour-roundtrip-test-")
    failures = []

    def check(ok, what):
        print(("ok    " if ok else "FAIL  ") + what)
        if not ok:
            failures.append(what)

    try:
        mid, wav = os.path.join(work, "a4.mid"), os.path.join(work, "bounce.wav")
        write_a4(mid)
        run = subprocess.run([sys.executable, os.path.join(source, "tools", "ardour-roundtrip.py"), "--format", fmt,
                              "--plugins", bundles, "--midi", mid, "--seconds", "2", "-o", wav,
                              "--work", os.path.join(work, "ardour")],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, timeout=600)
        if run.returncode != 0:
            print(run.stderr)
            with open(os.path.join(work, "ardour", "ardour.log"), errors="replace") as f:
                print(f.read()[-3000:])
            raise SystemExit("the round trip failed")

        shown = [line.split("\t")[1:] for line in run.stdout.splitlines() if line.startswith("parameter\t")]
        expected = [["Attack", "0", "1000", "0"], ["Decay", "0", "1000", "0"], ["Sustain", "0", "100", "100"],
                    ["Release", "0", "1000", "10"], ["LFO Frequency", "0", "20", "5"],
                    ["LFO Waveform", "0", "6", "0"], ["Mod Wheel", "0", "1", "0"]]
        check(shown == expected, "Ardour shows the seven parameters and their ranges: %s" % shown)

        (left, right), rate = read_wav(wav)
        check(rate == RATE and len(left) == 2 * RATE, "two seconds at 44100 Hz (%d frames at %d Hz)" % (len(left), rate))
        f = hertz(left, RATE // 10, 30000)
        check(abs(f - 440.0) < 0.05, "A4 sounds at 440 Hz (%.4f Hz)" % f)
        # The start-up sound is a sine of amplitude 0.5 at full velocity.
        peak = max(abs(v) for v in left[:RATE])
        check(abs(peak - 0.5 * 100 / 127) < 0.01, "as loud as velocity 100 makes it (peak %.4f)" % peak)
        check(left == right, "both channels the same")
        # Released at frame 44100; the release lasts 10 ms (441 frames).
        tail = next((i for i in range(len(left) - 1, -1, -1) if left[i] != 0.0), -1)
        check(RATE < tail < RATE + 441 + 64, "silent again once the release has ended (last sound at frame %d)" % tail)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

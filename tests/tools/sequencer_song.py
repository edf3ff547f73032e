#!/usr/bin/env python3
"""Writes a MIDI file the way a sequencer would and prints where its notes fall.

usage: sequencer_song.py OUT.mid

The file: format 1 at 96 ticks per beat, three tracks. A conductor track
(name, time and key signature, a marker, 100 bpm, 150 bpm from bar 2, 75 bpm
from bar 3), a piano on channel 1 (name, GM reset, program, volume, pan, a
chord, a melody ended by Note Ons of velocity 0, a bend and the mod wheel) and
a bass on channel 2: four short notes, one per half note, across the tempo
changes.

Printed, one per line, in frames at 44100 Hz (exact, rounded to the nearest):
  bass ON OFF    each bass note's Note On and Note Off
  last FRAME     the file's last event (its end of track, say)
"""
import sys
from fractions import Fraction

import mido

RATE = 44100
TPB = 96


def main():
    out = sys.argv[1]
    song = mido.MidiFile(type=1, ticks_per_beat=TPB)

    conductor = mido.MidiTrack()
    conductor += [
        mido.MetaMessage('track_name', name='Conductor', time=0),
        mido.MetaMessage('time_signature', numerator=4, denominator=4, time=0),
        mido.MetaMessage('key_signature', key='C', time=0),
        mido.MetaMessage('set_tempo', tempo=mido.bpm2tempo(100), time=0),
        mido.MetaMessage('marker', text='B', time=4 * TPB),
        mido.MetaMessage('set_tempo', tempo=mido.bpm2tempo(150), time=0),
        mido.MetaMessage('set_tempo', tempo=mido.bpm2tempo(75), time=4 * TPB),
    ]
    song.tracks.append(conductor)

    piano = mido.MidiTrack()
    piano += [
        mido.MetaMessage('track_name', name='Piano', time=0),
        mido.Message('sysex', data=[0x7E, 0x7F, 0x09, 0x01], time=0),
        mido.Message('program_change', channel=0, program=0, time=0),
        mido.Message('control_change', channel=0, control=7, value=100, time=0),
        mido.Message('control_change', channel=0, control=10, value=64, time=0),
        # A chord for a bar, its notes ended by Note Ons of velocity 0.
        mido.Message('note_on', channel=0, note=60, velocity=90, time=0),
        mido.Message('note_on', channel=0, note=64, velocity=80, time=0),
        mido.Message('note_on', channel=0, note=67, velocity=70, time=0),
        mido.Message('note_on', channel=0, note=60, velocity=0, time=4 * TPB - 8),
        mido.Message('note_on', channel=0, note=64, velocity=0, time=0),
        mido.Message('note_on', channel=0, note=67, velocity=0, time=0),
    ]
    # A melody in eighths over bar 2, with the mod wheel and a bend.
    for i, note in enumerate([72, 74, 76, 77, 79, 77, 76, 74]):
        piano.append(mido.Message('note_on', channel=0, note=note, velocity=100, time=8 if i == 0 else 0))
        if i == 2:
            piano.append(mido.Message('control_change', channel=0, control=1, value=90, time=0))
        if i == 5:
            piano.append(mido.Message('pitchwheel', channel=0, pitch=2048, time=0))
        piano.append(mido.Message('note_off', channel=0, note=note, velocity=64, time=TPB // 2))
    piano += [
        mido.Message('pitchwheel', channel=0, pitch=0, time=0),
        mido.Message('control_change', channel=0, control=1, value=0, time=0),
        # A last long note over bar 3, ending with the song.
        mido.Message('note_on', channel=0, note=84, velocity=60, time=0),
        mido.Message('note_off', channel=0, note=84, velocity=0, time=4 * TPB - TPB // 4),
    ]
    song.tracks.append(piano)

    bass = mido.MidiTrack()
    bass.append(mido.MetaMessage('track_name', name='Bass', time=0))
    bass.append(mido.Message('program_change', channel=1, program=33, time=0))
    gap = 0
    for note in [36, 43, 41, 38, 36, 31]:
        bass.append(mido.Message('note_on', channel=1, note=note, velocity=110, time=gap))
        bass.append(mido.Message('note_off', channel=1, note=note, velocity=0, time=TPB // 2))
        gap = 2 * TPB - TPB // 2
    song.tracks.append(bass)
    song.save(out)

    # Where everything falls, from the file as read back, in exact arithmetic:
    # the tracks merged, each tick at the tempo in force.
    events = []
    for track in mido.MidiFile(out).tracks:
        tick = 0
        for msg in track:
            tick += msg.time
            events.append((tick, msg))
    events.sort(key=lambda e: e[0])
    tempo, tempo_tick, tempo_seconds = 500000, 0, Fraction(0)
    bass_on = None
    last = Fraction(0)
    for tick, msg in events:
        seconds = tempo_seconds + Fraction(tick - tempo_tick) * Fraction(tempo, TPB * 1000000)
        if msg.type == 'set_tempo':
            tempo, tempo_tick, tempo_seconds = msg.tempo, tick, seconds
        frame = int(seconds * RATE + Fraction(1, 2))
        last = max(last, frame)
        if msg.type == 'note_on' and msg.channel == 1 and msg.velocity > 0:
            bass_on = frame
        elif msg.type in ('note_off', 'note_on') and msg.channel == 1:
            print('bass', bass_on, frame)
    print('last', last)


if __name__ == '__main__':
    main()

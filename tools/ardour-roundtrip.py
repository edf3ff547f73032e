#!/usr/bin/env python3
"""The plugin played by Ardour 7 without its window: a session made by
ardour7-lua with one MIDI track holding the plugin (as LV2 or VST3), a MIDI
region read from a Standard MIDI File, and the session bounced to a 32-bit
float WAV file by ardour7-export.

    ardour-roundtrip.py --format lv2|vst3 --plugins DIR --midi FILE.mid
                        --seconds S -o OUT.wav [--work DIR] [--block FRAMES]

DIR holds the bundle (build/lv2 or build/vst3). Prints the parameters
Ardour shows for the plugin, one a line: "parameter", its name, minimum,
maximum and default, separated by tabs. The region starts at the
session's start; the session runs at 44100 Hz and 120 beats a minute, so
the file's ticks become frames as a file of that tempo says (write the file
with a tempo of 500000 microseconds a beat and marovane-render --midi plays
its events at the same frames). The session lasts S seconds from frame 0.

Ardour runs in a home and configuration folders of its own under the work
folder (made in the temporary folder and removed unless --work is given), so
nothing of the user's is read or written. Exit status 0 when the bounce was
written, else 1 with the reason on standard error.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time
import xml.etree.ElementTree as ET

import mido

RATE = 44100
TICKS_PER_BEAT = 1920  # Ardour's beat time

# Makes the session: the engine at the rate and block size asked for, one
# MIDI track, the plugin on it, the session range; saved and closed.
MAKE_SESSION = r'''
local dir, name = os.getenv("RT_SESSION_DIR"), os.getenv("RT_SESSION_NAME")
local s = create_session(dir, name, RT_RATE)
assert(s, "no session made")
local tracks = s:new_midi_track(ARDOUR.ChanCount(ARDOUR.DataType("midi"), 1),
  ARDOUR.ChanCount(ARDOUR.DataType("audio"), 2), true, ARDOUR.PluginInfo(), nil, nil, 1, "Synth",
  ARDOUR.PresentationInfo.max_order, ARDOUR.TrackMode.Normal, true)
assert(tracks:size() == 1, "no MIDI track")
local track = tracks:front()
local p = ARDOUR.LuaAPI.new_plugin(s, os.getenv("RT_PLUGIN_ID"), ARDOUR.PluginType[os.getenv("RT_PLUGIN_TYPE")], "")
assert(not p:isnil(), "the plugin was not found")
assert(track:add_processor_by_index(p, 0, nil, true) == 0, "the plugin was not added")
-- The track's outputs to the master bus's inputs, here and now: Ardour
-- connects a new track in a thread of its own, which may not have done so
-- by the time the session is saved (the bounce is then silent).
local master_in = s:master_out():input()
for c = 0, 1 do
  local port, target = track:output():audio(c), master_in:audio(c):name()
  if not port:connected_to(target) then
    assert(port:connect(target) == 0, "cannot connect the track to the master bus")
  end
end
-- The parameters the host shows. A VST3 plugin also has hidden ones, the
-- MIDI controllers, which reach it as parameters; Ardour names each of them
-- "hidden".
local pi = p:to_insert():plugin(0)
local shown = 0
for i = 0, pi:parameter_count() - 1 do
  if pi:parameter_is_control(i) and pi:parameter_is_input(i) then
    local _, refs = pi:get_parameter_descriptor(i, ARDOUR.ParameterDescriptor())
    local d = refs[2]
    if d.label ~= "hidden" then
      shown = shown + 1
      print(string.format("parameter\t%s\t%g\t%g\t%g", d.label, d.lower, d.upper, d.normal))
    end
  end
end
print("shown parameters", shown)
print("block", s:get_block_size())
s:save_state("", false, false, false, false, false)
close_session()
'''


def fail(message):
    print("ardour-roundtrip: " + message, file=sys.stderr)
    sys.exit(1)


def run(command, env, log, seconds=120):
    with open(log, "ab") as out:
        try:
            return subprocess.run(command, env=env, stdout=out, stderr=subprocess.STDOUT, timeout=seconds).returncode
        except subprocess.TimeoutExpired:
            out.write(b"\n(stopped after %d seconds)\n" % seconds)
            return -1


def smf_length_in_beats(path):
    """The last event's time in beats (format 0 or 1, ticks a quarter note)."""
    try:
        song = mido.MidiFile(path)
    except (OSError, ValueError, EOFError) as e:
        fail("%s is not a Standard MIDI File: %s" % (path, e))
    last = 0
    for track in song.tracks:
        ticks = 0
        for message in track:
            ticks += message.time
        last = max(last, ticks)
    return last / song.ticks_per_beat


def add_region(session_file, midi_name, beats):
    """The MIDI file as a source and one region of it at frame 0 on the
    track's playlist."""
    tree = ET.parse(session_file)
    root = tree.getroot()
    counter = int(root.get("id-counter"))
    source_id, whole_id, region_id = str(counter + 1), str(counter + 2), str(counter + 3)
    root.set("id-counter", str(counter + 10))
    ET.SubElement(root.find("Sources"), "Source", {
        "name": midi_name, "type": "midi", "flags": "", "id": source_id})
    # a beat more than the last event, so that the region ends after it
    length = "b%d@a0" % int(round((beats + 1) * TICKS_PER_BEAT))

    def region(rid, whole):
        return {
            "name": midi_name[:-4], "muted": "0", "opaque": "1", "locked": "0", "video-locked": "0",
            "automatic": "0", "whole-file": "1" if whole else "0", "import": "0", "external": "0",
            "sync-marked": "0", "left-of-split": "0", "right-of-split": "0", "hidden": "0",
            "position-locked": "0", "valid-transients": "0", "start": "b0", "length": length,
            "sync-position": "b0", "ancestral-start": "b0", "ancestral-length": length,
            "stretch": "1", "shift": "1", "layering-index": "0", "id": rid, "type": "midi",
            "first-edit": "nothing", "source-0": source_id, "master-source-0": source_id}

    ET.SubElement(root.find("Regions"), "Region", region(whole_id, True))
    playlist = root.find("Playlists/Playlist[@type='midi']")
    if playlist is None:
        fail("the session has no MIDI playlist")
    ET.SubElement(playlist, "Region", region(region_id, False))
    tree.write(session_file, encoding="UTF-8", xml_declaration=True)


def set_range(session_file, seconds):
    tree = ET.parse(session_file)
    root = tree.getroot()
    locations = root.find("Locations")
    counter = int(root.get("id-counter"))
    root.set("id-counter", str(counter + 2))
    # Positions in audio time are superclock ticks (282240000 a second).
    end = int(round(seconds * RATE)) * (282240000 // RATE)
    ET.SubElement(locations, "Location", {
        "id": str(counter + 1), "name": "session", "start": "a0", "end": "a%d" % end,
        "flags": "IsSessionRange", "locked": "0", "timestamp": "0", "cue": "0"})
    tree.write(session_file, encoding="UTF-8", xml_declaration=True)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--format", choices=["lv2", "vst3"], required=True)
    ap.add_argument("--plugins", required=True)
    ap.add_argument("--midi", required=True)
    ap.add_argument("--seconds", type=float, required=True)
    ap.add_argument("-o", "--output", required=True)
    ap.add_argument("--work")
    a = ap.parse_args()

    work = a.work or tempfile.mkdtemp(prefix="ardour-roundtrip-")
    os.makedirs(work, exist_ok=True)
    log = os.path.join(work, "ardour.log")
    try:
        env = dict(os.environ)
        for var, sub in (("HOME", "home"), ("XDG_CONFIG_HOME", "config"), ("XDG_CACHE_HOME", "cache"),
                         ("XDG_DATA_HOME", "data")):
            env[var] = os.path.join(work, sub)
            os.makedirs(env[var], exist_ok=True)
        plugins = os.path.abspath(a.plugins)
        # Only the plugin under test in its format's path.
        env["LV2_PATH"] = plugins if a.format == "lv2" else os.path.join(work, "none")
        env["VST3_PATH"] = plugins if a.format == "vst3" else os.path.join(work, "none")
        if a.format == "vst3":
            bundle = os.path.join(plugins, "marovane.vst3")
            # Ardour takes its cache of a bundle for stale unless the cache is
            # newer, in whole seconds, than every file of the bundle: a module
            # built within the second of the scan would not be found.
            newest = max(os.path.getmtime(os.path.join(d, f)) for d, _, fs in os.walk(bundle) for f in fs)
            while time.time() < int(newest) + 1.05:
                time.sleep(0.1)
            scan_env = dict(env, LD_LIBRARY_PATH="/usr/lib/ardour7")
            if run(["/usr/lib/ardour7/ardour-vst3-scanner", "-f", bundle], scan_env, log) != 0:
                fail("the VST3 scanner failed on " + bundle + " (see " + log + ")")
            env["RT_PLUGIN_TYPE"], env["RT_PLUGIN_ID"] = "VST3", "2046504473616C636E76724D00000000"
        else:
            env["RT_PLUGIN_TYPE"], env["RT_PLUGIN_ID"] = "LV2", "urn:marovane:synth"
        sessions = os.path.join(work, "sessions")
        session_dir = os.path.join(sessions, "roundtrip")
        shutil.rmtree(session_dir, ignore_errors=True)
        os.makedirs(sessions, exist_ok=True)
        env["RT_SESSION_DIR"], env["RT_SESSION_NAME"] = session_dir, "roundtrip"
        script = os.path.join(work, "make-session.lua")
        with open(script, "w") as f:
            f.write(MAKE_SESSION.replace("RT_RATE", str(RATE)))
        if run(["ardour7-lua", script], env, log) != 0:
            fail("ardour7-lua could not make the session (see " + log + ")")
        session_file = os.path.join(session_dir, "roundtrip.ardour")
        if not os.path.exists(session_file):
            fail("ardour7-lua made no session (see " + log + ")")
        midi_name = "song.mid"
        shutil.copyfile(a.midi, os.path.join(session_dir, "interchange", "roundtrip", "midifiles", midi_name))
        add_region(session_file, midi_name, smf_length_in_beats(a.midi))
        set_range(session_file, a.seconds)
        output = os.path.abspath(a.output)
        # ardour7-export now and then stops making progress once it has
        # begun writing (on a loaded machine): it gets three tries.
        for _ in range(3):
            if run(["ardour7-export", "-b", "float", "-s", str(RATE), "-o", output, session_dir, "roundtrip"],
                   env, log, 60) == 0 and os.path.exists(output):
                break
        else:
            fail("ardour7-export wrote no bounce (see " + log + ")")
        # The parameters Ardour showed, for the caller.
        with open(log, encoding="utf-8", errors="replace") as f:
            for line in f:
                if line.startswith("parameter\t"):
                    print(line.rstrip("\n"))
    finally:
        if not a.work:
            shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())

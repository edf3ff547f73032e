#!/bin/sh
# Until the window exists: bounce a demo chord and say where it went.
set -e
build=${1:-build}
out="$build/demo-chord.wav"
"$build/tools/marovane-render" --hold 2 -o "$out" 60 64 67 72
echo "demo chord: $(realpath "$out")"

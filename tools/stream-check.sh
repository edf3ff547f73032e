#!/bin/sh
# Holds all 128 notes at 128 partials on the program's audio path for SECONDS
# (default 60) under a private JACK dummy server and prints xruns, underflows
# and the callback's duration. usage: tools/stream-check.sh BUILD_DIR [SECONDS]
set -e
build=${1:-build}
seconds=${2:-60}
server="marovane-stream-check-$$"
jackd -n "$server" -d dummy -r 44100 -p 256 >/dev/null 2>&1 &
jack=$!
trap 'kill $jack 2>/dev/null; wait $jack 2>/dev/null || true' EXIT INT TERM
export JACK_DEFAULT_SERVER="$server"
tries=0
until jack_lsp >/dev/null 2>&1; do
  tries=$((tries + 1))
  if [ $tries -gt 50 ]; then echo "stream-check: jackd did not start" >&2; exit 2; fi
  sleep 0.1
done
"$build/bin/marovane-stream-check" "$seconds"

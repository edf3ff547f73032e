#!/bin/sh
# The soak: the worst case (all 128 notes at 128 partials) on the program's
# own audio path under a private JACK dummy server for SECONDS (default 600)
# while two CPU-bound processes load both cores. Prints the stream check's
# report: xruns, underflows, the callback's median, 99th percentile and
# maximum as shares of the buffer, and the callbacks longer than the buffer.
# usage: tools/soak.sh BUILD_DIR [SECONDS]
build=${1:-build}
seconds=${2:-600}
loads=""
for i in 1 2; do
  sh -c 'while :; do :; done' &
  loads="$loads $!"
done
trap 'kill $loads 2>/dev/null' EXIT INT TERM
echo "soak: $seconds s, worst case, two CPU-bound loads (pids$loads)"
sh "$(dirname "$0")/stream-check.sh" "$build" "$seconds"

#!/bin/sh
# Runs a command on a virtual X display (1600 x 1000) with a small window
# manager, so windows can take the focus and receive simulated input.
# XVFB_NO_WM=1 leaves the window manager out: nothing then moves or sizes
# the program's windows but the program itself.
# No desktop session either: GTK keeps its settings in memory instead of
# warning that dconf is missing.
export GSETTINGS_BACKEND=memory
exec xvfb-run -a -s "-screen 0 1600x1000x24 -nolisten tcp" sh -c '
  wm=
  if [ -z "$XVFB_NO_WM" ]; then
    openbox >/dev/null 2>&1 &
    wm=$!
    sleep 0.3
  fi
  "$@"
  rc=$?
  [ -n "$wm" ] && kill $wm 2>/dev/null
  exit $rc' sh "$@"

#!/bin/sh
# Runs a command on a virtual X display (1600 x 1000) of its own with a small
# window manager, so windows can take the focus and receive simulated input.
# The X server picks a free display number itself and tells it when it is
# ready (-displayfd): tests started in parallel each get their own display,
# with no race for a number. Only this command holds the display's cookie.
# XVFB_NO_WM=1 leaves the window manager out: nothing then moves or sizes
# the program's windows but the program itself.
# No desktop session either: GTK keeps its settings in memory instead of
# warning that dconf is missing.
export GSETTINGS_BACKEND=memory
dir=$(mktemp -d "${TMPDIR:-/tmp}/marovane-xvfb.XXXXXX") || exit 2
xvfb=
cleanup() {
  if [ -n "$xvfb" ]; then
    kill "$xvfb" 2>/dev/null
    wait "$xvfb" 2>/dev/null
  fi
  rm -rf "$dir"
}
trap cleanup EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM

# The server reads only the cookie from its file, whatever display the entry
# names; the command's file gets the entry for the real display below.
cookie=$(mcookie)
touch "$dir/server" "$dir/client"
xauth -q -f "$dir/server" add :0 . "$cookie" || exit 2
Xvfb -displayfd 3 -screen 0 1600x1000x24 -nolisten tcp -auth "$dir/server" \
    3>"$dir/display" >"$dir/log" 2>&1 &
xvfb=$!
tries=0
until [ -s "$dir/display" ]; do
  tries=$((tries + 1))
  if ! kill -0 "$xvfb" 2>/dev/null || [ $tries -gt 600 ]; then
    echo "with-xvfb.sh: Xvfb did not start:" >&2
    cat "$dir/log" >&2
    exit 2
  fi
  sleep 0.05
done
export DISPLAY=":$(head -n 1 "$dir/display")"
export XAUTHORITY="$dir/client"
xauth -q -f "$XAUTHORITY" add "$DISPLAY" . "$cookie" || exit 2

wm=
if [ -z "$XVFB_NO_WM" ]; then
  openbox >/dev/null 2>&1 &
  wm=$!
  sleep 0.3
fi
"$@"
rc=$?
if [ -n "$wm" ]; then
  kill $wm 2>/dev/null
  wait $wm 2>/dev/null
fi
exit $rc

#!/bin/sh
# make run: starts the synthesizer.
# On a desktop it simply opens the window. Where no display exists it starts a
# virtual one (Xvfb with the openbox window manager), and where no audio
# device exists a JACK server with the dummy driver; it says so in one line
# each, saves a screenshot of the window and prints its path, and stops what
# it started when the program ends (close the window, or Ctrl-C).
#
# RUN_SECONDS=n closes the window after n seconds (for a quick look).
build=${1:-build}
bin="$build/bin/marovane"
if [ ! -x "$bin" ]; then
  echo "run: $bin is not built; make run builds it" >&2
  exit 1
fi

started=""
cleanup() {
  for pid in $started; do
    kill "$pid" 2>/dev/null
  done
  for pid in $started; do
    wait "$pid" 2>/dev/null
  done
}
trap cleanup EXIT
# A closed terminal (HUP) or a reader that went away (PIPE) stops it as well.
trap 'exit 129' HUP
trap 'exit 130' INT TERM
trap 'exit 141' PIPE

headless=0
if [ -z "$DISPLAY" ] && [ -z "$WAYLAND_DISPLAY" ]; then
  n=90
  while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
  started="$! $started"
  export DISPLAY=":$n"
  i=0
  until xdpyinfo >/dev/null 2>&1; do
    i=$((i + 1)); [ $i -gt 100 ] && { echo "run: Xvfb did not start" >&2; exit 1; }
    sleep 0.1
  done
  openbox >/dev/null 2>&1 &
  started="$! $started"
  headless=1
  # No desktop session, so no settings service: GTK's file dialog would warn
  # about dconf some twenty times a use. Settings live in memory instead.
  export GSETTINGS_BACKEND=memory
  echo "No display: started a virtual display $DISPLAY (Xvfb with openbox)."
fi

# An audio device is there when the kernel has a sound card or a sound server
# (JACK, PulseAudio, PipeWire) runs.
has_audio() {
  [ -n "$(ls /dev/snd/pcmC*p 2>/dev/null)" ] && return 0
  jack_lsp >/dev/null 2>&1 && return 0
  rt=${XDG_RUNTIME_DIR:-/run/user/$(id -u)}
  [ -S "$rt/pulse/native" ] || [ -S "$rt/pipewire-0" ]
}
if ! has_audio; then
  export JACK_DEFAULT_SERVER="marovane-run-$$"
  jackd -r -n "$JACK_DEFAULT_SERVER" -d dummy -r 44100 -p 256 >/dev/null 2>&1 &
  started="$! $started"
  jack_wait -w -t 10 >/dev/null 2>&1
  echo "No audio device: started a JACK server \"$JACK_DEFAULT_SERVER\" with the dummy driver."
fi

"$bin" &
prog=$!
started="$prog $started"

window=""
boxes=0
if [ $headless = 1 ] || [ -n "$RUN_SECONDS" ]; then
  i=0
  while [ -z "$window" ] && [ $i -lt 200 ] && kill -0 $prog 2>/dev/null; do
    window=$(xdotool search --onlyvisible --name '^Marovane$' 2>/dev/null | head -n 1)
    # Start-up messages ("No MIDI input devices detected." where no MIDI
    # device exists) come before the window and wait for OK. On the virtual
    # display nobody can read them: each is saved as a picture, named, and
    # answered with OK.
    box=$(xdotool search --onlyvisible --name '^Message$' 2>/dev/null | head -n 1)
    if [ $headless = 1 ] && [ -z "$window" ] && [ -n "$box" ]; then
      sleep 0.3
      boxes=$((boxes + 1))
      pic="$(cd "$build" && pwd)/marovane-message-$boxes.png"
      import -window root "$pic" 2>/dev/null
      echo "A start-up message box was answered with OK (picture: $pic)."
      xdotool windowactivate --sync "$box" key Return 2>/dev/null
      sleep 0.3
    fi
    i=$((i + 1)); sleep 0.1
  done
fi
if [ $headless = 1 ] && [ -n "$window" ]; then
  sleep 1
  shot="$(cd "$build" && pwd)/marovane-screenshot.png"
  import -window root "$shot" && echo "Screenshot of the window: $shot"
  [ -z "$RUN_SECONDS" ] && echo "Stop it with Ctrl-C."
fi
if [ -n "$RUN_SECONDS" ] && [ -n "$window" ]; then
  sleep "$RUN_SECONDS"
  # The system's close shortcut, as a person would close it.
  xdotool windowactivate --sync "$window" key alt+F4 2>/dev/null
fi
wait $prog
rc=$?
started=${started#"$prog "}
exit $rc

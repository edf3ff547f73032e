#!/bin/sh
# The engine library's link interface. Usage: check-engine-link.sh MODULE LIBRARY
#  - MODULE, a shared module linked from the whole library with
#    --no-undefined, needs only the C and C++ runtimes;
#  - no undefined symbol of LIBRARY belongs to the toolkit, the audio or MIDI
#    libraries, JACK or the sound-file library.
module=$1
library=$2
status=0
needed=$(readelf -d "$module" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
[ -n "$needed" ] || { echo "no NEEDED entries read from $module" >&2; status=1; }
for lib in $needed; do
    case $lib in
    libstdc++.so.* | libm.so.* | libgcc_s.so.* | libc.so.* | libpthread.so.* | ld-linux*) ;;
    *) echo "the engine module needs $lib" >&2; status=1 ;;
    esac
done
foreign=$(nm -u -C "$library" | grep -E '(wx|Pa_|PaJack|RtMidi|rtmidi|jack_|sf_|snd_|smf_|XML_)' | sort -u)
if [ -n "$foreign" ]; then
    echo "the engine library uses symbols of other libraries:" >&2
    echo "$foreign" >&2
    status=1
fi
[ $status -eq 0 ] && echo "engine module needs:" $needed
exit $status

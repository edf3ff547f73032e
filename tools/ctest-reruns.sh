#!/bin/sh
# Runs ctest with the arguments given (make test allows a failing test one
# rerun) and passes its output through. At the end it names every test that
# failed and then passed when run again, so that a flaky test is seen and not
# hidden by its rerun. The exit status is ctest's: a test that failed on its
# rerun too still fails the run. Run it in the build directory.
log=$(mktemp) || exit 2
status=$(mktemp) || exit 2
trap 'rm -f "$log" "$status"' EXIT
{ ctest "$@" 2>&1; echo $? > "$status"; } | tee "$log"
rc=$(cat "$status")

# ctest prints one result line per run of a test, a rerun's without the
# counter in front: "  Test #12: name .....   Passed    0.05 sec".
awk '
  /Test +#[0-9]+: [^ ]+ \.+/ {
    line = $0
    sub(/^.*Test +#[0-9]+: /, "", line)
    name = line
    sub(/ .*$/, "", name)
    passed = (line ~ /\.+ +Passed /)
    if (!(name in first)) {
      first[name] = passed
      order[++n] = name
    }
    last[name] = passed
  }
  END {
    for (i = 1; i <= n; ++i)
      if (!first[order[i]] && last[order[i]])
        flaky[++m] = order[i]
    if (m > 0) {
      print ""
      print "Passed only when run again:"
      for (i = 1; i <= m; ++i)
        print "    " flaky[i]
    }
  }' "$log"
exit "$rc"

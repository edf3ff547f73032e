#!/bin/sh
# The wrapper `make test` runs ctest through, on a small project of its own:
# one test that always passes, one that fails on its first run only and one
# that always fails. With a rerun allowed, the flaky one is named at the end
# of the output, the others are not, and the run still fails for the broken
# one; without the broken one it passes, still naming the flaky one. All of
# it one test at a time and with three at once, as make test runs them.
# Usage: rerun_report_test.sh WRAPPER WORK_DIR
set -u
wrapper=$1
work=$2
rm -rf "$work"
mkdir -p "$work/src"
status=0
fail() { echo "FAIL: $*"; status=1; }

make_project() { # $1: with the broken test (1) or without (0)
  cat > "$work/src/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.16)
project(reruns NONE)
enable_testing()
add_test(NAME steady_one COMMAND true)
add_test(NAME flaky_one COMMAND sh -c "if [ -e \${CMAKE_BINARY_DIR}/ran ]; then exit 0; fi; touch \${CMAKE_BINARY_DIR}/ran; exit 1")
if($1)
  add_test(NAME broken_one COMMAND false)
endif()
CMAKE
  rm -rf "$work/build"
  cmake -S "$work/src" -B "$work/build" >/dev/null || fail "cmake"
}

for jobs in 1 3; do
for broken in 1 0; do
  make_project $broken
  (cd "$work/build" && sh "$wrapper" --repeat until-pass:2 -j $jobs) > "$work/out" 2>&1
  rc=$?
  report=$(sed -n '/^Passed only when run again:/,$p' "$work/out")
  echo "$report" | grep -q '^ *flaky_one$' || fail "flaky_one not named at the end (broken=$broken, -j $jobs)"
  echo "$report" | grep -q 'steady_one' && fail "steady_one named (broken=$broken)"
  echo "$report" | grep -q 'broken_one' && fail "broken_one named as passing (broken=$broken)"
  [ "$(tail -n 1 "$work/out" | sed 's/^ *//')" = flaky_one ] || fail "the report is not the end of the output (broken=$broken)"
  if [ $broken = 1 ]; then
    [ $rc -ne 0 ] || fail "a failing test did not fail the run"
  else
    [ $rc -eq 0 ] || fail "the run failed with every test passing in the end (rc $rc)"
  fi
done
done

# Nothing flaky: no report at all.
cat > "$work/src/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.16)
project(reruns NONE)
enable_testing()
add_test(NAME steady_one COMMAND true)
CMAKE
rm -rf "$work/build"
cmake -S "$work/src" -B "$work/build" >/dev/null || fail "cmake"
(cd "$work/build" && sh "$wrapper" --repeat until-pass:2) > "$work/out" 2>&1 || fail "a passing run failed"
grep -q 'Passed only when run again' "$work/out" && fail "a report without a flaky test"

[ $status -eq 0 ] && rm -rf "$work"
exit $status

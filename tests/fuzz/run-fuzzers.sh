#!/bin/sh
# Builds the libFuzzer harnesses with clang and the address and
# undefined-behaviour sanitizers in their own build folder, then runs each for
# SECONDS (default 60) on the committed corpus of its input format (the
# harness table at the end of tests/fuzz/CMakeLists.txt: the patch harnesses
# share corpus/patch), with a dictionary where there is one (NAME.dict, else
# FORMAT.dict). New inputs go to BUILD/corpus/NAME, crashes to
# BUILD/findings/NAME; the committed corpus is only read.
#   usage: run-fuzzers.sh BUILD [SECONDS] [HARNESS...]
set -eu
build=${1:?usage: run-fuzzers.sh BUILD [SECONDS] [HARNESS...]}
seconds=${2:-60}
shift; [ $# -gt 0 ] && shift
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)

command -v clang++ >/dev/null || { echo "make fuzz needs clang++ (make deps installs it)"; exit 1; }
cmake -S "$source_dir" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
      -DMAROVANE_FUZZ=ON -DMAROVANE_TSAN=OFF >/dev/null
cmake --build "$build" --target fuzzers

# "marovane_fuzz_harness(NAME FORMAT)" lines, as "NAME FORMAT".
table=$(sed -n 's/^marovane_fuzz_harness(\([a-z_0-9]*\) \([a-z_0-9]*\))$/\1 \2/p' "$here/CMakeLists.txt")
harnesses=${*:-$(echo "$table" | cut -d' ' -f1)}
status=0
for name in $harnesses; do
    format=$(echo "$table" | awk -v n="$name" '$1 == n { print $2 }')
    [ -n "$format" ] || { echo "no harness $name in $here/CMakeLists.txt"; exit 1; }
    mkdir -p "$build/corpus/$name" "$build/findings/$name"
    dict=""
    [ -f "$here/$name.dict" ] && dict="-dict=$here/$name.dict"
    [ -z "$dict" ] && [ -f "$here/$format.dict" ] && dict="-dict=$here/$format.dict"
    echo "== $name: $seconds s"
    # Inputs grow up to the largest seed (a shipped patch, about 14 KB), enough
    # for deep and long documents without slowing every run.
    "$build/bin/${name}_fuzzer" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="$build/findings/$name/" $dict "$build/corpus/$name" "$here/corpus/$format" \
        2>"$build/$name.log" || status=1
    grep -E "^(#[0-9]+ *DONE|stat::number_of_executed_units|stat::average_exec_per_sec|stat::peak_rss_mb)" \
        "$build/$name.log" || true
    grep -E "^#[0-9]+.*cov:" "$build/$name.log" | tail -1
    ls "$build/findings/$name" | sed 's/^/finding: /'
done
exit $status

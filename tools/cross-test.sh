#!/bin/sh
# Builds the engine library and its tests for 64-bit ARM with Debian's cross
# compiler (cmake/aarch64-linux-gnu.cmake: no vector kernels, the portable
# one) and runs the tests under qemu-user.
# Usage: cross-test.sh SOURCE_DIR BUILD_DIR
set -e
src=$1
build=$2
cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMAROVANE_ENGINE_ONLY=ON \
    -DCMAKE_TOOLCHAIN_FILE="$src/cmake/aarch64-linux-gnu.cmake" >/dev/null
cmake --build "$build"
# The library holds no x86 code.
if aarch64-linux-gnu-objdump -f "$build/src/engine/libmarovane_engine.a" | grep 'file format' | grep -v aarch64; then
    echo "an object of the engine library is not aarch64 code" >&2
    exit 1
fi
cd "$build" && ctest --output-on-failure --timeout 900

#!/usr/bin/env bash
# Installs what is missing, builds everything (tests, plug-ins, tools, benchmarks) and runs every
# test. A second, ThreadSanitizer build runs the tests of the threaded parts again.
# BUILD_DIR and TSAN_BUILD_DIR choose the build folders; PIXKEY_SKIP_TSAN=1 skips the second pass;
# PIXKEY_TSAN_TESTS (a regular expression over test target names) widens or narrows it.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh

jobs=$(nproc)
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$jobs"
ctest --test-dir "$build" --output-on-failure -j "$jobs"

if [ "${PIXKEY_SKIP_TSAN:-0}" != 1 ]; then
  tsan=${TSAN_BUILD_DIR:-build-tsan}
  # The parts whose subject is threads: the keypad link, the emulator, the plug-in host, the
  # application core, the hook layer and Vegas. PIXKEY_TSAN_TESTS='.*' takes every threaded test.
  cmake -S . -B "$tsan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPIXKEY_TSAN=ON \
    -DPIXKEY_TSAN_TESTS="${PIXKEY_TSAN_TESTS:-^(device|emulator|plugins|core|pxkhk|vegas)_}" >/dev/null
  cmake --build "$tsan" -j "$jobs" --target pixkey_tsan_tests
  # Only the tests labelled "threaded" exist in this build.
  # The suppressions reach the programs the tests start too (pixkeyctl, the configurator).
  TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/cmake/tsan-suppressions.txt" \
    ctest --test-dir "$tsan" --output-on-failure -j "$jobs"
fi

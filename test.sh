#!/usr/bin/env bash
# Sets up, builds and runs every test through CTest.
#   SONARIS_SANITIZE=address,undefined ./test.sh   (what CI runs)
#   SONARIS_SANITIZE=thread ./test.sh              (ThreadSanitizer)
#   ./test.sh -L engine                            (extra arguments go to ctest)
set -euo pipefail
cd "$(dirname "$0")"
./setup.sh

sanitize="${SONARIS_SANITIZE:-}"
build="build${sanitize:+-${sanitize//,/-}}"
jobs="${SONARIS_JOBS:-$(nproc)}"

cmake -S . -B "$build" -G Ninja -DSONARIS_SANITIZE="$sanitize" >/dev/null
cmake --build "$build" -j "$jobs"

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
export TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/tests/tsan.supp}"
export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$PWD/tests/lsan.supp}"
export QT_QPA_PLATFORM=offscreen

ctest --test-dir "$build" --output-on-failure -j "$jobs" --timeout 300 "$@"

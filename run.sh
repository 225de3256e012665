#!/usr/bin/env bash
# Sets up, builds and starts Quorvel Sonaris. Arguments go to the program.
set -euo pipefail
if [ -z "${QT_QPA_PLATFORM:-}" ] && [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  # Nobody can click here: the program runs without windows, and every question it would ask
  # takes the answer that lets it go on (or end cleanly).
  echo "No display: Quorvel Sonaris runs on Qt's offscreen platform; channels, schedules, \"/api\" and the streams still serve."
  export QT_QPA_PLATFORM=offscreen
fi
cd "$(dirname "$0")"
./setup.sh
cmake -S . -B build -G Ninja -DSONARIS_TESTS=OFF -DSONARIS_BENCH=OFF >/dev/null
cmake --build build -j "$(nproc)" --target sonaris >&2
exec ./build/src/sonaris "$@"

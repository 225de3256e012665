#!/usr/bin/env bash
# Sets up, builds and starts Quorvel Sonaris.
set -euo pipefail
cd "$(dirname "$0")"
./setup.sh
cmake -S . -B build -G Ninja -DSONARIS_TESTS=OFF -DSONARIS_BENCH=OFF >/dev/null
cmake --build build -j "$(nproc)" --target sonaris
exec ./build/src/sonaris "$@"

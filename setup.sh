#!/usr/bin/env bash
# Installs every Debian package that building, running and testing Quorvel Sonaris needs.
# Idempotent and non-interactive: apt-get runs only when something is missing.
set -euo pipefail

packages=(
  # build
  build-essential cmake ninja-build pkg-config git
  clang lld libclang-rt-14-dev
  # Qt 5
  qtbase5-dev qtbase5-dev-tools libqt5sql5-sqlite qtmultimedia5-dev libqt5multimedia5-plugins
  # media, network and system libraries
  libavformat-dev libavcodec-dev libavutil-dev libswresample-dev
  libosip2-dev libc-ares-dev libssl-dev libqrencode-dev libpcap-dev libpulse-dev
  nlohmann-json3-dev
  # tests
  libgtest-dev libgmock-dev
  ffmpeg sox sqlite3 curl openssl iproute2 procps psmisc util-linux python3
  zbar-tools fonts-liberation2 python3-websockets chromium
  tshark sip-tester pulseaudio pulseaudio-utils dbus-daemon
  xvfb xdotool
  # benchmarks
  gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  rapidjson-dev libsimdjson-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "setup: these packages are missing and installing them needs root: ${missing[*]}" >&2
    exit 1
  fi
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  echo "wireshark-common wireshark-common/install-setuid boolean false" | debconf-set-selections
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

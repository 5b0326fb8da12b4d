#!/usr/bin/env bash
# Shared by run.sh and test.sh: install what is missing, then build.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# Everything the program, its tests and its benchmarks need, from Debian's packages.
PACKAGES=(
  build-essential cmake pkg-config git python3
  qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev qt6-qpa-plugins libgl-dev libgl1-mesa-dri
  libmpv-dev libfluidsynth-dev timgm6mb-soundfont
  libqm-dsp-dev  # beat and bar tracking
  aubio-tools fluidsynth fluid-soundfont-gm  # the beat tracking bench: the tracker beside ours, the pieces' sound
  fretsonfire-songs-muldjord  # the beat tracking bench's recordings (CC BY-SA 3.0 songs)
  fretsonfire-songs-sectoid  # the beat tracking bench's recordings (songs under an MIT-style licence)
  libavformat-dev libavcodec-dev libswresample-dev librubberband-dev libpulse-dev libxcb1-dev
  ffmpeg xvfb xauth xdotool x11-utils imagemagick fonts-dejavu-core fonts-liberation2 openbox trayer time
  dbus playerctl desktop-file-utils appstream
  weston qt6-wayland at-spi2-core python3-gi gir1.2-atspi-2.0  # the Wayland run and the accessibility bus
  qt6ct  # a dark palette for tests/screenshots.sh
  file dpkg-dev  # cpack works out the .deb's library dependencies with them
  clang libclang-rt-14-dev  # the fuzz targets: libFuzzer and the sanitizers' run-time
)

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

install_missing() {
  local missing=()
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    as_root apt-get update -qq
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
}

# build TYPE DIR [cmake options...]: configure and build everything the options ask for.
build() {
  local type="$1" dir="$2"
  shift 2
  cmake -S "$ROOT" -B "$dir" -DCMAKE_BUILD_TYPE="$type" "$@" >/dev/null
  cmake --build "$dir" -j2
}

# build_targets DIR TARGET...: configure a Release build in DIR and build only the targets
# named (the benchmarks' drivers).
build_targets() {
  local dir="$1"
  shift
  cmake -S "$ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$dir" -j2 --target "$@" >/dev/null
}

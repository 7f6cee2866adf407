#!/usr/bin/env bash
# Installs what the desktop program needs, builds it and starts it. Without a camera on this
# machine it starts with the simulated camera and says so.
set -euo pipefail
cd "$(dirname "$0")/.."

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
  cmake ninja-build g++ pkg-config libjpeg62-turbo-dev libpng-dev zlib1g-dev \
  qt6-base-dev qt6-multimedia-dev qt6-svg-dev qt6-qpa-plugins fonts-dejavu-core

cmake -S . -B build/app -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DRAVDEL_BUILD_TESTS=OFF -DRAVDEL_BUILD_BENCH=OFF >/dev/null
cmake --build build/app --target ravdel

if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "Ravdel is a desktop program: start this from a graphical session." >&2
  exit 1
fi
if ! ls /dev/video* >/dev/null 2>&1 && [ -z "${RAVDEL_SIMULATED_CAMERA:-}" ]; then
  export RAVDEL_SIMULATED_CAMERA='synthetic:format=YUY2,size=640x480,fps=30,hits=1'
  echo "No camera found: starting with the simulated camera ($RAVDEL_SIMULATED_CAMERA)."
fi
echo "Ravdel runs in the notification area: click its icon to open the window."
exec build/app/src/app/window/ravdel

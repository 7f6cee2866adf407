#!/usr/bin/env bash
# Installs what the program needs, builds it and starts it.
# Until the desktop window exists, this runs the frame analyser on a sample frame it makes:
# a dark 640x480 YUY2 frame from a taped-over camera with one particle hit in it.
set -euo pipefail
cd "$(dirname "$0")/.."

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
  cmake ninja-build g++ pkg-config libjpeg62-turbo-dev libpng-dev zlib1g-dev

cmake -S . -B build/app -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRAVDEL_BUILD_TESTS=OFF -DRAVDEL_BUILD_APP=OFF >/dev/null
cmake --build build/app --target ravdel-analyse

samples="build/app/samples"
mkdir -p "$samples/events"
sample="$samples/dark-with-hit.yuy2"
# Y=16 (black) with neutral chroma everywhere ...
head -c 614400 < <(yes $'\x10\x80\x10\x80' | tr -d '\n') >"$sample"
# ... and one bright pixel (Y=235) in the middle of the picture.
printf '\xeb' | dd of="$sample" bs=1 seek=$((240 * 1280 + 320 * 2)) conv=notrunc status=none

echo "Analysing $sample (640x480 YUY2, limit 150):"
build/app/src/tools/ravdel-analyse --fourcc YUY2 --width 640 --height 480 --limit 150 \
  --lens-check --out "$samples/events" "$sample"
echo "Event pictures: $samples/events"

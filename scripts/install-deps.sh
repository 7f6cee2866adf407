#!/usr/bin/env bash
# Installs what building, testing, fuzzing and benchmarking need on Debian 12.
set -euo pipefail
packages=(
  cmake ninja-build g++ pkg-config clang-format
  clang libclang-rt-14-dev
  libjpeg62-turbo-dev libpng-dev zlib1g-dev
  qt6-base-dev qt6-multimedia-dev
  libgtest-dev libbenchmark-dev libyuv-dev libopencv-core-dev libopencv-imgproc-dev
)
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${packages[@]}"

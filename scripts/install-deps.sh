#!/usr/bin/env bash
# Installs what building, testing (the desktop end to end too), fuzzing and benchmarking
# need on Debian 12.
set -euo pipefail
packages=(
  cmake ninja-build g++ pkg-config clang-format
  clang libclang-rt-14-dev
  libjpeg62-turbo-dev libpng-dev zlib1g-dev
  qt6-base-dev qt6-multimedia-dev qt6-svg-dev qt6-qpa-plugins
  libgtest-dev libbenchmark-dev libyuv-dev libopencv-core-dev libopencv-imgproc-dev
  # the desktop program's end-to-end test: an X server, a notification area, input and
  # screenshots; a private bus for the suspend and resume test (no dbus-x11: it would start
  # a session bus that outlives the program)
  xvfb xauth trayer xdotool xclip imagemagick fonts-dejavu-core dbus-daemon curl
  # a comma-decimal locale for the figures' tests; load for the end-to-end test's stress runs
  locales stress-ng
  # the station network: the store's engines, the broker and its client library, JSON; the
  # tests start their own broker and PostgreSQL cluster
  libsqlite3-dev libpq-dev postgresql mosquitto mosquitto-clients libmosquitto-dev
  nlohmann-json3-dev sqlite3
  # the network's server: the broker's password hashes and random passwords (libssl); the
  # tests' certificate authority (openssl)
  libssl-dev openssl
  # the network's figures: the page's HTTP server and its chart library (built into the
  # program), and the browser that tests the page
  libcpp-httplib-dev libjs-dygraphs chromium
  # the Windows programs: MinGW-w64 cross compilers, nasm for libjpeg-turbo's SIMD, the tools
  # to unpack Debian's source packages, Wine to run the tests
  g++-mingw-w64-x86-64-posix nasm dpkg-dev googletest wine wine64 tcl
  # the Windows packages: the portable zip and the installer
  zip nsis
)
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

# The arm64 cross build (Raspberry Pi OS 64-bit) with its tests under qemu-aarch64, and the
# Debian packages with their lintian check. The arm64 libraries come from Debian's arm64
# archive (multiarch), so apt must know that architecture before it looks for them. libpq-dev
# cannot be installed for two architectures at once: the arm64 build keeps its store in SQLite
# alone, as a station does.
if ! dpkg --print-foreign-architectures | grep -qx arm64; then
  $sudo dpkg --add-architecture arm64
fi
packages+=(
  crossbuild-essential-arm64 qemu-user lintian
  libc6:arm64 libstdc++6:arm64 libjpeg62-turbo-dev:arm64 libpng-dev:arm64 zlib1g-dev:arm64
  libgtest-dev:arm64 qt6-base-dev:arm64 qt6-multimedia-dev:arm64 qt6-svg-dev:arm64
  libsqlite3-dev:arm64 libmosquitto-dev:arm64 libssl-dev:arm64 libcpp-httplib-dev:arm64
)
# Quick when everything is there already: apt is asked only for what is missing.
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    missing+=("$package")
done
if [ "${#missing[@]}" -gt 0 ]; then
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
    "${missing[@]}"
fi
# The comma-decimal locale the tests switch to (nothing else uses it).
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  $sudo sed -i 's/^# *\(de_DE.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  $sudo locale-gen >/dev/null
fi

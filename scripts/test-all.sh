#!/usr/bin/env bash
# Installs the dependencies, then builds and runs every test: the optimised build (warnings
# as errors), AddressSanitizer + UndefinedBehaviorSanitizer, ThreadSanitizer, the formatting
# check, a short benchmark smoke run, a bounded fuzzing run, the arm64 cross build with its
# tests under qemu-aarch64, the Debian packages (lintian, installed and run), and the Windows
# programs cross-built with MinGW-w64 with their tests under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
fuzz_seconds="${RAVDEL_FUZZ_SECONDS:-60}"

scripts/install-deps.sh

echo "== formatting"
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

# libmosquitto is not built with ThreadSanitizer: its own lock order is no finding of ours.
export TSAN_OPTIONS="suppressions=$PWD/tests/tsan.supp ${TSAN_OPTIONS:-}"
for preset in release asan tsan; do
  echo "== $preset: build and test"
  cmake --preset "$preset" >/dev/null
  cmake --build "build/$preset" -j"$(nproc)"
  ctest --test-dir "build/$preset" --output-on-failure -j"$(nproc)"
done

echo "== benchmarks: one short pass at the smallest size"
build/release/bench/ravdel-bench --benchmark_filter='640x480' --benchmark_min_time=0.01 >/dev/null
# The network's figures on a small generated store (a year of 100 stations takes minutes).
build/release/bench/ravdel-figures-bench --stations=10 --days=7 --benchmark_min_time=0.01 \
  --folder=build/release/figures-bench >/dev/null
build/release/bench/ravdel-network-bench --benchmark_filter='SQLite' >/dev/null

echo "== fuzzing for ${fuzz_seconds} s"
cmake --preset fuzz >/dev/null
cmake --build build/fuzz -j"$(nproc)"
fuzz/run_fuzz.sh build/fuzz "$fuzz_seconds"
echo "== arm64: cross build, and the tests under qemu-aarch64"
arm64_start=$SECONDS
cmake --preset arm64 >/dev/null
cmake --build --preset arm64 -j"$(nproc)"
ctest --preset arm64 -j"$(nproc)"
echo "== arm64: $((SECONDS - arm64_start)) s"

echo "== packages: ravdel and ravdel-monitor for amd64 and arm64, checked, installed and run"
packages_start=$SECONDS
(cd build/release && cpack >/dev/null)
(cd build/arm64 && cpack >/dev/null)
packaging/debian/check_packages.sh build/release/packages build/arm64/packages
echo "== packages: $((SECONDS - packages_start)) s"

echo "== windows: libraries, build, and test under Wine"
windows_start=$SECONDS
scripts/windows-deps.sh >/dev/null
cmake --preset windows >/dev/null
cmake --build --preset windows -j"$(nproc)"
# Wine's services are started first, detached from every pipe: started by a test, they would
# inherit ctest's output pipe and hold each test up. The prefix lives in the build tree. No Wine
# run writes menu entries or icons into the home folder (winemenubuilder off).
export WINEPREFIX="$PWD/build/windows/wine-prefix" WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
mkdir -p "$WINEPREFIX"
# The window's tests need an X display, and Wine's desktop process must have it from its start:
# an X server of our own for the Windows part.
wineserver -k 2>/dev/null || true
source tests/x_server.sh
start_xvfb build/windows || { echo "no X server for the Windows tests" >&2; exit 1; }
wineserver -p </dev/null >/dev/null 2>&1
trap 'wineserver -k 2>/dev/null || true; kill "$xvfb_pid" 2>/dev/null || true' EXIT
wine cmd /c exit </dev/null >/dev/null 2>&1
ctest --preset windows -j"$(nproc)"
echo "== windows: ravdel.exe end to end under Wine and Xvfb (screenshots in build/windows/e2e)"
tests/app_win32/win32_e2e.sh build/windows/src/app_win32/ravdel.exe build/windows/e2e
echo "== windows: a station under Wine sends to a broker and ravdel-ingest on loopback"
tests/network/windows_station.sh build/windows/src/headless/ravdel-monitor.exe \
  build/release/src/server/ravdel-ingest build/windows/station
echo "== windows: the portable zip and the installer, installed and uninstalled under Wine"
setup="$(scripts/package-windows.sh build/windows | tail -n1)"
packaging/windows/check_installer.sh "$setup"
wineserver -k
kill "$xvfb_pid"
unset DISPLAY
trap - EXIT
echo "== windows: $((SECONDS - windows_start)) s"
echo "== all tests passed"

#!/usr/bin/env bash
# Installs the dependencies, then builds and runs every test: the optimised build (warnings
# as errors), AddressSanitizer + UndefinedBehaviorSanitizer, ThreadSanitizer, the formatting
# check, a short benchmark smoke run, a bounded fuzzing run, and the Windows programs
# cross-built with MinGW-w64 with their tests under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
fuzz_seconds="${RAVDEL_FUZZ_SECONDS:-60}"

scripts/install-deps.sh

echo "== formatting"
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

for preset in release asan tsan; do
  echo "== $preset: build and test"
  cmake --preset "$preset" >/dev/null
  cmake --build "build/$preset" -j"$(nproc)"
  ctest --test-dir "build/$preset" --output-on-failure -j"$(nproc)"
done

echo "== benchmarks: one short pass at the smallest size"
build/release/bench/ravdel-bench --benchmark_filter='640x480' --benchmark_min_time=0.01 >/dev/null

echo "== fuzzing for ${fuzz_seconds} s"
cmake --preset fuzz >/dev/null
cmake --build build/fuzz -j"$(nproc)"
fuzz/run_fuzz.sh build/fuzz "$fuzz_seconds"
echo "== windows: libraries, build, and test under Wine"
windows_start=$SECONDS
scripts/windows-deps.sh >/dev/null
cmake --preset windows >/dev/null
cmake --build --preset windows -j"$(nproc)"
# Wine's services are started first, detached from every pipe: started by a test, they would
# inherit ctest's output pipe and hold each test up. The prefix lives in the build tree.
export WINEPREFIX="$PWD/build/windows/wine-prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WINEPREFIX"
wineserver -p </dev/null >/dev/null 2>&1
trap 'wineserver -k 2>/dev/null || true' EXIT
wine cmd /c exit </dev/null >/dev/null 2>&1
ctest --preset windows -j"$(nproc)"
wineserver -k
trap - EXIT
echo "== windows: $((SECONDS - windows_start)) s"
echo "== all tests passed"

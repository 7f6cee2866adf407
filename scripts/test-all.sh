#!/usr/bin/env bash
# Installs the dependencies, then builds and runs every test: the optimised build (warnings
# as errors), AddressSanitizer + UndefinedBehaviorSanitizer, ThreadSanitizer, the formatting
# check, a short benchmark smoke run and a bounded fuzzing run.
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
echo "== all tests passed"

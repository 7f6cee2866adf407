#!/usr/bin/env bash
# Runs the frame-converter fuzzer for a while on a fresh corpus; builds nothing.
# Usage: fuzz/run_fuzz.sh BUILD_DIR SECONDS
# Exits non-zero when the fuzzer finds a crash, a leak or a timeout; the reproducer is kept
# in BUILD_DIR/fuzz/artifacts/ and printed in hex. Re-run one input with:
#   BUILD_DIR/fuzz/convert_frame_fuzzer FILE
set -euo pipefail

if [[ $# -ne 2 ]]; then
  echo "usage: $0 BUILD_DIR SECONDS" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
seconds=$2
fuzzer="$build/fuzz/convert_frame_fuzzer"
seeds="$build/fuzz/convert_frame_seeds"
for exe in "$fuzzer" "$seeds"; do
  if [[ ! -x $exe ]]; then
    echo "$0: $exe not found: configure with -DRAVDEL_BUILD_FUZZ=ON and build first" >&2
    exit 2
  fi
done

corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
artifacts="$build/fuzz/artifacts"  # this run's findings only
rm -rf "$artifacts"
mkdir -p "$artifacts"
"$seeds" "$corpus"

status=0
"$fuzzer" "$corpus" -max_total_time="$seconds" -max_len=8192 -timeout=20 -rss_limit_mb=2048 \
  -dict="$(dirname "$0")/convert_frame.dict" -artifact_prefix="$artifacts/" \
  -print_final_stats=1 || status=$?

if [[ $status -ne 0 ]]; then
  echo "$0: the fuzzer failed (exit status $status); reproducers:" >&2
  for f in "$artifacts"/*; do
    [[ -f $f ]] || continue
    echo "== $f" >&2
    od -An -tx1 -v "$f" | head -n 64 >&2
  done
  exit 1
fi

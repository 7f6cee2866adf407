#!/usr/bin/env bash
# Runs each fuzzer (the frame converter, the server's reading of the stations' messages) on a
# fresh corpus, sharing the time given between them; builds nothing.
# Usage: fuzz/run_fuzz.sh BUILD_DIR SECONDS
# Exits non-zero when a fuzzer finds a crash, a leak or a timeout; the reproducer is kept in
# BUILD_DIR/fuzz/artifacts/NAME/ and printed in hex. Re-run one input with:
#   BUILD_DIR/fuzz/NAME FILE
set -euo pipefail

if [[ $# -ne 2 ]]; then
  echo "usage: $0 BUILD_DIR SECONDS" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
seconds=$2
here=$(cd "$(dirname "$0")" && pwd)
targets=(convert_frame wire_messages)
share=$(( seconds / ${#targets[@]} ))
(( share > 0 )) || share=1

# NAME MAX_LEN: runs NAME_fuzzer on the corpus NAME_seeds writes, with NAME.dict.
fuzz() {
  local name=$1 max_len=$2
  local fuzzer="$build/fuzz/${name}_fuzzer" seeds="$build/fuzz/${name}_seeds"
  for exe in "$fuzzer" "$seeds"; do
    if [[ ! -x $exe ]]; then
      echo "$0: $exe not found: configure with -DRAVDEL_BUILD_FUZZ=ON and build first" >&2
      exit 2
    fi
  done
  local corpus artifacts="$build/fuzz/artifacts/$name"  # this run's findings only
  corpus=$(mktemp -d)
  rm -rf "$artifacts"
  mkdir -p "$artifacts"
  "$seeds" "$corpus"
  local status=0
  "$fuzzer" "$corpus" -max_total_time="$share" -max_len="$max_len" -timeout=20 \
    -rss_limit_mb=2048 -dict="$here/$name.dict" -artifact_prefix="$artifacts/" \
    -print_final_stats=1 || status=$?
  rm -rf "$corpus"
  if [[ $status -ne 0 ]]; then
    echo "$0: $name: the fuzzer failed (exit status $status); reproducers:" >&2
    for f in "$artifacts"/*; do
      [[ -f $f ]] || continue
      echo "== $f" >&2
      od -An -tx1 -v "$f" | head -n 64 >&2
    done
    return 1
  fi
}

fuzz convert_frame 8192
fuzz wire_messages 65536

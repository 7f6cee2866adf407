#!/usr/bin/env bash
# How ctest runs a Windows program: under Wine, with one more start when the first did not
# happen at all.
#
#   wine-test-runner.sh WINE PROGRAM [ARGUMENT...]
#
# Wine now and then fails to start a program: it exits with an error at once and prints
# nothing (seen once on a CI machine, a test of plain arithmetic, 0.01 s; not reproduced in
# thousands of starts). A program of ours that did start has printed something by the time it
# fails: the test programs write and flush their header first, and our other programs say
# what went wrong. So only a failure without a byte of output is taken for a start that did not
# happen, said so on stderr, and made once more; its second result stands.
set -u
wine=$1
shift
out=$(mktemp)
err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
for attempt in 1 2; do
  "$wine" "$@" >"$out" 2>"$err"
  status=$?
  cat "$out"
  cat "$err" >&2
  if [ "$status" -eq 0 ] || [ -s "$out" ] || [ -s "$err" ] || [ "$attempt" -eq 2 ]; then
    exit "$status"
  fi
  echo "wine-test-runner: Wine exited with status $status before $1 printed anything;" \
    "starting it once more" >&2
done

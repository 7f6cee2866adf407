#!/usr/bin/env bash
# The accelerated week: ravdel-monitor against the simulated camera at 300 frames a second with
# hot and warm pixels and a light leak, the camera unplugged every 20000 frames and back a
# second later, the event log rotated nine times, then SIGTERM. It checks that every event is
# one whole line and one picture, that the memory stays flat and the open files with it, and
# scores the run against the camera's truth. Not part of ctest: it runs as long as it is told.
#
#   tests/soak/accelerated_week.sh [BUILD_DIR] [MINUTES] [WORK_DIR]
#
# BUILD_DIR defaults to build/release, MINUTES to 20; WORK_DIR (kept afterwards) to a new
# temporary folder. Exit status 0 when every check passed. Linux only (it reads /proc).
set -euo pipefail

build=${1:-build/release}
minutes=${2:-20}
work=${3:-$(mktemp -d "${TMPDIR:-/tmp}/ravdel-soak.XXXXXX")}
monitor=$build/src/headless/ravdel-monitor
analyse=$build/src/tools/ravdel-analyse
for program in "$monitor" "$analyse"; do
  [[ -x $program ]] || { echo "soak: $program is missing; build first" >&2; exit 2; }
done
mkdir -p "$work"
rm -rf "$work/pictures" "$work"/events.jsonl* "$work/truth.jsonl" "$work/stderr"

readonly rotations=9
readonly sample_every=5        # seconds between looks at memory and open files
readonly settle_seconds=60     # the baseline is taken after the first minute
readonly memory_slack_kb=4096  # growth beyond the baseline that still counts as flat
readonly duration=$((minutes * 60))

camera="synthetic:format=YUY2,size=320x240,fps=300,hits=5,hot=20,warm=20,leak=30+5"
camera+=",unplug-after=20000,back-after=1000,seed=11,also=none,name=Soak camera"
camera+=",truth=$work/truth.jsonl"

RAVDEL_SIMULATED_CAMERA=$camera "$monitor" --camera "Soak camera" --settings "$work/RVD.ini" \
  --hot-pixel-mask --light-leak-guard --events "$work/events.jsonl" --out "$work/pictures" \
  2>"$work/stderr" &
pid=$!
trap 'kill -KILL "$pid" 2>/dev/null || true' EXIT

rss_kb() { awk '/^VmRSS:/ { print $2 }' "/proc/$pid/status"; }
# A picture being written holds its file for a moment, and the camera's truth file is closed
# while the camera is away: neither is a leak.
open_files() {
  find "/proc/$pid/fd" -mindepth 1 -maxdepth 1 -printf '%l\n' |
    grep -v -e "^$work/pictures/" -e "^$work/truth.jsonl" | wc -l
}

echo "soak: $minutes min in $work (pid $pid)"
start=$SECONDS
rotated=0
baseline=0
rss_min=0 rss_max=0 fd_min=0 fd_max=0
while (( SECONDS - start < duration )); do
  sleep "$sample_every"
  kill -0 "$pid" 2>/dev/null || { echo "soak: ravdel-monitor ended early" >&2; cat "$work/stderr" >&2; exit 1; }
  elapsed=$((SECONDS - start))
  rss=$(rss_kb)
  fds=$(open_files)
  if (( elapsed >= settle_seconds )); then
    if (( baseline == 0 )); then
      baseline=$rss rss_min=$rss rss_max=$rss fd_min=$fds fd_max=$fds
    fi
    (( rss < rss_min )) && rss_min=$rss
    (( rss > rss_max )) && rss_max=$rss
    (( fds < fd_min )) && fd_min=$fds
    (( fds > fd_max )) && fd_max=$fds
  fi
  # Nine rotations spread over the run, as logrotate would do them.
  if (( rotated < rotations && elapsed >= (rotated + 1) * duration / (rotations + 1) )); then
    rotated=$((rotated + 1))
    mv "$work/events.jsonl" "$work/events.jsonl.$rotated"
    kill -HUP "$pid"
  fi
  if (( elapsed % 60 < sample_every )); then
    echo "soak: $((elapsed / 60)) min, rss ${rss} kB, open files $fds, pictures $(find "$work/pictures" -name '*.png' | wc -l)"
  fi
done
kill -TERM "$pid"
status=0
wait "$pid" || status=$?
trap - EXIT

logs=("$work"/events.jsonl.* "$work/events.jsonl")
lines=$(cat "${logs[@]}" | wc -l)
pictures=$(find "$work/pictures" -name '*.png' | wc -l)
summary=$(grep 'stopped (SIGTERM)' "$work/stderr" || true)
events=$(sed -n 's/.* events \([0-9]*\),.*/\1/p' <<<"$summary")
unwritten=$(sed -n 's/.*event log lines not written \([0-9]*\).*/\1/p' <<<"$summary")
losses=$(grep -c 'camera lost' "$work/stderr" || true)
returns=$(grep -c 'camera back' "$work/stderr" || true)
reopened=$(grep -c 'event log reopened' "$work/stderr" || true)
leaks=$(grep -c 'Light leak: counting paused' "$work/stderr" || true)
score=$("$analyse" --truth "$work/truth.jsonl" "${logs[@]}" 2>&1) || true
leftovers=$(find "$work/pictures" -name '.*.tmp' | wc -l)

cat <<REPORT
soak: ran $minutes min; exit status $status
  events $events, lines $lines, pictures $pictures, lines not written $unwritten
  camera lost $losses, back $returns; event log rotations $rotated, reopened $reopened; light leaks $leaks
  memory after the first minute: ${baseline} kB, then ${rss_min} to ${rss_max} kB
  open files after the first minute (besides a picture being written and the truth file): $fd_min to $fd_max
  temporary files left: $leftovers
  score: $score
REPORT

failed=0
check() { if ! eval "$1"; then echo "soak: FAILED: $2" >&2; failed=1; fi; }
check '(( status == 0 ))' "exit status $status"
check '[[ -n $events ]] && (( events == lines && lines == pictures ))' "events = lines = pictures"
check '[[ $unwritten == 0 ]]' "every line written"
check '(( losses > 0 && returns == losses ))' "every camera loss followed by its return"
check '(( reopened == rotations ))' "the event log reopened after each rotation"
check '(( rss_max <= baseline + memory_slack_kb ))' "memory flat (within $memory_slack_kb kB)"
check '(( fd_max == fd_min ))' "open files flat"
check '(( leftovers == 0 ))' "no temporary file left"
check '[[ $score == hits* ]]' "the event logs scored (every line whole)"
exit "$failed"

#!/usr/bin/env bash
# A Windows station under Wine sends its events to a broker and ravdel-ingest on this machine's
# loopback: the events it logged are the events the server stored, each once, with their
# heartbeats. Wine's prefix and display come from the caller (scripts/test-all.sh).
#
#   tests/network/windows_station.sh RAVDEL_MONITOR_EXE RAVDEL_INGEST WORK_FOLDER
set -euo pipefail
monitor_exe="$1" ingest="$2" work="$3"
rm -rf "$work"
mkdir -p "$work"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
}
trap cleanup EXIT
fail() {
  echo "windows station: $*" >&2
  for log in "$work"/*.log; do echo "--- $log" >&2; tail -n 20 "$log" >&2; done
  exit 1
}
# Waits for a condition, polling, for at most a generous while.
wait_for() {
  local what="$1"
  shift
  for _ in $(seq 1200); do
    if "$@"; then return 0; fi
    sleep 0.1
  done
  fail "timed out waiting for $what"
}

port="$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
printf 'listener %s 127.0.0.1\nallow_anonymous true\npersistence false\n' "$port" >"$work/broker.conf"
mosquitto -c "$work/broker.conf" >"$work/broker.log" 2>&1 &
pids+=($!)
listening() { grep -q "Opening ipv4 listen socket on port $port" "$work/broker.log"; }
wait_for "the broker" listening

"$ingest" --broker "127.0.0.1:$port" --store "sqlite:$work/network.db" >"$work/ingest.log" 2>&1 &
pids+=($!)
subscribed() { grep -qi "connected" "$work/ingest.log"; }
wait_for "the ingester" subscribed

echo "station secret" >"$work/password"
wine_work="$(winepath -w "$work")"
cat >"$work/RVD.ini" <<INI
[Network]
server=127.0.0.1:$port
station=wine-station
password-file=$wine_work\\password
INI
RAVDEL_SIMULATED_CAMERA='synthetic:size=160x120,fps=30,hits=4,seed=11' \
  wine "$monitor_exe" --settings "$wine_work\\RVD.ini" --max-events 6 \
  --events "$wine_work\\events.jsonl" --out "$wine_work\\pictures" >"$work/monitor.log" 2>&1 ||
  fail "ravdel-monitor.exe failed"

logged="$(grep -o '"run_id":"[0-9a-f]*","seq":[0-9]*' "$work/events.jsonl" | sort)"
[ "$(echo "$logged" | grep -c seq)" = 6 ] || fail "the station logged $(echo "$logged" | wc -l) events, not 6"
stored_events() {
  sqlite3 "$work/network.db" \
    "SELECT '\"run_id\":\"' || run_id || '\",\"seq\":' || seq FROM events WHERE station = 'wine-station'" 2>/dev/null | sort
}
all_stored() { [ "$(stored_events)" = "$logged" ]; }
wait_for "the station's events in the server's store" all_stored
heartbeat_stored() {
  [ "$(sqlite3 "$work/network.db" "SELECT count(*) FROM heartbeats WHERE station = 'wine-station'")" -ge 1 ]
}
wait_for "the run's heartbeat in the server's store" heartbeat_stored
echo "windows station: the 6 events it logged stored once, with the run's heartbeat, from Wine"

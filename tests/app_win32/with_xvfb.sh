#!/usr/bin/env bash
# Runs a command on an X server of its own (Wine needs one for top-level windows and the
# notification area). The server picks a free display itself, so parallel runs never collide
# as they can with xvfb-run -a. With a DISPLAY already set, the command runs there.
#
#   with_xvfb.sh COMMAND [ARGUMENT...]
set -euo pipefail
if [ -n "${DISPLAY:-}" ]; then exec "$@"; fi
work=$(mktemp -d)
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
server=$!
trap 'kill "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true; rm -rf "$work"' EXIT
for _ in $(seq 200); do
  [ -s "$work/display" ] && break
  kill -0 "$server" 2>/dev/null || { echo "with_xvfb: Xvfb did not start" >&2; exit 1; }
  sleep 0.05
done
[ -s "$work/display" ] || { echo "with_xvfb: no display from Xvfb" >&2; exit 1; }
DISPLAY=":$(head -n1 "$work/display")" "$@"

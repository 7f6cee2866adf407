#!/usr/bin/env bash
# Runs a command on an X server of its own (Wine needs one for top-level windows and the
# notification area). The server picks a free display itself, so parallel runs never collide
# as they can with xvfb-run -a. With a DISPLAY already set, the command runs there.
#
#   with_xvfb.sh COMMAND [ARGUMENT...]
set -euo pipefail
if [ -n "${DISPLAY:-}" ]; then exec "$@"; fi
source "$(dirname "$0")/../x_server.sh"
work=$(mktemp -d)
xvfb_pid=
trap 'kill $xvfb_pid 2>/dev/null || true; wait $xvfb_pid 2>/dev/null || true; rm -rf "$work"' EXIT
start_xvfb "$work" || { echo "with_xvfb: Xvfb did not start" >&2; exit 1; }
"$@"

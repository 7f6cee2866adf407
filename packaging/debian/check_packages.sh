#!/usr/bin/env bash
# Checks the Debian packages cpack wrote: lintian finds no error in any of them, and the
# packages of this machine's architecture install with apt-get, run from the installed files
# (ravdel-monitor --list, then five seconds of monitoring the simulated camera) and are
# removed again.
#
#   packaging/debian/check_packages.sh PACKAGE_DIR...
set -euo pipefail
[ "$#" -gt 0 ] || { echo "usage: $0 PACKAGE_DIR..." >&2; exit 2; }
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

debs=()
for dir in "$@"; do debs+=("$dir"/*.deb); done
echo "lintian: ${debs[*]##*/}"
lintian --fail-on error --allow-root --suppress-tags no-manual-page,initial-upload-closes-no-bugs \
  "${debs[@]}"

arch="$(dpkg --print-architecture)"
local_debs=()
for deb in "${debs[@]}"; do
  [ "$(dpkg-deb -f "$deb" Architecture)" = "$arch" ] && local_debs+=("$(realpath "$deb")")
done
[ "${#local_debs[@]}" -eq 2 ] || { echo "expected ravdel and ravdel-monitor for $arch" >&2; exit 1; }

work="$(mktemp -d)"
remove() {
  DEBIAN_FRONTEND=noninteractive $sudo apt-get remove -y -qq ravdel ravdel-monitor >/dev/null || true
  rm -rf "$work"
}
trap remove EXIT
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
  "${local_debs[@]}" >/dev/null
for program in /usr/bin/ravdel /usr/bin/ravdel-monitor /usr/bin/ravdel-analyse \
  /usr/share/systemd/user/ravdel-monitor.service /usr/share/applications/ravdel.desktop; do
  [ -e "$program" ] || { echo "not installed: $program" >&2; exit 1; }
done

cd "$work"
export RAVDEL_SIMULATED_CAMERA='synthetic:size=320x240,hits=5,seed=4,name=Package check'
/usr/bin/ravdel-monitor --list --settings none.ini >list.txt
grep -q "Package check" list.txt || { cat list.txt >&2; echo "--list misses the camera" >&2; exit 1; }
/usr/bin/ravdel-monitor --camera "Package check" --limit 100 --duration 5 --settings none.ini \
  --out pictures --events events.jsonl --quiet
lines="$(wc -l <events.jsonl)"
pictures="$(find pictures -name '*.png' | wc -l)"
if [ "$lines" -lt 1 ] || [ "$lines" -ne "$pictures" ]; then
  echo "five seconds gave $lines event lines and $pictures pictures" >&2
  exit 1
fi
echo "installed packages ran: $lines events in 5 s, each with its picture"

#!/usr/bin/env bash
# ravdel.exe under Wine and a real X server, used with the mouse and keyboard as a person would:
# it starts hidden behind its icon in Wine's own tray window (no tray host is started: docking
# into one is unreliable under Wine), the icon opens the window, Run records pictures named as
# on Linux with the simulated camera, a balloon shows, a second instance ends at once, Exit from
# the tray menu ends with status 0 (History… before it hands the station's page to the browser,
# which closes with the program), and the end of the session ends it through its close path.
# Screenshots of the window, the tray menu and the balloon go to the artifact folder.
#
# Usage: win32_e2e.sh RAVDEL_EXE ARTIFACT_DIR [RUNS]     WINEPREFIX must name the test prefix,
# whose %APPDATA%\RVD.ini this test sets (and puts back). Wine's desktop process must draw on
# this test's X server, so the prefix's Wine services are ended and started again: nothing else
# may run in the prefix meanwhile. Exit 77 when the tools are missing.
set -euo pipefail

ravdel=$(realpath "$1")
artifacts=$2
runs=${3:-1}
: "${WINEPREFIX:?set WINEPREFIX to the test prefix}"
for tool in Xvfb xdotool import wine winepath curl; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
mkdir -p "$artifacts"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export RAVDEL_SIMULATED_CAMERA="synthetic:size=320x240,fps=15,hits=1,also=none"

work=$(mktemp -d)
pids=()
settings=""
settings_backup="$work/RVD.ini.before"
cleanup() {
  kill "${pids[@]}" 2>/dev/null || true
  wait 2>/dev/null || true
  if [ -n "$settings" ]; then
    if [ -f "$settings_backup" ]; then cp "$settings_backup" "$settings"; else rm -f "$settings"; fi
  fi
  # No Wine service may stay bound to the X server that goes now.
  wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
source "$(dirname "$0")/../e2e/station_page.sh"
install_noting_browser "$work"

fail() {
  echo "FAILED: $*" >&2
  import -window root "$artifacts/failure.png" 2>/dev/null || true
  exit 1
}
step() { echo "== $*"; }

# Polls a command for up to $1 seconds.
wait_for() {
  local tries=$(($1 * 20))
  shift
  for _ in $(seq "$tries"); do
    "$@" && return 0
    sleep 0.05
  done
  return 1
}
shot() { import -window root "$artifacts/$1.png"; }

# The X server, on a display it picks itself.
source "$(dirname "$0")/../x_server.sh"
start_xvfb "$work" || fail "no X server"
pids+=("$xvfb_pid")
wineserver -k 2>/dev/null || true
wineserver -p </dev/null >/dev/null 2>&1 || true
wine cmd /c exit </dev/null >/dev/null 2>&1

# Settings of the test's own: pictures into its folder.
appdata=$(wine cmd /c echo %APPDATA% 2>/dev/null | tr -d '\r')
settings="$(winepath -u "$appdata" 2>/dev/null | tr -d '\r')/RVD.ini"
mkdir -p "$(dirname "$settings")"
[ ! -f "$settings" ] || cp "$settings" "$settings_backup"
pictures="$work/pictures"
mkdir -p "$pictures"
printf '[Settings]\r\nLimit=150\r\nDirectory=%s\\\r\nCam=0\r\n' \
  "$(winepath -w "$pictures" 2>/dev/null | tr -d '\r')" >"$settings"

tray_window() { xdotool search --onlyvisible --name '^Wine System Tray$' 2>/dev/null | head -n1; }
has_tray() { [ -n "$(tray_window)" ]; }
main_visible() { xdotool search --onlyvisible --name '^Ravdel$' >/dev/null 2>&1; }
main_hidden() { ! main_visible; }
program_running() { kill -0 "$program" 2>/dev/null; }
program_gone() { ! program_running; }
picture_count() { find "$pictures" -regextype posix-extended -regex '.*/[0-9]{15}\.png' | wc -l; }
has_pictures() { [ "$(picture_count)" -ge "$1" ]; }
# The visible windows' ids, sorted; menus and balloons have no name.
visible_ids() { xdotool search --onlyvisible --name '' 2>/dev/null | sort; }
# The program's tray menu: a window of its process that is neither its main window nor was
# there before (file $1 holds those ids); balloons and tips belong to Wine's desktop process.
menu_open() {
  local id
  for id in $(visible_ids | comm -13 "$1" -); do
    [ "$(xdotool getwindowpid "$id" 2>/dev/null)" = "$program" ] || continue
    if [ "$(xdotool getwindowname "$id" 2>/dev/null)" != "Ravdel" ]; then
      menu=$id
      return 0
    fi
  done
  return 1
}
# Left clicks until the window shows: the tray window may still be on its way to the screen
# (it goes when its last icon goes, and comes back with the next); a second click on a shown
# window only brings it to the front.
open_window() {
  for _ in 1 2 3; do
    click_icon 1
    wait_for 5 main_visible && return 0
  done
  return 1
}
# A balloon: a new window of Wine's desktop process (the tray's), not the tray window itself.
balloon_shown() {
  local id
  for id in $(visible_ids | comm -13 "$1" -); do
    [ "$(xdotool getwindowpid "$id" 2>/dev/null)" != "$program" ] || continue
    [ "$id" != "$(tray_window)" ] && return 0
  done
  return 1
}
# Right clicks until the menu opens: a click that lands while a balloon or a tip appears can be
# taken by that.
open_menu() {
  visible_ids >"$work/before"
  for _ in 1 2 3; do
    click_icon 3
    wait_for 5 menu_open "$work/before" && return 0
    xdotool key Escape
  done
  return 1
}

start_program() {
  wine "$ravdel" >"$work/ravdel.log" 2>&1 &
  program=$!
  pids+=("$program")
  wait_for 30 has_tray || fail "no tray window"
  # The icon is in the tray once the program has made its window (still hidden).
  wait_for 30 xdotool search --name '^Ravdel$' >/dev/null 2>&1 || fail "no main window"
}
# The first icon of the tray window; $1 is the button.
click_icon() {
  eval "$(xdotool getwindowgeometry --shell "$(tray_window)")"
  xdotool mousemove $((X + 10)) $((Y + 10)) click "$1"
}
ended_with() {
  local status=0
  wait "$program" || status=$?
  [ "$status" -eq "$1" ] || fail "ended with $status, not $1"
}

# An entry of the menu clicked, $1 pixels above its bottom edge (Exit: 10; History, above the
# last separator: 38), until the command "$2..." holds; again when a tip or balloon took the
# menu away first.
choose_in_menu() {
  local above=$1
  shift
  for _ in 1 2 3; do
    open_menu || fail "no tray menu"
    shot tray-menu
    eval "$(xdotool getwindowgeometry --shell "$menu")"
    xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT - above)) click 1
    wait_for 15 "$@" && return 0
  done
  return 1
}

run_once() {
  rm -f "$pictures"/*.png
  step "start: hidden behind the tray icon"
  start_program
  main_hidden || fail "the window showed at start"

  step "the icon opens the window"
  open_window || fail "the window did not open"
  shot window

  step "Run records pictures named by their moment"
  eval "$(xdotool getwindowgeometry --shell "$(xdotool search --onlyvisible --name '^Ravdel$')")"
  visible_ids >"$work/before"
  xdotool mousemove $((X + 204)) $((Y + 16)) click 1
  wait_for 60 has_pictures 1 || fail "no picture after Run"
  wait_for 15 balloon_shown "$work/before" || fail "no balloon"
  shot balloon

  step "a second instance ends at once, silently"
  local status=0
  timeout 30 wine "$ravdel" >/dev/null 2>&1 || status=$?
  [ "$status" -eq 0 ] || fail "the second instance ended with $status"
  program_running || fail "the first instance went"
  # (Only main windows count: a balloon of the first instance may come and go meanwhile.)
  [ "$(xdotool search --onlyvisible --name '^Ravdel$' | wc -l)" -eq 1 ] ||
    fail "the second instance showed a window"

  step "History… from the tray menu hands the station's page to the browser"
  rm -f "$work/opened"
  choose_in_menu 38 test -s "$work/opened" || fail "History… opened no page"
  local page
  page=$(head -n1 "$work/opened")
  check_station_page "$page" "$work/page.html"

  step "Exit from the tray menu ends with status 0"
  choose_in_menu 10 program_gone || fail "Exit did not end the program"
  ended_with 0
  page_closed "$page" || fail "the station's page still answers after Exit"

  step "the end of the session ends it through the close path"
  start_program
  wine wineboot --end-session >/dev/null 2>&1 || true
  wait_for 30 program_gone || fail "the end of the session did not end the program"
  ended_with 0
}

for run in $(seq "$runs"); do
  echo "== run $run of $runs"
  run_once
done
echo "== passed"

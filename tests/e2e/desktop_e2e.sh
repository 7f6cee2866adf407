#!/usr/bin/env bash
# The real program under a real X server with a notification area, used with the mouse and
# keyboard as a person would: the tray icon, the window, Run and Stop with the simulated camera,
# the directory chooser, saving the settings, a second instance, the tray menu and its History…
# page, an uncovered lens, and a termination signal. Screenshots of each step go to the artifact folder.
#
# Usage: desktop_e2e.sh RAVDEL_BINARY ARTIFACT_DIR
# Exit 77 (skipped) when the X tools are not installed.
set -euo pipefail

ravdel=$1
artifacts=$2
for tool in Xvfb trayer xdotool import xclip curl; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
mkdir -p "$artifacts"
rm -f "$artifacts"/*.png

work=$(mktemp -d)
export XDG_RUNTIME_DIR="$work/runtime"
export XDG_CONFIG_HOME="$work/config"
export DBUS_SESSION_BUS_ADDRESS=disabled:
mkdir -m 700 "$XDG_RUNTIME_DIR"
pids=()
cleanup() {
  kill "${pids[@]}" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
source "$(dirname "$0")/station_page.sh"
install_noting_browser "$work"

fail() {
  echo "FAILED: $*" >&2
  import -window root "$artifacts/failure.png" 2>/dev/null || true
  for log in "$work"/ravdel-*.log; do
    [ -f "$log" ] && { echo "--- $log"; cat "$log"; } >&2
  done
  exit 1
}
step() { echo "== $*"; }

# Polls a command for up to $1 seconds.
wait_for() {
  local seconds=$1
  shift
  local tries=$((seconds * 20))
  for _ in $(seq "$tries"); do
    "$@" && return 0
    sleep 0.05
  done
  return 1
}

shot() { import -window root "$artifacts/$1.png"; }

# The visible windows' ids, sorted. A window that closes during the search makes xdotool fail
# (BadWindow): then it searches again.
visible_windows() {
  local ids
  for _ in $(seq 20); do
    ids=$(xdotool search --onlyvisible --name '.*' 2>/dev/null) && { sort <<<"$ids"; return 0; }
    sleep 0.05
  done
  return 1
}

# Visible windows named exactly "$1", one "id x y w h" line each.
# (Names are compared here: xdotool's own name search misses the tray icon's window.)
windows_named() {
  local id
  for id in $(visible_windows); do
    [ "$(xdotool getwindowname "$id" 2>/dev/null)" = "$1" ] || continue
    xdotool getwindowgeometry --shell "$id" 2>/dev/null |
      awk -F= -v id="$id" '{v[$1]=$2} END {print id, v["X"], v["Y"], v["WIDTH"], v["HEIGHT"]}'
  done
}
main_window() { windows_named Ravdel | awk '$4 == 242 && $5 == 267 {print; exit}'; }
tray_icon() { windows_named Ravdel | awk '$3 < 32 && $4 <= 32 {print; exit}'; }
window_shown() { [ -n "$(main_window)" ]; }
window_hidden() { [ -z "$(main_window)" ]; }
panel_shown() { [ -n "$(windows_named panel)" ]; }
tray_shown() { [ -n "$(tray_icon)" ]; }
choosers_open() { [ "$(windows_named 'Select Directory' | wc -l)" -eq "$1" ]; }

# A message box of the program: captioned "Ravdel", but neither the window nor the icon.
message_box() { windows_named Ravdel | awk '!($4 == 242 && $5 == 267) && !($3 < 32 && $4 <= 32)'; }
message_box_shown() { [ -n "$(message_box)" ]; }
message_box_gone() { [ -z "$(message_box)" ]; }

menu_shown() { [ -n "$(windows_named 'Ravdel menu')" ]; }

# Opens the icon's menu, waits for it and clicks one of its entries (Restore, Minimize, History
# or Exit: the first two counted from the top, the last two from the bottom, each entry 24
# pixels high and the separators thin), then waits for the command that follows to hold. The mouse, not the keyboard: a key pressed before the menu grabs the
# keyboard would go to the window instead. A balloon that comes or goes with an event at the
# moment of the click can take the menu away again, so a menu that did not open or did not act
# is tried again.
choose_in_tray_menu() {
  local entry=$1 id x y w h
  shift
  for attempt in 1 2 3; do
    "$@" && return 0 # the last try acted after all
    click_tray 3
    if wait_for 5 menu_shown; then
      shot "06-tray-menu-$entry"
      read -r id x y w h <<<"$(windows_named 'Ravdel menu')"
      case $entry in
      Restore) y=$((y + 12)) ;;
      Minimize) y=$((y + 35)) ;;
      History) y=$((y + h - 35)) ;;
      Exit) y=$((y + h - 12)) ;;
      esac
      xdotool mousemove $((x + w / 2)) "$y" click 1
      wait_for 10 "$@" && return 0
    fi
    echo "attempt $attempt: the tray menu's $entry did not act" >&2
  done
  fail "the tray menu's $entry did not act"
}

click_tray() {
  local id x y w h
  read -r id x y w h <<<"$(tray_icon)"
  [ -n "$id" ] || fail "no tray icon"
  # Near its top edge: a balloon's pointer covers the lower half of the icon.
  xdotool mousemove $((x + w / 2)) $((y + 5)) click "$1"
}

# Gives window $1 the X input focus and waits until the server says it has it. There is no
# window manager here, so keys go wherever the focus is: every key the test presses comes after
# this.
focus_window() {
  timeout 10 xdotool windowfocus --sync "$1" >/dev/null 2>&1 || fail "window $1 did not take the focus"
}

main_window_id() {
  local id
  read -r id _ <<<"$(main_window)"
  [ -n "$id" ] || fail "the window is not shown"
  echo "$id"
}

# Clicks a point of the window's client area (the layout is fixed).
click_at() {
  local id x y w h
  read -r id x y w h <<<"$(main_window)"
  [ -n "$id" ] || fail "the window is not shown"
  xdotool mousemove $((x + $1)) $((y + $2)) click 1
}
click_run() { click_at 204 16; }
click_stop() { click_at 228 16; }
click_dir() { click_at 178 112; }
click_save() { click_at 202 112; }

# The whole text of the focused control of window $1, selected and copied. The clipboard first
# holds a marker, so the copy is known to have arrived when the marker is gone; a field that
# stays empty reads as empty after the wait.
clipboard_marker=""
clipboard_changed() { [ "$(xclip -o -selection clipboard 2>/dev/null)" != "$clipboard_marker" ]; }
focused_text() {
  clipboard_marker="ravdel-e2e-marker-$RANDOM$RANDOM"
  # xclip stays behind as the clipboard's owner: it must not hold the caller's output open.
  printf %s "$clipboard_marker" | xclip -selection clipboard -i >/dev/null 2>&1
  focus_window "$1"
  xdotool key ctrl+a ctrl+c
  wait_for 5 clipboard_changed || return 0
  xclip -o -selection clipboard 2>/dev/null || true
}

# The text of the main window's control under the point.
copy_text_at() {
  click_at "$1" "$2"
  focused_text "$(main_window_id)"
}

# Types $2 into a field of window $1 after the command "$3..." has put the keyboard focus on
# that field, then reads the field back; retypes when keys were lost. Fails, with a screenshot,
# rather than go on with other text than was meant (a lost "/" would make a relative path).
type_into() {
  local window=$1 text=$2 held=""
  shift 2
  for attempt in 1 2 3; do
    focus_window "$window"
    "$@"
    focus_window "$window"
    xdotool key ctrl+a
    xdotool type --delay 5 "$text"
    held=$(focused_text "$window")
    [ "$held" = "$text" ] && return 0
    echo "attempt $attempt: the field holds '$held', typed '$text'" >&2
  done
  fail "the field holds '$held', typed and expected '$text'"
}

# Focuses window $1 and presses the keys that follow.
press_in() {
  local window=$1
  shift
  focus_window "$window"
  xdotool key "$@"
}

pngs_in() { find "$1" -maxdepth 1 -name '*.png' 2>/dev/null | wc -l; }
at_least_pngs() { [ "$(pngs_in "$1")" -ge "$2" ]; }

start_ravdel() {
  local log="$work/ravdel-$1.log"
  "$ravdel" >"$log" 2>&1 &
  ravdel_pid=$!
  pids+=("$ravdel_pid")
}
ravdel_gone() { ! kill -0 "$ravdel_pid" 2>/dev/null; }

step "X server and notification area"
source "$(dirname "$0")/../x_server.sh"
start_xvfb "$work" || fail "Xvfb did not start"
pids+=("$xvfb_pid")
trayer --edge top --align right --widthtype pixel --width 120 --height 32 \
  --SetDockType true --transparent false >/dev/null 2>&1 &
pids+=($!)
wait_for 10 panel_shown || fail "trayer did not start"

events="$work/events/run 1"
settings="$XDG_CONFIG_HOME/RVD.ini"
export RAVDEL_SIMULATED_CAMERA='synthetic:format=YUY2,size=640x480,fps=30,hits=4,seed=7,also=none'

step "start: only the tray icon"
start_ravdel first
wait_for 10 tray_shown || fail "no tray icon after start"
# The icon is embedded through the tray host after the program's start-up, so a window shown
# at start would be mapped by now.
window_hidden || fail "the window shows at start"
shot 01-tray-only

step "a left click on the icon shows the window"
click_tray 1
wait_for 5 window_shown || fail "the tray click did not show the window"
shot 02-window

step "the directory chooser creates the output directory"
click_dir
wait_for 5 choosers_open 1 || fail "no directory chooser"
read -r chooser _ <<<"$(windows_named 'Select Directory')"
type_into "$chooser" "$events" xdotool key alt+n
press_in "$chooser" Return
wait_for 5 choosers_open 2 || fail "no prompt to create it"
read -r prompt _ <<<"$(windows_named 'Select Directory' | grep -v "^$chooser ")"
shot 03-create-prompt
press_in "$prompt" Return # Yes
wait_for 5 choosers_open 0 || fail "the chooser stayed open"
[ -d "$events" ] || fail "the directory was not created"

step "limit 100, then Run records events"
type_into "$(main_window_id)" 100 click_at 60 112
press_in "$(main_window_id)" Tab
click_run
wait_for 30 at_least_pngs "$events" 3 || fail "no events recorded"
shot 04-events-and-balloon
stops_logged() { grep -c 'stream stopped after' "$work/ravdel-first.log" || true; }
stops_before=$(stops_logged)
click_stop
wait_for 10 test "$(stops_logged)" -gt "$stops_before" || fail "Stop did not stop capture"
count=$(pngs_in "$events")
find "$events" -maxdepth 1 -name '*.png' -printf '%f\n' | grep -qvE '^[0-9]{15}\.png$' &&
  fail "an event file is not named by its time"
# Reading the log goes through the program's event loop, after any frame still queued at Stop.
log=$(copy_text_at 100 178)
[ "$(pngs_in "$events")" -eq "$count" ] || fail "events still recorded after Stop"
[ "$(grep -c '^Event at ' <<<"$log")" -eq "$count" ] || fail "log lines do not match the $count events"
[ "$(grep -cE '^R:[0-9]+ G:[0-9]+ B:[0-9]+$' <<<"$log")" -eq "$count" ] || fail "colour lines missing"
shot 05-stopped

step "SaveSetSB writes the settings"
click_save
# The keys are written one by one, Limit and Directory before Cam: they are there once Cam is.
wait_for 10 grep -q '^Cam=' "$settings" || fail "the settings were not all saved"
grep -qx 'Limit=100' "$settings" || fail "limit not saved"
grep -qx "Directory=$events/" "$settings" || fail "directory not saved"

step "a second instance ends at once, silently"
shown_before=$(visible_windows) || fail "could not list the windows"
start=$(date +%s%N)
second_output=$(timeout 10 "$ravdel" 2>&1) || fail "the second instance failed or hung"
[ $((($(date +%s%N) - start) / 1000000)) -lt 5000 ] || fail "the second instance took too long"
[ -z "$second_output" ] || fail "the second instance said: $second_output"
shown_after=$(visible_windows) || fail "could not list the windows"
# New windows of the first instance (the balloon of its last events) do not count, nor do
# windows that have gone again.
for id in $(comm -13 <(echo "$shown_before") <(echo "$shown_after")); do
  [ "$(xdotool getwindowpid "$id" 2>/dev/null)" = "$ravdel_pid" ] && continue
  name=$(xdotool getwindowname "$id" 2>/dev/null) || continue
  fail "the second instance showed \"$name\" $(xdotool getwindowgeometry "$id" | tr '\n' ' ')"
done

step "Minimize from the tray menu hides the window; a click brings it back"
choose_in_tray_menu Minimize window_hidden
click_tray 1
wait_for 5 window_shown || fail "the window did not come back"

step "History… from the tray menu hands the station's page to the browser"
choose_in_tray_menu History test -s "$work/opened"
page=$(head -n1 "$work/opened")
check_station_page "$page" "$work/page.html"

step "Exit from the tray menu while monitoring ends the process with capture stopped"
click_run
wait_for 10 at_least_pngs "$events" $((count + 1)) || fail "no events after the second Run"
choose_in_tray_menu Exit ravdel_gone
wait "$ravdel_pid" || fail "the program ended with status $?"
page_closed "$page" || fail "the station's page still answers after Exit"
# Each Run stops and starts the stream once to select the last format, so a Run that is
# stopped again leaves two lines and the last one counts frames.
tail -n1 "$work/ravdel-first.log" | grep -qE 'stream stopped after [1-9][0-9]* frames' ||
  fail "capture was not stopped at Exit"

step "next start: settings read back; an uncovered lens stops monitoring"
export RAVDEL_SIMULATED_CAMERA='synthetic:format=YUY2,size=640x480,fps=30,uncovered,also=none'
before=$(pngs_in "$events")
start_ravdel second
wait_for 10 tray_shown || fail "no tray icon at the next start"
click_tray 1
wait_for 5 window_shown || fail "no window at the next start"
limit=$(copy_text_at 60 112)
[ "$limit" = "100" ] || fail "the limit read back as '$limit'"
click_run
wait_for 10 message_box_shown || fail "no message for the uncovered lens"
shot 07-uncovered-lens
read -r box _ <<<"$(message_box)"
press_in "$box" Return
wait_for 5 message_box_gone || fail "the message did not close"
[ "$(pngs_in "$events")" -eq "$before" ] || fail "an uncovered frame was recorded as an event"
grep -q 'stream stopped after' "$work/ravdel-second.log" || fail "the lens check did not stop capture"

step "SIGTERM leaves through the normal close path"
kill -TERM "$ravdel_pid"
wait_for 10 ravdel_gone || fail "SIGTERM did not end the process"
wait "$ravdel_pid" || fail "the program ended with status $? after SIGTERM"
echo "all steps passed; screenshots in $artifacts"

#!/usr/bin/env bash
# Installs the installer silently into a folder of its own in the Wine prefix named by
# WINEPREFIX, checks the files, the Start-menu entry and the uninstall entry, then uninstalls
# and checks that the user's RVD.ini and a picture saved in the program's folder are still there
# and everything installed is gone. Then the same for a user whose folders are named outside the
# ANSI code page ("Józef Żółć"); an uninstall while ravdel.exe runs, which closes it first (with
# an X display); and an uninstall that cannot remove a file, which must not report success.
# No Wine run may write menu entries or icons into the home folder.
#
#   packaging/windows/check_installer.sh SETUP_EXE
set -euo pipefail
setup="$1"
: "${WINEPREFIX:?set WINEPREFIX to the test prefix}"
# Wine's menu builder writes .desktop files and icons into $HOME for every shortcut made.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}winemenubuilder.exe=d"

fail() { echo "check_installer: $*" >&2; exit 1; }
unix() { winepath -u "$1" 2>/dev/null | tr -d '\r'; }
windows_env() { wine cmd /c echo "%$1%" 2>/dev/null | tr -d '\r'; }
menu_entries() { find "$HOME/.local/share/applications/wine" "$HOME/.local/share/icons" \
  -newer "$stamp" 2>/dev/null | wc -l; }

# Wine's services first, detached: started inside a command substitution they would hold it.
wineserver -p </dev/null >/dev/null 2>&1 || true
wine cmd /c exit </dev/null >/dev/null 2>&1
stamp=$(mktemp)

appdata="$(unix "$(windows_env APPDATA)")"
key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Ravdel'
installed=(ravdel.exe ravdel-monitor.exe ravdel-analyse.exe README.md uninstall.exe
           licenses/libjpeg-turbo.txt licenses/libpng.txt licenses/zlib.txt)

# install TARGET_WIN SHORTCUT: a silent install, and what it must leave.
install() {
  local target_win="$1" shortcut="$2" target
  target="$(unix "$target_win")"
  rm -rf "$target"
  wine "$setup" /S "/D=$target_win" || fail "the installer ended with $?"
  for file in "${installed[@]}"; do
    [ -f "$target/$file" ] || fail "not installed: $file"
  done
  [ -f "$shortcut" ] || fail "no Start-menu entry at $shortcut"
  wine reg query "$key" >/dev/null 2>&1 || fail "no uninstall entry"
}

# uninstall TARGET_WIN: runs the uninstaller in place and waits for it (_?= keeps it from
# copying itself away; it then cannot delete itself). Its status is the function's.
uninstall() {
  local status=0
  wine "$(unix "$1")/uninstall.exe" /S "_?=$1" || status=$?
  return "$status"
}

# gone TARGET SHORTCUT: everything installed is gone, the folder only when it is empty.
gone() {
  rm -f "$1/uninstall.exe"
  for file in ravdel.exe ravdel-monitor.exe ravdel-analyse.exe README.md licenses; do
    [ ! -e "$1/$file" ] || fail "left behind: $file"
  done
  [ ! -e "$2" ] || fail "the Start-menu entry is still there"
  ! wine reg query "$key" >/dev/null 2>&1 || fail "the uninstall entry is still there"
}

echo "== install and uninstall"
target_win="$(windows_env LOCALAPPDATA)\\RavdelInstallerCheck"
target="$(unix "$target_win")"
shortcut="$appdata/Microsoft/Windows/Start Menu/Programs/Ravdel.lnk"
install "$target_win" "$shortcut"
# What the user made: the settings file, and a picture beside the program.
mkdir -p "$appdata"
settings="$appdata/RVD.ini"
created_settings=""
if [ ! -f "$settings" ]; then
  printf '[Settings]\r\nLimit=150\r\n' >"$settings"
  created_settings=1
fi
settings_before="$(cat "$settings")"
echo picture >"$target/150314092653123.png"
uninstall "$target_win" || fail "the uninstaller ended with $?"
[ "$(cat "$settings")" = "$settings_before" ] || fail "the uninstaller changed RVD.ini"
[ -f "$target/150314092653123.png" ] || fail "the uninstaller removed a picture"
gone "$target" "$shortcut"
rm -rf "$target"
[ -z "$created_settings" ] || rm -f "$settings"

echo "== a user named outside the ANSI code page"
# The user's folders as Windows names them for such a user; the installer finds its folder and
# the Start menu through them, as when started by a double click (no /D: the installer takes
# /D= and _?= only unquoted, and Wine quotes an argument with a blank).
folders='HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders'
shell_folder() {
  wine reg query "$folders" /v "$1" 2>/dev/null | tr -d '\r' | sed -n "s/^ *$1 *REG_[A-Z_]* *//p"
}
set_shell_folder() {
  if [ -n "$2" ]; then
    wine reg add "$folders" /v "$1" /t REG_EXPAND_SZ /d "$2" /f >/dev/null 2>&1
  else
    wine reg delete "$folders" /v "$1" /f >/dev/null 2>&1
  fi
}
local_before="$(shell_folder 'Local AppData')"
programs_before="$(shell_folder Programs)"
user_win='C:\users\Józef Żółć'
user="$(unix "$user_win")"
start_menu_win="$user_win\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs"
mkdir -p "$(unix "$start_menu_win")" "$user/AppData/Local"
restore_folders() {
  set_shell_folder 'Local AppData' "$local_before"
  set_shell_folder Programs "$programs_before"
  rm -rf "$user"
}
trap restore_folders EXIT
set_shell_folder 'Local AppData' "$user_win\\AppData\\Local"
set_shell_folder Programs "$start_menu_win"
wine reg delete "$key" /f >/dev/null 2>&1 || true  # no earlier install's folder to return to
user_target="$user/AppData/Local/Programs/Ravdel"
user_shortcut="$(unix "$start_menu_win")/Ravdel.lnk"
wine "$setup" /S || fail "the installer ended with $?"
for file in "${installed[@]}"; do
  [ -f "$user_target/$file" ] || fail "not installed for Józef Żółć: $file"
done
[ -f "$user_shortcut" ] || fail "no Start-menu entry for Józef Żółć"
# Started without _?=, the uninstaller runs from a copy of itself: wait until it is done.
wine "$user_target/uninstall.exe" /S || fail "the uninstaller ended with $?"
for _ in $(seq 600); do
  [ ! -e "$user_target/ravdel.exe" ] && ! wine reg query "$key" >/dev/null 2>&1 && break
  sleep 0.05
done
gone "$user_target" "$user_shortcut"
restore_folders
trap - EXIT

if [ -n "${DISPLAY:-}" ] && command -v xdotool >/dev/null; then
  echo "== an uninstall while ravdel.exe runs closes it first"
  install "$target_win" "$shortcut"
  wine "$target/ravdel.exe" >/dev/null 2>&1 &
  program=$!
  # Its icon in Wine's tray window: the program has its mutex.
  for _ in $(seq 600); do
    xdotool search --onlyvisible --name '^Wine System Tray$' >/dev/null 2>&1 && break
    kill -0 "$program" 2>/dev/null || fail "ravdel.exe did not start"
    sleep 0.05
  done
  uninstall "$target_win" || fail "the uninstaller ended with $? beside a running ravdel.exe"
  for _ in $(seq 300); do
    kill -0 "$program" 2>/dev/null || break
    sleep 0.05
  done
  if kill -0 "$program" 2>/dev/null; then
    kill "$program"
    fail "the uninstaller left ravdel.exe running"
  fi
  status=0
  wait "$program" || status=$?
  [ "$status" -eq 0 ] || fail "ravdel.exe ended with $status, not through its close path"
  gone "$target" "$shortcut"
  rm -rf "$target"
else
  echo "== (no X display: the uninstall beside a running ravdel.exe is left out)"
fi

echo "== a file that cannot be removed: no success, the uninstaller stays"
# A console program still running from the folder: its file cannot be deleted while it runs.
install "$target_win" "$shortcut"
RAVDEL_SIMULATED_CAMERA="synthetic:size=160x120,fps=5,hits=0" \
  wine "$target/ravdel-monitor.exe" --duration 120 --out "$target_win\\events" --quiet \
  >/dev/null 2>&1 &
monitor=$!
for _ in $(seq 600); do
  [ -d "$target/events" ] && break  # made at its start
  kill -0 "$monitor" 2>/dev/null || fail "ravdel-monitor.exe did not start"
  sleep 0.05
done
if uninstall "$target_win"; then fail "the uninstaller reported success with files left"; fi
[ -f "$target/ravdel-monitor.exe" ] || fail "the running program's file went after all"
[ -f "$target/uninstall.exe" ] || fail "the uninstaller went while files remain"
wine reg query "$key" >/dev/null 2>&1 || fail "the uninstall entry went while files remain"
kill "$monitor" 2>/dev/null || true
wait "$monitor" 2>/dev/null || true
uninstall "$target_win" || fail "the second uninstall ended with $?"
gone "$target" "$shortcut"
rm -rf "$target"

[ "$(menu_entries)" -eq 0 ] || fail "Wine wrote menu entries or icons into $HOME"
rm -f "$stamp"
echo "check_installer: install and uninstall as expected"

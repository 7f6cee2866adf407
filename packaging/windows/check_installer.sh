#!/usr/bin/env bash
# Installs the installer silently into a folder of its own in the Wine prefix named by
# WINEPREFIX, checks the files, the Start-menu entry and the uninstall entry, then uninstalls
# and checks that the user's RVD.ini and a picture saved in the program's folder are still there
# and everything installed is gone.
#
#   packaging/windows/check_installer.sh SETUP_EXE
set -euo pipefail
setup="$1"
: "${WINEPREFIX:?set WINEPREFIX to the test prefix}"

fail() { echo "check_installer: $*" >&2; exit 1; }
unix() { winepath -u "$1" 2>/dev/null | tr -d '\r'; }
windows_env() { wine cmd /c echo "%$1%" 2>/dev/null | tr -d '\r'; }

# Wine's services first, detached: started inside a command substitution they would hold it.
wineserver -p </dev/null >/dev/null 2>&1 || true
wine cmd /c exit </dev/null >/dev/null 2>&1

target_win="$(windows_env LOCALAPPDATA)\\RavdelInstallerCheck"
target="$(unix "$target_win")"
appdata="$(unix "$(windows_env APPDATA)")"
shortcut="$appdata/Microsoft/Windows/Start Menu/Programs/Ravdel.lnk"
key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Ravdel'
rm -rf "$target"

wine "$setup" /S "/D=$target_win"
for file in ravdel.exe ravdel-monitor.exe ravdel-analyse.exe README.md uninstall.exe \
            licenses/libjpeg-turbo.txt licenses/libpng.txt licenses/zlib.txt; do
  [ -f "$target/$file" ] || fail "not installed: $file"
done
[ -f "$shortcut" ] || fail "no Start-menu entry"
wine reg query "$key" >/dev/null 2>&1 || fail "no uninstall entry"

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

# _?= runs the uninstaller in place and waits for it (it then cannot delete itself).
wine "$target/uninstall.exe" /S "_?=$target_win"
rm -f "$target/uninstall.exe"
[ "$(cat "$settings")" = "$settings_before" ] || fail "the uninstaller changed RVD.ini"
[ -f "$target/150314092653123.png" ] || fail "the uninstaller removed a picture"
for file in ravdel.exe ravdel-monitor.exe ravdel-analyse.exe README.md licenses; do
  [ ! -e "$target/$file" ] || fail "left behind: $file"
done
[ ! -e "$shortcut" ] || fail "the Start-menu entry is still there"
! wine reg query "$key" >/dev/null 2>&1 || fail "the uninstall entry is still there"

rm -rf "$target"
[ -z "$created_settings" ] || rm -f "$settings"
echo "check_installer: install and uninstall as expected"

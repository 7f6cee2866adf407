#!/usr/bin/env bash
# Packs the Windows programs of a windows-preset build: a portable zip (the three programs,
# README and the libraries' licences, no installation needed) and a per-user installer built
# with NSIS (Start-menu entry, uninstaller that leaves RVD.ini and event pictures alone).
#
#   scripts/package-windows.sh [BUILD_DIR]     BUILD_DIR defaults to build/windows
#
# Writes BUILD_DIR/packages/ravdel-<version>-windows-x64.zip and ravdel-<version>-setup.exe.
# Needs zip, nsis (makensis) and the MinGW-w64 binutils (see scripts/install-deps.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build/windows}"
out="$build/packages"

version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")"
[ -n "$version" ] || { echo "package-windows: no configured build in $build" >&2; exit 1; }
# The installer's version resource wants four parts.
parts="${version//[^.]/}"
file_version="$version"
for _ in $(seq "${#parts}" 2); do file_version="$file_version.0"; done

programs=(
  "$build/src/app_win32/ravdel.exe"
  "$build/src/headless/ravdel-monitor.exe"
  "$build/src/tools/ravdel-analyse.exe"
)
# The libraries linked into the programs, with the licence texts of the Debian packages whose
# sources the Windows libraries are built from (scripts/windows-deps.sh).
declare -A licenses=(
  [libjpeg-turbo]=/usr/share/doc/libjpeg62-turbo/copyright
  [libpng]=/usr/share/doc/libpng16-16/copyright
  [zlib]=/usr/share/doc/zlib1g/copyright
)
for file in "${programs[@]}" "${licenses[@]}"; do
  [ -f "$file" ] || { echo "package-windows: missing $file" >&2; exit 1; }
done

name="Ravdel-$version"
stage="$out/$name"
rm -rf "$stage"
mkdir -p "$stage/licenses"
for program in "${programs[@]}"; do
  # Without their debugging symbols: a third of the size.
  x86_64-w64-mingw32-strip -o "$stage/$(basename "$program")" "$program"
done
cp README.md "$stage/README.md"
for library in "${!licenses[@]}"; do
  cp "${licenses[$library]}" "$stage/licenses/$library.txt"
done

zip_file="$out/ravdel-$version-windows-x64.zip"
rm -f "$zip_file"
(cd "$out" && zip -q -X -r "$(basename "$zip_file")" "$name")

setup="$out/ravdel-$version-setup.exe"
makensis -V2 -DVERSION="$file_version" -DSTAGE="$(realpath "$stage")" \
  -DOUTFILE="$(realpath "$out")/$(basename "$setup")" packaging/windows/ravdel.nsi
echo "$zip_file"
echo "$setup"

#!/usr/bin/env bash
# Builds the libraries of the Windows programs with MinGW-w64, statically: libjpeg-turbo, libpng
# and zlib, and for the station network SQLite, OpenSSL and libmosquitto, from Debian's own
# source packages (Debian has no MinGW builds of them); the HTTP server of the station's page as
# its source package's single header (Debian's own header needs Debian's library); GoogleTest from /usr/src/googletest and
# the JSON headers from nlohmann-json3-dev. The result is a prefix cached in
# ${RAVDEL_WINDOWS_DEPS_CACHE:-~/.cache/ravdel-windows-deps}/<key>, the key made of the source
# versions, the compiler's version and this script's own checksum; a prefix that is missing or
# half-built is built again. build/windows-deps links to it (the windows preset reads it there).
#
#   scripts/windows-deps.sh         prints the prefix
#
# Needs the packages of scripts/install-deps.sh (g++-mingw-w64-x86-64-posix, nasm, dpkg-dev,
# googletest, nlohmann-json3-dev, tcl for SQLite's amalgamation) and the network for the source
# packages.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
cache="${RAVDEL_WINDOWS_DEPS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/ravdel-windows-deps}"
toolchain="$root/cmake/toolchains/mingw-w64-x86_64.cmake"
link="$root/build/windows-deps"
jobs="$(nproc)"
mkdir -p "$cache" "$root/build"

log() { echo "windows-deps: $*" >&2; }

# -- apt, with a deb-src list of our own ------------------------------------------------------
# The same mirrors and suites as the system's deb lines, as deb-src, in a private apt state, so
# the system's configuration stays untouched. The security suite serves no source files (404):
# only the main suites are listed, and the versions are asked of them.
apt_dir="$cache/apt"
mkdir -p "$apt_dir/sources" "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial"
apt_opts=(
  -o Dir::Etc::SourceList=/dev/null
  -o "Dir::Etc::SourceParts=$apt_dir/sources"
  -o "Dir::State::Lists=$apt_dir/lists"
  -o "Dir::Cache=$apt_dir/cache"
  -o Debug::NoDropPrivs=true
  -o APT::Sandbox::User=root
)

# The first stanza of the system's list names the mirror, its main suites and its key.
write_source_list() {
  local system=/etc/apt/sources.list.d/debian.sources uris="" suites="" signed=""
  if [ -f "$system" ]; then
    uris="$(awk '/^URIs:/ { sub(/^URIs:[[:space:]]*/, ""); print; exit }' "$system")"
    suites="$(awk '/^Suites:/ { sub(/^Suites:[[:space:]]*/, ""); print; exit }' "$system")"
    signed="$(awk '/^Signed-By:/ { sub(/^Signed-By:[[:space:]]*/, ""); print; exit }' "$system")"
  fi
  if [ -z "$uris" ] || [ -z "$suites" ] || [[ "$suites" == *security* ]]; then
    local codename
    codename="$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")"
    uris="http://deb.debian.org/debian"
    suites="$codename $codename-updates"
    signed="/usr/share/keyrings/debian-archive-keyring.gpg"
  fi
  {
    echo "Types: deb-src"
    echo "URIs: $uris"
    echo "Suites: $suites"
    echo "Components: main"
    if [ -n "$signed" ]; then echo "Signed-By: $signed"; fi
  } >"$apt_dir/sources/ravdel-deb-src.sources"
}

apt_update() {
  write_source_list
  log "reading the source package lists"
  apt-get "${apt_opts[@]}" -qq update >&2
}

# The highest version of a source package in the listed suites.
source_version() {
  local best="" v
  while read -r v; do
    if [ -z "$best" ] || dpkg --compare-versions "$v" gt "$best"; then best="$v"; fi
  done < <(apt-cache "${apt_opts[@]}" showsrc "$1" 2>/dev/null |
    awk -v p="$1" '/^Package: / { ok = ($2 == p) } ok && /^Version: / { print $2 }')
  echo "$best"
}

apt_update
declare -A version
for package in libjpeg-turbo libpng1.6 zlib sqlite3 openssl mosquitto cpp-httplib; do
  version[$package]="$(source_version "$package")"
  if [ -z "${version[$package]}" ]; then
    log "no source package $package in $(cat "$apt_dir/sources/ravdel-deb-src.sources" | tr '\n' ' ')"
    exit 1
  fi
done
gtest_version="$(dpkg-query -W -f='${Version}' googletest 2>/dev/null || echo none)"
compiler_version="$(x86_64-w64-mingw32-g++-posix -dumpfullversion)"
recipe="$(cat "$0" "$toolchain" | sha256sum | cut -c1-12)"
key="jpeg-${version[libjpeg-turbo]}_png-${version[libpng1.6]}_zlib-${version[zlib]}"
key+="_sqlite-${version[sqlite3]}_ssl-${version[openssl]}_mosq-${version[mosquitto]}"
key+="_httplib-${version[cpp-httplib]}"
key+="_gtest-${gtest_version}_gcc-${compiler_version}_${recipe}"
key="$(echo "$key" | tr ':~+' '_-_')"
prefix="$cache/$key"

if [ -f "$prefix/.complete" ]; then
  ln -sfn "$prefix" "$link"
  echo "$prefix"
  exit 0
fi

# -- build ----------------------------------------------------------------------------------------
log "building into $prefix"
rm -rf "$prefix"
work="$(mktemp -d "$cache/build.XXXXXX")"
trap 'rm -rf "$work"' EXIT
# Installed in place (the libraries' CMake files name their prefix); .complete comes last.
staging="$prefix"
mkdir -p "$staging"

fetch() {
  local package="$1" want="$2" directory
  (
    cd "$work"
    # The chosen version first; if that cannot be had, whatever the lists offer.
    if ! apt-get "${apt_opts[@]}" -qq --download-only source "$package=$want" >&2; then
      log "$package $want could not be fetched; trying the lists' default"
      apt-get "${apt_opts[@]}" -qq --download-only source "$package" >&2
    fi
    local dsc
    dsc="$(ls -1 "${package}"_*.dsc | head -n1)"
    dpkg-source --no-check -x "$dsc" "src-$package" >/dev/null
  )
  directory="$work/src-$package"
  echo "$directory"
}

configure_and_build() {
  local source="$1" build="$2"
  shift 2
  cmake -S "$source" -B "$build" -G Ninja -Wno-dev \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DRAVDEL_WINDOWS_DEPS="$staging" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$staging" \
    -DCMAKE_POSITION_INDEPENDENT_CODE=ON "$@" >/dev/null
}

# zlib: Debian's tarball drops win32/, so only the static library is built; installed by hand
# as libz.a.
zlib_src="$(fetch zlib "${version[zlib]}")"
configure_and_build "$zlib_src" "$work/build-zlib"
cmake --build "$work/build-zlib" --target zlibstatic -j"$jobs" >/dev/null
mkdir -p "$staging/include" "$staging/lib"
cp "$work/build-zlib/libzlibstatic.a" "$staging/lib/libz.a"
cp "$zlib_src/zlib.h" "$work/build-zlib/zconf.h" "$staging/include/"
log "zlib ${version[zlib]} built"

png_src="$(fetch libpng1.6 "${version[libpng1.6]}")"
configure_and_build "$png_src" "$work/build-png" -DPNG_SHARED=OFF -DPNG_STATIC=ON \
  -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF \
  -DZLIB_ROOT="$staging" -DZLIB_LIBRARY="$staging/lib/libz.a" \
  -DZLIB_INCLUDE_DIR="$staging/include"
cmake --build "$work/build-png" -j"$jobs" >/dev/null
cmake --install "$work/build-png" >/dev/null
log "libpng ${version[libpng1.6]} built"

jpeg_src="$(fetch libjpeg-turbo "${version[libjpeg-turbo]}")"
configure_and_build "$jpeg_src" "$work/build-jpeg" -DENABLE_SHARED=OFF -DENABLE_STATIC=ON \
  -DWITH_TURBOJPEG=OFF -DWITH_SIMD=ON -DCMAKE_ASM_NASM_COMPILER=nasm
cmake --build "$work/build-jpeg" -j"$jobs" >/dev/null
cmake --install "$work/build-jpeg" >/dev/null
log "libjpeg-turbo ${version[libjpeg-turbo]} built"

# SQLite: the amalgamation is made from Debian's full source tree with the host's tools, then
# compiled alone.
sqlite_src="$(fetch sqlite3 "${version[sqlite3]}")"
mkdir -p "$work/build-sqlite"
(
  cd "$work/build-sqlite"
  "$sqlite_src/configure" --disable-tcl >/dev/null
  make sqlite3.c >/dev/null
  x86_64-w64-mingw32-gcc -O2 -DSQLITE_THREADSAFE=1 -DSQLITE_DQS=0 -c sqlite3.c -o sqlite3.o
  x86_64-w64-mingw32-ar rcs "$staging/lib/libsqlite3.a" sqlite3.o
  cp sqlite3.h sqlite3ext.h "$staging/include/"
)
log "SQLite ${version[sqlite3]} built"

# OpenSSL: the libraries only, static, for libmosquitto's TLS.
ssl_src="$(fetch openssl "${version[openssl]}")"
(
  cd "$ssl_src"
  ./Configure mingw64 no-shared no-tests no-dso no-engine no-async no-legacy no-module \
    --cross-compile-prefix=x86_64-w64-mingw32- --prefix="$staging" --libdir=lib >/dev/null
  make -j"$jobs" build_libs >/dev/null 2>&1
  make install_dev >/dev/null
)
log "OpenSSL ${version[openssl]} built"

# libmosquitto alone: no broker, clients or plugins; the program runs its loop itself.
mosquitto_src="$(fetch mosquitto "${version[mosquitto]}")"
configure_and_build "$mosquitto_src" "$work/build-mosquitto" -DWITH_STATIC_LIBRARIES=ON \
  -DWITH_SHARED_LIBRARIES=OFF -DWITH_CLIENTS=OFF -DWITH_BROKER=OFF -DWITH_APPS=OFF \
  -DWITH_PLUGINS=OFF -DDOCUMENTATION=OFF -DWITH_CJSON=OFF -DWITH_LIB_CPP=OFF \
  -DWITH_THREADING=OFF -DWITH_SOCKS=OFF -DWITH_UNIX_SOCKETS=OFF -DWITH_TLS=ON \
  -DOPENSSL_ROOT_DIR="$staging" -DOPENSSL_USE_STATIC_LIBS=ON
cmake --build "$work/build-mosquitto" -j"$jobs" >/dev/null
cmake --install "$work/build-mosquitto" >/dev/null
log "libmosquitto ${version[mosquitto]} built"

# cpp-httplib is one header upstream, which its source package keeps whole.
httplib_src="$(fetch cpp-httplib "${version[cpp-httplib]}")"
cp "$httplib_src/httplib.h" "$staging/include/"
log "cpp-httplib ${version[cpp-httplib]} taken"

# The JSON headers need no build: the package's own, with its CMake files.
cp -r /usr/include/nlohmann "$staging/include/"
mkdir -p "$staging/share/cmake"
cp -r /usr/share/cmake/nlohmann_json "$staging/share/cmake/"

configure_and_build /usr/src/googletest "$work/build-gtest" -DBUILD_GMOCK=ON \
  -DINSTALL_GTEST=ON -Dgtest_force_shared_crt=ON
cmake --build "$work/build-gtest" -j"$jobs" >/dev/null
cmake --install "$work/build-gtest" >/dev/null
log "GoogleTest $gtest_version built"

# Programs and documentation of the libraries are not needed.
rm -rf "$staging/bin" "$staging/share/man" "$staging/share/doc"
{
  echo "libjpeg-turbo ${version[libjpeg-turbo]}"
  echo "libpng1.6 ${version[libpng1.6]}"
  echo "zlib ${version[zlib]}"
  echo "sqlite3 ${version[sqlite3]}"
  echo "openssl ${version[openssl]}"
  echo "mosquitto ${version[mosquitto]}"
  echo "cpp-httplib ${version[cpp-httplib]}"
  echo "googletest $gtest_version"
  echo "x86_64-w64-mingw32-g++-posix $compiler_version"
} >"$staging/VERSIONS"
touch "$staging/.complete"
ln -sfn "$prefix" "$link"
echo "$prefix"

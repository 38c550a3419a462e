#!/usr/bin/env bash
# Installs the Windows cross tools (mingw-w64 with the posix thread model,
# wine) and cross-builds the libraries the Windows programs link from
# Debian's own source packages, into a cache outside the source tree that
# later runs reuse:
#   deps/  zlib, libpng, FreeType, GoogleTest (static), nlohmann-json
#   qt/    Qt Core, Gui, Widgets and the Windows platform plugin (with --qt)
# Usage: scripts/windows/build_deps.sh [--qt] [--tools-only]
# NORVANE_WINDOWS_CACHE moves the cache (default ~/.cache/norvane/windows);
# NORVANE_WINDOWS_JOBS sets the build's parallel jobs (default: all cores).
set -euo pipefail
here="$(cd "$(dirname "$0")/../.." && pwd)"

want_qt=0
tools_only=0
for arg in "$@"; do
  case "$arg" in
    --qt) want_qt=1 ;;
    --tools-only) tools_only=1 ;;
    -h|--help) sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "build_deps.sh: unknown option '$arg' (try --help)" >&2; exit 2 ;;
  esac
done

cache="${NORVANE_WINDOWS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/norvane/windows}"
jobs="${NORVANE_WINDOWS_JOBS:-$(nproc)}"
toolchain="$here/cmake/mingw-w64.cmake"
deps="$cache/deps"
src="$cache/src"
mkdir -p "$cache" "$deps" "$src"
# wine keeps its own prefix in the cache, never in ~/.wine.
export WINEPREFIX="${WINEPREFIX:-$cache/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi

# --- the cross compiler, wine and the source-package tools -----------------
packages=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-x86-64-dev
          binutils-mingw-w64-x86-64 wine wine64 dpkg-dev cmake ninja-build zip)
missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
if ((${#missing[@]})); then
  echo "windows: installing ${missing[*]}"
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
if ((tools_only)); then exit 0; fi

# --- Debian's source packages: a deb-src line for the mirror in use --------
have_deb_src() {
  grep -rqsE '^(deb-src |Types:.*deb-src)' /etc/apt/sources.list /etc/apt/sources.list.d/
}
if ! have_deb_src; then
  mirror="" suites=""
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    mirror="$(awk '/^URIs:/ {print $2; exit}' /etc/apt/sources.list.d/debian.sources)"
    suites="$(awk '/^Suites:/ {$1=""; print; exit}' /etc/apt/sources.list.d/debian.sources)"
  elif [ -f /etc/apt/sources.list ]; then
    read -r mirror suites < <(awk '$1=="deb" && $2 !~ /security/ {print $2, $3; exit}' /etc/apt/sources.list)
  fi
  mirror="${mirror:-http://deb.debian.org/debian}"
  suites="${suites:-bookworm}"
  echo "windows: adding a deb-src line for $mirror ($suites)"
  printf 'Types: deb-src\nURIs: %s\nSuites:%s\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
    "$mirror" " ${suites# }" | "${sudo_cmd[@]}" tee /etc/apt/sources.list.d/norvane-deb-src.sources >/dev/null
  "${sudo_cmd[@]}" apt-get update -qq
fi

# Unpacks Debian's source package $1 (patches applied) into $src once and
# prints the unpacked folder.
fetch_source() {
  local name="$1" dir
  dir="$(find "$src" -maxdepth 1 -mindepth 1 -type d -name "$2" | head -n 1)"
  if [ -z "$dir" ]; then
    (cd "$src" && apt-get source -qq "$name" >&2)
    dir="$(find "$src" -maxdepth 1 -mindepth 1 -type d -name "$2" | head -n 1)"
  fi
  [ -n "$dir" ] || { echo "windows: could not unpack the source of $name" >&2; exit 1; }
  echo "$dir"
}

cross_cmake=(-G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release
             -DNORVANE_WINDOWS_DEPS="$deps" -DCMAKE_INSTALL_PREFIX="$deps")

# --- zlib (static only: the dfsg source lacks the DLL's resource file) -----
if [ ! -f "$deps/.zlib" ]; then
  dir="$(fetch_source zlib 'zlib-*')"
  b="$cache/build/zlib"; rm -rf "$b"
  cmake -S "$dir" -B "$b" "${cross_cmake[@]}" >/dev/null
  cmake --build "$b" --target zlibstatic -j "$jobs" >/dev/null
  mkdir -p "$deps/include" "$deps/lib"
  cp "$dir/zlib.h" "$b/zconf.h" "$deps/include/"
  cp "$b/libzlibstatic.a" "$deps/lib/libz.a"
  touch "$deps/.zlib"; echo "windows: zlib built"
fi

# --- libpng ------------------------------------------------------------------
if [ ! -f "$deps/.png" ]; then
  dir="$(fetch_source libpng1.6 'libpng1.6-*')"
  b="$cache/build/png"; rm -rf "$b"
  cmake -S "$dir" -B "$b" "${cross_cmake[@]}" -DPNG_SHARED=OFF -DPNG_STATIC=ON \
    -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF -DZLIB_ROOT="$deps" >/dev/null
  cmake --build "$b" -j "$jobs" >/dev/null
  cmake --install "$b" >/dev/null
  touch "$deps/.png"; echo "windows: libpng built"
fi

# --- FreeType (the same version the Linux build uses) -------------------------
if [ ! -f "$deps/.freetype" ]; then
  dir="$(fetch_source freetype 'freetype-*')"
  b="$cache/build/freetype"; rm -rf "$b"
  cmake -S "$dir" -B "$b" "${cross_cmake[@]}" -DBUILD_SHARED_LIBS=OFF \
    -DFT_DISABLE_BZIP2=ON -DFT_DISABLE_HARFBUZZ=ON -DFT_DISABLE_BROTLI=ON \
    -DFT_DISABLE_PNG=ON -DFT_REQUIRE_ZLIB=ON -DZLIB_ROOT="$deps" >/dev/null
  cmake --build "$b" -j "$jobs" >/dev/null
  cmake --install "$b" >/dev/null
  touch "$deps/.freetype"; echo "windows: FreeType built"
fi

# --- GoogleTest (Debian ships its source) ---------------------------------------
if [ ! -f "$deps/.gtest" ]; then
  [ -d /usr/src/googletest ] || "${sudo_cmd[@]}" apt-get install -y -qq googletest
  b="$cache/build/gtest"; rm -rf "$b"
  cmake -S /usr/src/googletest -B "$b" "${cross_cmake[@]}" -DBUILD_GMOCK=ON \
    -DINSTALL_GTEST=ON >/dev/null
  cmake --build "$b" -j "$jobs" >/dev/null
  cmake --install "$b" >/dev/null
  touch "$deps/.gtest"; echo "windows: GoogleTest built"
fi

# --- nlohmann-json: headers and its CMake package ---------------------------------
if [ ! -f "$deps/.json" ]; then
  mkdir -p "$deps/include" "$deps/share/cmake"
  cp -r /usr/include/nlohmann "$deps/include/"
  cp -r /usr/share/cmake/nlohmann_json "$deps/share/cmake/"
  touch "$deps/.json"
fi

if ((!want_qt)); then exit 0; fi

# --- Qt Core/Gui/Widgets, the host tools from Debian's Qt of the same version ----
qt="$cache/qt"
if [ ! -f "$qt/.done" ]; then
  host_qt="$(dpkg-query -W -f='${Version}' qt6-base-dev 2>/dev/null || true)"
  echo "windows: cross-building Qt (${host_qt:-host Qt}) into $qt: about 35 minutes on two cores"
  dir="$(fetch_source qt6-base 'qt6-base-*')"
  b="$cache/build/qt"
  start=$(date +%s)
  if [ ! -f "$b/build.ninja" ]; then
    rm -rf "$b"
    cmake -S "$dir" -B "$b" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
      -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$qt" \
      -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
      -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
      -DFEATURE_network=OFF -DFEATURE_sql=OFF -DFEATURE_dbus=OFF \
      -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF \
      -DFEATURE_testlib=OFF -DFEATURE_tabletevent=OFF \
      -DFEATURE_system_zlib=OFF -DFEATURE_system_png=OFF -DFEATURE_system_jpeg=OFF \
      -DFEATURE_system_freetype=OFF -DFEATURE_system_harfbuzz=OFF \
      -DFEATURE_system_pcre2=OFF -DFEATURE_system_doubleconversion=OFF \
      -DFEATURE_system_libb2=OFF -DFEATURE_system_textmarkdownreader=OFF
  fi
  cmake --build "$b" -j "$jobs"
  cmake --install "$b" >/dev/null
  touch "$qt/.done"
  echo "windows: Qt built in $(( ($(date +%s) - start) / 60 )) minutes"
fi

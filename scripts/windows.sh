#!/usr/bin/env bash
# The Windows programs, cross-built on Debian 12 with mingw-w64 and tested
# under wine:
#   1. installs the cross compiler and wine, cross-builds the libraries from
#      Debian's source packages into a cache outside the source tree
#      (scripts/windows/build_deps.sh; ~/.cache/norvane/windows);
#   2. builds norvane-run.exe, the tools and every test program that has no
#      Qt into build/windows;
#   3. runs those test programs, the fuzz corpora and every scenario folder
#      under tests/ with norvane-run.exe under wine;
#   4. checks that norvane-run.exe leaves the same bytes as the Linux
#      norvane-run (scripts/windows/compare.sh);
#   5. with Qt for Windows in the cache: builds norvane-sim.exe (in
#      build/windows-qt), puts it beside the Qt DLLs and the Windows platform
#      plugin and tests the window under wine on Xvfb
#      (tests/host/apps/norvane_sim_windows_e2e.sh);
#   6. writes build/windows/norvane-windows.zip: the programs, the DLLs the
#      window needs, the assets and README-windows.txt.
# Qt for Windows is cross-built into the cache by --qt, once: about 35
# minutes on two otherwise idle cores. Without it the window is left out
# (the test stage says so in one line).
#
# Usage: scripts/windows.sh [--qt] [--test-stage]
#   --qt          also cross-build Qt into the cache (once)
#   --test-stage  what scripts/test.sh runs: skips with one line when mingw-w64
#                 or wine is missing, installs nothing, writes no zip
set -euo pipefail
cd "$(dirname "$0")/.."
root="$(pwd)"

want_qt=0
test_stage=0
for arg in "$@"; do
  case "$arg" in
    --qt) want_qt=1 ;;
    --test-stage) test_stage=1 ;;
    -h|--help) sed -n '2,29p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "windows.sh: unknown option '$arg' (try --help)" >&2; exit 2 ;;
  esac
done

cache="${NORVANE_WINDOWS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/norvane/windows}"
export NORVANE_WINDOWS_CACHE="$cache"
export WINEPREFIX="${WINEPREFIX:-$cache/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
build="$root/build/windows"

if ((test_stage)); then
  if ! command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1 || ! command -v wine >/dev/null 2>&1; then
    echo "=== windows: skipped (mingw-w64 or wine is not installed; scripts/windows.sh installs them)"
    exit 0
  fi
fi

echo "=== windows: cross tools and libraries (cache: $cache)"
deps_args=()
((want_qt)) && deps_args+=(--qt)
start=$(date +%s)
scripts/windows/build_deps.sh "${deps_args[@]}"
echo "windows: libraries ready in $(( $(date +%s) - start )) s"

echo "=== windows: build"
launcher=()
if command -v ccache >/dev/null 2>&1; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
  -DNORVANE_WINDOWS_DEPS="$cache/deps" -DCMAKE_BUILD_TYPE=Release \
  -DNORVANE_QT=OFF -DNORVANE_BENCH=OFF -DNORVANE_PYTHON_PACKAGE=OFF "${launcher[@]}" >/dev/null
cmake --build "$build"

echo "=== windows: tests under wine"
status=0
failed=()
# Each test program runs directly, as one process: under wine a process
# costs about a second to start, one per case would cost minutes.
for exe in "$build"/tests/test_*.exe; do
  name="$(basename "$exe" .exe)"
  log="$build/tests/$name.log"
  if (cd "$build/tests" && NORVANE_SOURCE_DIR="$root" wine "$exe" >"$log" 2>&1); then
    echo "windows: $name: $(grep -E '^\[  PASSED  \]' "$log" | head -n 1 | sed 's/\r$//; s/^\[  PASSED  \] \(.*\)\.$/\1 passed/')$(grep -m1 -oE '^\[  SKIPPED \] [0-9]+' "$log" | sed 's/^.* \([0-9]\+\)$/, \1 skipped/')"
  else
    echo "windows: $name FAILED (log: $log)"
    grep -E '^\[  FAILED  \] [A-Za-z]' "$log" | sort -u || true
    failed+=("$name")
  fi
done
for corpus in "$root"/fuzz/corpus/*/; do
  target="$(basename "$corpus")"
  if ! wine "$build/fuzz/fuzz_replay_$target.exe" "$corpus" >"$build/fuzz/replay_$target.log" 2>&1; then
    echo "windows: fuzz corpus $target FAILED (log: $build/fuzz/replay_$target.log)"
    failed+=("fuzz_$target")
  fi
done
echo "windows: the fuzz corpora replay"
# Every folder of scenario files, as the Linux test run has them.
while IFS= read -r dir; do
  rel="${dir#"$root"/tests/}"
  owner="$(dirname "$rel")"
  out="$build/tests/scenarios/$owner"
  rm -rf "$out"
  mkdir -p "$out"
  installation=()
  case "$owner" in host/installation*) installation=(--installation) ;; esac
  if (cd "$out" && wine "$build/host/apps/norvane-run.exe" --scenario "$dir" --duration 60000 --workdir units \
        --output failed --junit junit.xml --quiet "${installation[@]}" >"$out/run.log" 2>&1); then
    echo "windows: scenarios of $owner: $(grep -m1 -o 'tests="[0-9]*" failures="[0-9]*"' "$out/junit.xml" | tr -d '"')"
  else
    echo "windows: scenarios of $owner FAILED (log: $out/run.log)"
    cat "$out/run.log"
    failed+=("scenarios $owner")
  fi
done < <(find "$root/tests" -type d -name scenarios | sort)

echo "=== windows: the same bytes as the Linux build"
linux_run="$root/build/release/host/apps/norvane-run"
if [ ! -x "$linux_run" ]; then
  cmake --preset release >/dev/null
  cmake --build --preset release --target norvane-run
fi
if ! scripts/windows/compare.sh "$linux_run" "$build/host/apps/norvane-run.exe" "$build/compare"; then
  failed+=("byte comparison")
fi

# The folder the zip holds: the programs, and with Qt the window beside the
# DLLs it loads (Qt finds its plugins in the program's own folder).
stage="$build/package/norvane"
rm -rf "$build/package"
mkdir -p "$stage/assets"
cp "$build/host/apps/norvane-run.exe" "$build/tools/norvane-trace.exe" "$build/tools/norvane-dbc.exe" \
  "$build/tools/norvane-tick-pacing.exe" "$stage/"
cp -r "$root/assets/can" "$root/assets/installation" "$stage/assets/"
cp "$root/scripts/windows/README-windows.txt" "$stage/"

qt="$cache/qt"
if [ -f "$qt/.done" ]; then
  echo "=== windows: the window (norvane-sim.exe)"
  qt_build="$root/build/windows-qt"
  cmake -S "$root" -B "$qt_build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
    -DNORVANE_WINDOWS_DEPS="$cache/deps" -DNORVANE_WINDOWS_QT="$qt" -DCMAKE_BUILD_TYPE=Release \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DNORVANE_QT=ON -DNORVANE_TESTS=OFF -DNORVANE_BENCH=OFF -DNORVANE_PYTHON_PACKAGE=OFF "${launcher[@]}" >/dev/null
  cmake --build "$qt_build" --target norvane-sim
  cp "$qt_build/host/apps/norvane-sim.exe" "$stage/"
  cp "$qt/bin/Qt6Core.dll" "$qt/bin/Qt6Gui.dll" "$qt/bin/Qt6Widgets.dll" "$stage/"
  mkdir -p "$stage/platforms" "$stage/styles"
  cp "$qt/plugins/platforms/qwindows.dll" "$stage/platforms/"
  cp "$qt/plugins/styles/qwindowsvistastyle.dll" "$stage/styles/"
  # Qt's DLLs use the compiler's runtime as DLLs (the programs have it inside).
  for dll in libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll; do
    cp "$(x86_64-w64-mingw32-g++-posix -print-file-name="$dll")" "$stage/"
  done
  # Without their symbols the DLLs are a third of their size; the window is
  # tested as it ships.
  x86_64-w64-mingw32-strip --strip-unneeded "$stage"/*.dll "$stage"/*/*.dll
  if ! command -v Xvfb >/dev/null 2>&1 || ! command -v xdotool >/dev/null 2>&1; then
    echo "windows: window test FAILED: Xvfb and xdotool are needed (scripts/setup.sh installs them)"
    failed+=("window test")
  elif "$root/tests/host/apps/norvane_sim_windows_e2e.sh" "$stage/norvane-sim.exe" "$build/window_e2e" \
      >"$build/window_e2e.log" 2>&1; then
    echo "windows: window test: $(tail -n 1 "$build/window_e2e.log")"
  else
    echo "windows: window test FAILED (log: $build/window_e2e.log)"
    tail -n 5 "$build/window_e2e.log"
    failed+=("window test")
  fi
else
  echo "=== windows: window test: skipped (no Qt for Windows in $qt; scripts/windows.sh --qt builds it)"
fi

if ((${#failed[@]})); then
  echo "=== windows: FAILED: ${failed[*]}"
  status=1
fi
if ((test_stage)); then
  exit $status
fi

echo "=== windows: zip"
(cd "$build/package" && rm -f "$build/norvane-windows.zip" && zip -qr "$build/norvane-windows.zip" norvane)
echo "windows: $build/norvane-windows.zip ($(du -h "$build/norvane-windows.zip" | cut -f1))"
exit $status

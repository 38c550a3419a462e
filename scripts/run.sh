#!/usr/bin/env bash
# Sets up, builds and starts the simulator: the window (norvane-sim) when a
# display is available, otherwise a short headless run (norvane-run).
# Arguments go to the program that runs.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake --preset release >/dev/null
# Only the two programs: the tests and benchmarks are built by scripts/test.sh.
cmake --build --preset release --target norvane-sim norvane-run
mkdir -p work
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  # The default installation on port 0, unless the arguments put port 0
  # elsewhere or choose the installation themselves.
  installation=(--installation)
  for arg in "$@"; do
    case "$arg" in --can0|--can0=*|--bus-server|--bus-server=*|--installation) installation=() ;; esac
  done
  exec build/release/host/apps/norvane-sim --workdir work "${installation[@]}" "$@"
fi
echo "run: no display (DISPLAY and WAYLAND_DISPLAY are unset): running the unit headless for 3 s instead;"
echo "run: the screen at 3 s goes to work/screen.bmp"
exec build/release/host/apps/norvane-run --workdir work --duration 3000 --screenshot 3000:work/screen.bmp "$@"

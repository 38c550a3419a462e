#!/usr/bin/env bash
# Sets up, builds and starts the simulator: the window (norvane-sim) when a
# display is available, otherwise a short headless run (norvane-run).
# Arguments go to the program that runs. With NORVANE_RUN_DRY_RUN=1 in the
# environment it only prints the command it would run (nothing is installed
# or built).
set -euo pipefail
cd "$(dirname "$0")/.."

run() {
  if [ -n "${NORVANE_RUN_DRY_RUN:-}" ]; then
    printf '%s\n' "$*"
    exit 0
  fi
  exec "$@"
}

if [ -z "${NORVANE_RUN_DRY_RUN:-}" ]; then
  scripts/setup.sh
  cmake --preset release >/dev/null
  # Only the two programs: the tests and benchmarks are built by scripts/test.sh.
  cmake --build --preset release --target norvane-sim norvane-run
  mkdir -p work
fi
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  # The default installation on port 0, unless the arguments put port 0
  # elsewhere or choose the installation themselves (--bus-server serves
  # the bus with the installation on it).
  installation=(--installation)
  for arg in "$@"; do
    case "$arg" in --can0|--can0=*|--installation) installation=() ;; esac
  done
  run build/release/host/apps/norvane-sim --workdir work "${installation[@]}" "$@"
fi
echo "run: no display (DISPLAY and WAYLAND_DISPLAY are unset): running the unit headless for 3 s instead;"
echo "run: the screen at 3 s goes to work/screen.bmp"
run build/release/host/apps/norvane-run --workdir work --duration 3000 --screenshot 3000:work/screen.bmp "$@"

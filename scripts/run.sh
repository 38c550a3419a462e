#!/usr/bin/env bash
# Sets up, builds and starts the simulator.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release
mkdir -p work
exec build/release/host/apps/norvane-run --workdir work --duration 3000 --screenshot 3000:work/screen.bmp "$@"

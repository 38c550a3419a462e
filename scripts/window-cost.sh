#!/usr/bin/env bash
# The window's own cost: starts norvane-sim idle on a private Xvfb display at
# each zoom and measures, after a warm-up, the CPU time the program takes
# (all its threads: window, firmware, tick) as a share of one core, and its
# resident memory (now and at its peak), from /proc. The X server's CPU share
# is shown beside it. Goals: at most 3 % of one core idle at zoom 1 and 4,
# at most 80 MB resident.
# usage: scripts/window-cost.sh [--seconds N] [--zooms "1 4"] [NORVANE_SIM]
set -euo pipefail

seconds=20
zooms="1 4"
sim=
while [ $# -gt 0 ]; do
  case $1 in
    --seconds) seconds=${2:?--seconds needs a number}; shift 2 ;;
    --zooms) zooms=${2:?--zooms needs a list such as "1 2 4"}; shift 2 ;;
    --help|-h) sed -n '2,9p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "window-cost.sh: unknown option '$1'" >&2; exit 2 ;;
    *) sim=$1; shift ;;
  esac
done
here=$(cd "$(dirname "$0")/.." && pwd)
sim=${sim:-$here/build/release/host/apps/norvane-sim}
[ -x "$sim" ] || { echo "window-cost.sh: no program '$sim' (build the release preset first)" >&2; exit 2; }
for tool in Xvfb xdotool; do
  command -v $tool >/dev/null || { echo "window-cost.sh: $tool is missing (scripts/setup.sh installs it)" >&2; exit 2; }
done

work=$(mktemp -d /tmp/norvane-window-cost-XXXXXX)
xvfb_pid=
sim_pid=
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A free display chosen by the server itself.
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1400x1100x24 -nolisten tcp -noreset >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
exec 3>&-
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "window-cost.sh: Xvfb did not start" >&2; exit 1; }
export DISPLAY=:$(head -1 "$work/display")

ticks=$(getconf CLK_TCK)
# User + system CPU time of a process, in clock ticks.
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
kb() { awk -v k="$2" '$1 == k":" { print $2 }' "/proc/$1/status"; }

printf '%-6s %12s %12s %12s %12s\n' zoom "CPU % core" "RSS MB" "peak RSS MB" "Xvfb CPU %"
for zoom in $zooms; do
  config=$work/config-$zoom
  mkdir -p "$config/Norvane"
  # ZoomFactor as the window stores it: a 4-byte little-endian value.
  printf '[General]\nZoomFactor=@ByteArray(\\x%x\\0\\0\\0)\n' "$zoom" >"$config/Norvane/Simulator.conf"
  XDG_CONFIG_HOME=$config "$sim" --workdir "$work/unit" >"$work/sim-$zoom.log" 2>&1 &
  sim_pid=$!
  wid=$(timeout 10 xdotool search --sync --name '^PC Simulator$' | head -1) ||
    { echo "window-cost.sh: no window at zoom $zoom" >&2; cat "$work/sim-$zoom.log" >&2; exit 1; }
  width=$(xdotool getwindowgeometry --shell "$wid" | sed -n 's/^WIDTH=//p')
  want=$([ "$zoom" -ge 4 ] && echo 1280 || echo $((407 * zoom)))
  [ "$width" -eq "$want" ] || { echo "window-cost.sh: the window is $width wide at zoom $zoom, not $want" >&2; exit 1; }
  sleep 3  # past the version page, caches warm
  s0=$(cpu_ticks $sim_pid); x0=$(cpu_ticks $xvfb_pid); t0=$(date +%s.%N)
  sleep "$seconds"
  s1=$(cpu_ticks $sim_pid); x1=$(cpu_ticks $xvfb_pid); t1=$(date +%s.%N)
  rss=$(kb $sim_pid VmRSS); hwm=$(kb $sim_pid VmHWM)
  awk -v z="$zoom" -v s=$((s1 - s0)) -v x=$((x1 - x0)) -v hz="$ticks" -v t0="$t0" -v t1="$t1" \
      -v rss="$rss" -v hwm="$hwm" 'BEGIN {
        wall = t1 - t0
        printf "%-6s %12.2f %12.1f %12.1f %12.2f\n", z, 100 * s / hz / wall, rss / 1024, hwm / 1024, 100 * x / hz / wall
      }'
  kill "$sim_pid"; wait "$sim_pid" 2>/dev/null || true
  sim_pid=
done
echo "goals: CPU at most 3 % of one core idle at zoom 1 and 4; at most 80 MB resident"

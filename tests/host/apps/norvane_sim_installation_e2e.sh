#!/usr/bin/env bash
# The real norvane-sim with the default installation on a private Xvfb
# display: the window opens with the installation panel and the bus monitor
# docked beside the unit, port 0 is on the virtual bus, the monitor keeps
# changing as the modules and the unit talk, and SIGTERM closes it cleanly.
# Leaves the whole screen in OUTDIR/window.png.
# usage: norvane_sim_installation_e2e.sh NORVANE_SIM OUTDIR
set -euo pipefail
sim=$1
out=$2
rm -rf "$out"
mkdir -p "$out"

fail() { echo "FAIL: $*" >&2; exit 1; }
. "$(dirname "${BASH_SOURCE[0]}")/x11_wait.sh"
. "$(dirname "${BASH_SOURCE[0]}")/norvane_sim_screen.sh"

sim_start 1600x1000x24 --installation
grep -q "^norvane-sim: CAN port 0: virtual" "$out/sim.log" || fail "port 0 is not on the virtual bus: $(cat "$out/sim.log")"

# The unit alone is 421 pixels wide at zoom 1; both docks make it far wider.
wide_window() {
  eval "$(xdotool getwindowgeometry --shell "$wid")"
  [ "$WIDTH" -gt 1000 ]
}
wait_until 10 wide_window || fail "the window is ${WIDTH:-?} pixels wide: the docks are missing"

# The bus monitor is the right-hand part of the window; it keeps changing
# while the modules and the unit send.
monitor_sum() {
  eval "$(xdotool getwindowgeometry --shell "$wid")"
  import -window "$wid" -crop "$((WIDTH / 3))x$((HEIGHT - 40))+$((WIDTH * 2 / 3))+40" +repage rgb:- | md5sum
}
first=$(monitor_sum)
monitor_moved() { [ "$(monitor_sum)" != "$first" ]; }
wait_until 10 monitor_moved || fail "the bus monitor shows no traffic"

sleep 3  # past the unit's start-up picture, for the picture below
import -window root "$out/window.png" || fail "no screenshot"

kill -TERM "$sim_pid"
wait_for_exit 15 "$sim_pid" || fail "SIGTERM did not end the window"
wait "$sim_pid" || fail "norvane-sim ended with status $? after SIGTERM"
sim_pid=
echo PASS

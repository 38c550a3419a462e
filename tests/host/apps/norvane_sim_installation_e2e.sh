#!/usr/bin/env bash
# The real norvane-sim with the default installation on a private Xvfb
# display the size of a small laptop's (1366 x 768): the window opens with
# the installation panel and the bus monitor and fits the screen, port 0 is
# on the virtual bus, the monitor keeps changing as the modules and the unit
# talk. The unit's middle button switches INSIDE LIGHTS on and the panel
# lights its lamp (PWRB1 output 3); a click on the rocker SENB1 1 (PORT FORE
# CABIN) goes to the unit over the bus and comes back as the unit's command:
# PWRB1 output 1 lights in the panel, and goes out at the second click.
# SIGTERM closes the window cleanly. The window itself says where its widgets
# are (NORVANE_SIM_WIDGET_PLACES). Leaves the whole screen in OUTDIR/window.png.
# usage: norvane_sim_installation_e2e.sh NORVANE_SIM OUTDIR
set -euo pipefail
sim=$1
out=$2
rm -rf "$out"
mkdir -p "$out"

fail() { echo "FAIL: $*" >&2; exit 1; }
. "$(dirname "${BASH_SOURCE[0]}")/x11_wait.sh"
. "$(dirname "${BASH_SOURCE[0]}")/norvane_sim_screen.sh"

export NORVANE_SIM_WIDGET_PLACES=$out/places
sim_start 1366x768x24 --installation
grep -q "^norvane-sim: CAN port 0: virtual" "$out/sim.log" || fail "port 0 is not on the virtual bus: $(cat "$out/sim.log")"

all_placed() {
  local name
  for name in frontView installationDock busMonitorDock switch_1_1 lamp_1_1 lamp_1_3; do
    widget_place "$name" || return 1
  done
}
wait_until 10 all_placed || fail "the window did not say where its widgets are: $(cat "$out/places" 2>/dev/null)"
eval "$(xdotool getwindowgeometry --shell "$wid")"
[ "$WIDTH" -le 1366 ] && [ "$HEIGHT" -le 768 ] || fail "the window is ${WIDTH}x$HEIGHT, larger than the 1366x768 screen"
widget_place frontView
view_left=$place_x
menu_height=$place_y

# The bus monitor keeps changing while the modules and the unit send.
monitor_sum() {
  widget_place busMonitorDock || return 1
  import -window "$wid" -crop "${place_w}x$place_h+$place_x+$place_y" +repage rgb:- | md5sum
}
first=$(monitor_sum)
monitor_moved() { [ "$(monitor_sum)" != "$first" ]; }
wait_until 10 monitor_moved || fail "the bus monitor shows no traffic"

lamp_lit() { widget_area_is "$1" 'mean.r > 0.7 && mean.b < 0.5'; }
lamp_dark() { widget_area_is "$1" 'mean.r < 0.4'; }

wait_until 20 first_page_shown || fail "the unit did not leave its start-up picture"
wait_until 5 first_row_off || fail "INSIDE LIGHTS is not off at start"
lamp_dark lamp_1_1 || fail "PWRB1 output 1 is lit before its switch"
# INSIDE LIGHTS gates the cabin lights: the middle button (client 205, 372)
# turns it on, and the unit's command lights its circuit in the panel.
xdotool mousemove --window "$wid" $((view_left + 205)) $((menu_height + 372)) click 1
wait_until 5 first_row_on || fail "the middle button did not switch INSIDE LIGHTS on"
wait_until 5 lamp_lit lamp_1_3 || fail "INSIDE LIGHTS on did not light PWRB1 output 3 in the panel"

click_widget switch_1_1 || fail "no rocker SENB1 1"
wait_until 5 lamp_lit lamp_1_1 || fail "the rocker SENB1 1 did not light PWRB1 output 1"
click_widget switch_1_1 || fail "no rocker SENB1 1"
wait_until 5 lamp_dark lamp_1_1 || fail "the rocker SENB1 1 did not put PWRB1 output 1 out"

import -window root "$out/window.png" || fail "no screenshot"

kill -TERM "$sim_pid"
wait_for_exit 15 "$sim_pid" || fail "SIGTERM did not end the window"
wait "$sim_pid" || fail "norvane-sim ended with status $? after SIGTERM"
sim_pid=
echo PASS

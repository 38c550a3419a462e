#!/usr/bin/env bash
# The tester's loop, as a person does it: norvane-sim with the default
# installation records into a file from a fresh start (--record, as File >
# Record Scenario... does); a click on the unit's middle button switches
# INSIDE LIGHTS on, a click on the rocker SENB1 1 lights PWRB1 output 1, F4
# moves the unit's selection down, the Fuel 1 slider is dragged; then the
# three checks (Ctrl+Shift+S screen, O outputs, C commands) and Stop
# Recording (Ctrl+Shift+R). norvane-run, started as the file's first lines
# say, replays the file in virtual time: every check passes. The window's
# unit runs in unit time, so the replay is exact however loaded the machine
# is. Leaves the whole screen in OUTDIR/window.png.
# usage: norvane_sim_record_e2e.sh NORVANE_SIM NORVANE_RUN OUTDIR
set -euo pipefail
sim=$(realpath "$1")
run=$(realpath "$2")
out=$(realpath -m "$3")
rm -rf "$out"
mkdir -p "$out/rec"

fail() { echo "FAIL: $*" >&2; exit 1; }
. "$(dirname "${BASH_SOURCE[0]}")/x11_wait.sh"
. "$(dirname "${BASH_SOURCE[0]}")/norvane_sim_screen.sh"

file=$out/rec/session.txt
export NORVANE_SIM_WIDGET_PLACES=$out/places
sim_start 1366x768x24 --installation --record "$file"

all_placed() {
  local name
  for name in frontView switch_1_1 lamp_1_1 tank_1; do
    widget_place "$name" || return 1
  done
}
wait_until 10 all_placed || fail "the window did not say where its widgets are: $(cat "$out/places" 2>/dev/null)"
widget_place frontView
view_left=$place_x
menu_height=$place_y
head -n 3 "$file" | grep -q "norvane-run --scenario session.txt --start-from session.unit --installation" ||
  fail "the file does not start with how to run it: $(head -n 5 "$file")"
[ -d "$out/rec/session.unit/rootfs" ] || fail "no start folder beside the file"

lamp_lit() { widget_area_is "$1" 'mean.r > 0.7 && mean.b < 0.5'; }
recorded() { grep -q "$1" "$file"; }
# Lines of the file that match a pattern.
count() { grep -c "$1" "$file" || true; }

wait_until 30 first_page_shown || fail "the unit did not leave its start-up picture"
wait_until 5 first_row_off || fail "INSIDE LIGHTS is not off at start"
# The middle button (client 205, 372): INSIDE LIGHTS on.
xdotool mousemove --window "$wid" $((view_left + 205)) $((menu_height + 372)) click 1
wait_until 10 first_row_on || fail "the middle button did not switch INSIDE LIGHTS on"
wait_until 5 recorded " release 3$" || fail "the click was not recorded: $(cat "$file")"

click_widget switch_1_1 || fail "no rocker SENB1 1"
wait_until 10 lamp_lit lamp_1_1 || fail "the rocker SENB1 1 did not light PWRB1 output 1"
recorded " switch SENB1 1 on$" || fail "the rocker was not recorded: $(cat "$file")"

# The Fuel 1 slider's handle dragged from its left end to about the middle.
widget_place tank_1
xdotool mousemove --window "$wid" $((place_x + 4)) $((place_y + place_h / 2)) mousedown 1
xdotool mousemove --window "$wid" $((place_x + place_w / 4)) $((place_y + place_h / 2))
xdotool mousemove --window "$wid" $((place_x + place_w / 2)) $((place_y + place_h / 2)) mouseup 1
wait_until 10 recorded " tank 1 " || fail "the tank slider was not recorded: $(cat "$file")"

x11_wait_focus 5 "$wid" || fail "the window did not take the keyboard"
xdotool key F4
wait_until 10 recorded " release 4$" || fail "F4 was not recorded: $(cat "$file")"

# Give the unit time to send the commands of the new state, then check.
sleep 1
x11_wait_focus 5 "$wid" || fail "the window did not take the keyboard"
xdotool key ctrl+shift+s
wait_until 10 recorded " expect screen session_screen1.png" || fail "Checks > Screen wrote nothing: $(cat "$file")"
[ -s "$out/rec/session_screen1.png" ] || fail "no reference picture beside the file"
xdotool key ctrl+shift+o
wait_until 10 recorded " expect output PWRB8 8 " || fail "Checks > Outputs wrote nothing: $(cat "$file")"
[ "$(count ' expect output ')" = 64 ] || fail "not 64 output lines: $(count ' expect output ')"
grep -q " expect output PWRB1 1 on$" "$file" || fail "PWRB1 output 1 is not checked on"
xdotool key ctrl+shift+c
wait_until 10 recorded " expect can 0 18EFB" || fail "Checks > Commands wrote nothing: $(cat "$file")"
xdotool key ctrl+shift+r
wait_until 10 recorded " exit$" || fail "Stop Recording wrote no end: $(cat "$file")"
command=$(sed -n 's/^#   //p' "$file" | head -n 1)
[[ $command == norvane-run\ * ]] || fail "no command line in the file: $(head -n 5 "$file")"

import -window root "$out/window.png" || fail "no screenshot"
kill -TERM "$sim_pid"
wait_for_exit 15 "$sim_pid" || fail "SIGTERM did not end the window"
wait "$sim_pid" || fail "norvane-sim ended with status $? after SIGTERM"
sim_pid=

# The replay, as the file says, in a working folder of its own.
mkdir -p "$out/replay"
(cd "$out/rec" && "$run" --workdir "$out/replay" --junit "$out/report.xml" ${command#norvane-run }) \
  >"$out/run.log" 2>&1 || fail "the replay failed: $(cat "$out/run.log")"
checks=$(count ' expect ')
grep -q "^$checks passed, 0 failed" "$out/run.log" || fail "not all $checks checks passed: $(cat "$out/run.log")"
echo PASS

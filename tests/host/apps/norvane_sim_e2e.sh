#!/usr/bin/env bash
# End to end, as a user would: starts the real norvane-sim on a private Xvfb
# display, waits for the unit's first page, saves the screen through the
# keyboard (File > Save Screen, a typed name), clicks the middle bezel button
# and waits for the first row to switch on, saves again, checks the
# 307254-byte bitmaps, takes a picture of the window (window.png in OUTDIR)
# and closes with Escape. Every step waits for what it needs (window mapped,
# keyboard focus, menu open, dialog gone, file complete) with the helpers of
# x11_wait.sh, never for a fixed time.
# usage: norvane_sim_e2e.sh NORVANE_SIM OUTDIR
set -euo pipefail
sim=$1
out=$2
rm -rf "$out"
mkdir -p "$out"

fail() { echo "FAIL: $*" >&2; exit 1; }
. "$(dirname "${BASH_SOURCE[0]}")/x11_wait.sh"
. "$(dirname "${BASH_SOURCE[0]}")/norvane_sim_screen.sh"

# Without a display the program says where to go instead, and exits with 1.
set +e
message=$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM= "$sim" --workdir "$out/nodisplay" 2>&1)
status=$?
set -e
[ "$status" -eq 1 ] || fail "without a display the exit status is $status, not 1"
[ "$(printf '%s\n' "$message" | wc -l)" -eq 1 ] || fail "without a display: more than one line: $message"
[[ "$message" == *norvane-run* ]] || fail "without a display the message does not name norvane-run: $message"

sim_start 1280x1024x24
eval "$(xdotool getwindowgeometry --shell "$wid")"
[ "$WIDTH" -eq 407 ] || fail "window width $WIDTH, not 407"
# The status bar (22 pixels, fixed) sits below the client.
menu_height=$((HEIGHT - 421 - 22))
[ "$menu_height" -gt 0 ] || fail "window height $HEIGHT leaves no room for the menu"
[ -d "$out/unit/rootfs" ] || fail "the unit's folders were not created"


save_screen() {  # $1: file to type into the dialog
  local dialog
  x11_wait_focus 5 "$wid" || fail "the window did not take the keyboard"
  xdotool key alt+f
  wait_until 5 menu_open || fail "Alt+F opened no File menu"
  xdotool key s
  dialog=$(x11_wait_window 10 --name '^Save Screen$') || fail "no Save Screen dialog"
  x11_wait_focus 5 "$dialog" || fail "the Save Screen dialog did not take the keyboard"
  xdotool type --delay 5 "$1"
  xdotool key Return
  # Until the dialog is gone it covers the window and holds its input.
  x11_wait_window_gone 10 "$dialog" || fail "the Save Screen dialog stayed open"
  wait_for_file 10 "$1" 307254 || fail "Save Screen wrote no complete $1"
}

wait_until 20 first_page_shown || fail "the unit did not leave its start-up picture"
save_screen "$out/before.bmp"
# The middle button (client 205, 372), pressed for 200 ms, switches the
# highlighted row on.
xdotool mousemove --window "$wid" 205 $((372 + menu_height))
xdotool mousedown 1
sleep 0.2
xdotool mouseup 1
wait_until 10 first_row_on || fail "the middle button did not switch INSIDE LIGHTS on"
save_screen "$out/after.bmp"

size=$(stat -c %s "$out/after.bmp")
[ "$size" -eq 307254 ] || fail "saved screen is $size bytes, not 307254"
[ "$(head -c 2 "$out/after.bmp")" = BM ] || fail "saved screen does not start with BM"
if cmp -s "$out/before.bmp" "$out/after.bmp"; then fail "the saved screen did not change after the click"; fi

import -window "$wid" "$out/window.png"

x11_wait_focus 5 "$wid" || fail "the window did not take the keyboard"
xdotool key Escape
wait_for_exit 15 "$sim_pid" || fail "Escape did not close the window"
wait "$sim_pid" || fail "norvane-sim ended with status $?"
sim_pid=
[ -f "$out/config/Norvane/Simulator.conf" ] || fail "no settings written at exit"
echo "PASS (window picture: $out/window.png)"

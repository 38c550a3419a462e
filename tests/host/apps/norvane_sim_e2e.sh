#!/usr/bin/env bash
# End to end, as a user would: starts the real norvane-sim on a private Xvfb
# display, clicks a bezel button, saves the screen through the keyboard
# (File > Save Screen, a typed name), checks the 307254-byte bitmap, takes a
# picture of the window (window.png in OUTDIR) and closes with Escape.
# usage: norvane_sim_e2e.sh NORVANE_SIM OUTDIR
set -euo pipefail
sim=$1
out=$2
rm -rf "$out"
mkdir -p "$out"

fail() { echo "FAIL: $*" >&2; exit 1; }

# Without a display the program says where to go instead, and exits with 1.
set +e
message=$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM= "$sim" --workdir "$out/nodisplay" 2>&1)
status=$?
set -e
[ "$status" -eq 1 ] || fail "without a display the exit status is $status, not 1"
[ "$(printf '%s\n' "$message" | wc -l)" -eq 1 ] || fail "without a display: more than one line: $message"
[[ "$message" == *norvane-run* ]] || fail "without a display the message does not name norvane-run: $message"

display=
for n in $(seq 90 150); do
  if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then display=":$n"; break; fi
done
[ -n "$display" ] || fail "no free X display number"

sim_pid=
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
  [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT
# -noreset: the server would otherwise reset (and refuse connections for a
# moment) each time its last client leaves, e.g. after the readiness probe.
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp -noreset >"$out/xvfb.log" 2>&1 &
xvfb_pid=$!
export DISPLAY=$display
for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
xdpyinfo >/dev/null 2>&1 || fail "Xvfb did not start"

export XDG_CONFIG_HOME=$out/config
"$sim" --workdir "$out/unit" >"$out/sim.log" 2>&1 &
sim_pid=$!
wid=$(timeout 10 xdotool search --sync --name '^PC Simulator$' | head -1) || fail "no window appeared"
xdotool windowfocus --sync "$wid"
eval "$(xdotool getwindowgeometry --shell "$wid")"
[ "$WIDTH" -eq 407 ] || fail "window width $WIDTH, not 407"
# The status bar (22 pixels, fixed) sits below the client.
menu_height=$((HEIGHT - 421 - 22))
[ "$menu_height" -gt 0 ] || fail "window height $HEIGHT leaves no room for the menu"
[ -d "$out/unit/rootfs" ] || fail "the unit's folders were not created"

save_screen() {  # $1: file to type into the dialog
  xdotool windowfocus --sync "$wid"
  xdotool key alt+f
  sleep 0.3
  xdotool key s
  timeout 5 xdotool search --sync --name '^Save Screen$' >/dev/null || fail "no Save Screen dialog"
  sleep 0.3
  xdotool type --delay 5 "$1"
  xdotool key Return
  for _ in $(seq 50); do [ -s "$1" ] && break; sleep 0.1; done
  [ -f "$1" ] || fail "Save Screen wrote no $1"
  sleep 0.2
}

save_screen "$out/before.bmp"
# The middle button (client 205, 372), pressed for 200 ms.
xdotool mousemove --window "$wid" 205 $((372 + menu_height))
xdotool mousedown 1
sleep 0.2
xdotool mouseup 1
sleep 0.5
save_screen "$out/after.bmp"

size=$(stat -c %s "$out/after.bmp")
[ "$size" -eq 307254 ] || fail "saved screen is $size bytes, not 307254"
[ "$(head -c 2 "$out/after.bmp")" = BM ] || fail "saved screen does not start with BM"
if cmp -s "$out/before.bmp" "$out/after.bmp"; then
  echo "note: the screen did not change after the click"
else
  echo "the screen changed after the click"
fi

import -window "$wid" "$out/window.png"

xdotool windowfocus --sync "$wid"
xdotool key Escape
for _ in $(seq 50); do kill -0 "$sim_pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$sim_pid" 2>/dev/null; then fail "Escape did not close the window"; fi
wait "$sim_pid" || fail "norvane-sim ended with status $?"
sim_pid=
[ -f "$out/config/Norvane/Simulator.conf" ] || fail "no settings written at exit"
echo "PASS (window picture: $out/window.png)"

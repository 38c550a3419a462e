#!/usr/bin/env bash
# The real norvane-sim on a private Xvfb display, used as people use it:
# instant clicks (press and release in one go, as a touchpad tap or xdotool
# sends them) must reach the unit, a key held while a menu opens must not
# stay down, and SIGTERM must close the window with its settings saved.
# usage: norvane_sim_input_e2e.sh NORVANE_SIM OUTDIR
set -euo pipefail
sim=$1
out=$2
rm -rf "$out"
mkdir -p "$out"

fail() { echo "FAIL: $*" >&2; exit 1; }

sim_pid=
xvfb_pid=
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT
exec 3>"$out/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset >"$out/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$out/display" ] && break; sleep 0.1; done
[ -s "$out/display" ] || fail "Xvfb did not start"
export DISPLAY=":$(head -1 "$out/display")"
for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

export XDG_CONFIG_HOME=$out/config
"$sim" --workdir "$out/unit" >"$out/sim.log" 2>&1 &
sim_pid=$!
wid=$(timeout 10 xdotool search --sync --name '^PC Simulator$' | head -1) || fail "no window appeared"
xdotool windowfocus --sync "$wid"
eval "$(xdotool getwindowgeometry --shell "$wid")"
menu_height=$((HEIGHT - 421 - 22))
grep -q "CAN port 0: kvaser" "$out/sim.log" || fail "no line for CAN port 0: $(cat "$out/sim.log")"
sleep 2.5  # past the version page

shot() { import -window "$wid" -crop 320x240+43+$((60 + menu_height)) "$1"; }

# Three instant clicks on the middle button: the screen must change.
shot "$out/before_clicks.png"
xdotool mousemove --window "$wid" 205 $((372 + menu_height))
for _ in 1 2 3; do xdotool click 1; sleep 0.15; done
sleep 0.3
shot "$out/after_clicks.png"
if cmp -s "$out/before_clicks.png" "$out/after_clicks.png"; then
  fail "three instant clicks left the screen as it was"
fi

# F2 held while the File menu opens, released inside the menu: afterwards
# (well past the 2 s long press) a click on the middle button still acts.
xdotool mousemove --window "$wid" 200 200
xdotool keydown F2
sleep 0.1
xdotool key alt+f
sleep 0.3
xdotool keyup F2
xdotool key Escape
sleep 2.5
shot "$out/before_after_menu.png"
xdotool mousemove --window "$wid" 205 $((372 + menu_height))
xdotool click 1
sleep 0.4
shot "$out/after_menu.png"
if cmp -s "$out/before_after_menu.png" "$out/after_menu.png"; then
  fail "after F2 was released in a menu the buttons no longer act"
fi

# SIGTERM: the window closes through its normal path and saves its settings.
kill -TERM "$sim_pid"
for _ in $(seq 50); do kill -0 "$sim_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$sim_pid" 2>/dev/null && fail "SIGTERM did not end the window"
wait "$sim_pid" || fail "norvane-sim ended with status $? after SIGTERM"
sim_pid=
[ -f "$out/config/Norvane/Simulator.conf" ] || fail "SIGTERM: no settings written"
echo PASS

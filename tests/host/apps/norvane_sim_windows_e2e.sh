#!/usr/bin/env bash
# The Windows norvane-sim.exe under wine on a private Xvfb display: the
# window opens with the unit's first page, a click on the middle bezel button
# switches INSIDE LIGHTS on, File > Save Screen (wine's own save dialog, a
# typed name) writes the 307254-byte bitmap, Escape closes the window, and
# the six settings are REG_BINARY values of their own sizes under
# HKEY_CURRENT_USER\Software\Norvane\Simulator. Run by scripts/windows.sh
# with the Qt DLLs on WINEPATH and QT_PLUGIN_PATH set; the caller's
# WINEPREFIX holds the registry.
# usage: norvane_sim_windows_e2e.sh NORVANE_SIM_EXE OUTDIR
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
exe=$(realpath "$1")
out=$(realpath -m "$2")
rm -rf "$out"
mkdir -p "$out"
cd "$out"

fail() { echo "FAIL: $*" >&2; exit 1; }
. "$here/x11_wait.sh"
. "$here/norvane_sim_screen.sh"

key='HKCU\Software\Norvane\Simulator'
wine reg delete "$key" /f >/dev/null 2>&1 || true
# A wine session started without this display (the call above, the tests
# before) would keep the window off it: let the session end first.
timeout 30 wineserver -w || wineserver -k
# sim_start runs "$sim" --workdir "$out/unit": wine takes the Linux path as
# a path on drive Z:, the root of the Linux tree.
sim="$out/norvane-sim"
printf '#!/bin/sh\nexec wine "%s" "$@"\n' "$exe" >"$sim"
chmod +x "$sim"

export NORVANE_SIM_WIDGET_PLACES=$out/places
# wine's first window in a new X session takes a while: 60 s, not 20.
sim_start_under_wine() {
  sim_pid=
  XVFB_PID=
  trap sim_cleanup EXIT
  x11_start_xvfb "$out/xvfb.log" -screen 0 1280x1024x24 -nolisten tcp -noreset || fail "Xvfb did not start"
  "$sim" --workdir "$out/unit" >"$out/sim.log" 2>&1 &
  sim_pid=$!
  wid=$(x11_wait_window 60 --name '^PC Simulator$') || fail "no window appeared: $(cat "$out/sim.log")"
}
sim_start_under_wine
wait_until 20 widget_place frontView || fail "the window did not say where its widgets are"
view_left=$place_x
menu_height=$place_y
[ -d "$out/unit/rootfs" ] || fail "the unit's folders were not created"

wait_until 30 first_page_shown || fail "the unit did not leave its start-up picture"
wait_until 5 first_row_off || fail "INSIDE LIGHTS is not off at start"
# The middle button (client 205, 372), pressed for 200 ms.
xdotool mousemove --window "$wid" $((view_left + 205)) $((menu_height + 372))
xdotool mousedown 1
sleep 0.2
xdotool mouseup 1
wait_until 10 first_row_on || fail "the middle button did not switch INSIDE LIGHTS on"

bmp="$out/after.bmp"
x11_wait_focus 10 "$wid" || fail "the window did not take the keyboard"
xdotool key alt+f
sleep 0.5
xdotool key s
dialog=$(x11_wait_window 20 --name '^Save Screen$') || fail "no Save Screen dialog"
x11_wait_focus 10 "$dialog" || fail "the Save Screen dialog did not take the keyboard"
# The name as Windows sees it: Z: is the root of the Linux tree.
xdotool type --delay 20 "Z:${bmp//\//\\}"
xdotool key Return
x11_wait_window_gone 20 "$dialog" || fail "the Save Screen dialog stayed open"
wait_for_file 20 "$bmp" 307254 || fail "Save Screen wrote no complete $bmp"
[ "$(head -c 2 "$bmp")" = BM ] || fail "the saved screen does not start with BM"
import -window "$wid" "$out/window.png"

x11_wait_focus 10 "$wid" || fail "the window did not take the keyboard"
xdotool key Escape
wait_for_exit 30 "$sim_pid" || fail "Escape did not close the window"
wait "$sim_pid" || fail "norvane-sim.exe ended with status $?"
sim_pid=

# "    NAME    REG_BINARY    HEX" for each value; HEX is two digits a byte.
wine reg query "$key" >"$out/registry.txt" 2>&1 || fail "no settings key: $(cat "$out/registry.txt")"
for entry in MainWindowTopLeft:8 ZoomFactor:4 GridEnabled:4 GridWidth:4 COMPort:1 COMPortConnected:4; do
  name=${entry%:*}
  size=${entry#*:}
  line=$(tr -d '\r' <"$out/registry.txt" | awk -v n="$name" '$1 == n') || true
  [ -n "$line" ] || fail "no value $name: $(cat "$out/registry.txt")"
  read -r _ type hex <<<"$line"
  [ "$type" = REG_BINARY ] || fail "$name is $type, not REG_BINARY"
  [ "${#hex}" -eq $((2 * size)) ] || fail "$name holds $((${#hex} / 2)) bytes, not $size"
done
echo "PASS (window picture: $out/window.png)"

# How the Xvfb tests start norvane-sim and what they read off its window.
# Source after x11_wait.sh; the caller sets sim (the program), out (its
# folder) and fail; sim_start sets sim_pid and wid (the main window), the
# caller sets menu_height (the rows above the client).

# Starts a private Xvfb screen of SIZE (WxHxDEPTH) and norvane-sim on it with
# ARGS, the unit's folder in $out/unit, its settings in $out/config and its
# output in $out/sim.log; waits for the main window. Both end with the script.
# sim_start SIZE [ARGS...]
sim_start() {
  local size=$1
  shift
  sim_pid=
  XVFB_PID=
  trap sim_cleanup EXIT
  # -noreset: the server would otherwise reset (and refuse connections for a
  # moment) each time its last client leaves, e.g. after the readiness probe.
  x11_start_xvfb "$out/xvfb.log" -screen 0 "$size" -nolisten tcp -noreset || fail "Xvfb did not start"
  export XDG_CONFIG_HOME=$out/config
  "$sim" --workdir "$out/unit" "$@" >"$out/sim.log" 2>&1 &
  sim_pid=$!
  wid=$(x11_wait_window 20 --name '^PC Simulator$') || fail "no window appeared"
}
sim_cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
  [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null || true
}

# A menu of the program is open: it shows a window besides its main one.
menu_open() {
  local ids
  ids=$(x11_search --onlyvisible --pid "$sim_pid") || return 1
  grep -qvx "$wid" <<<"$ids"
}

# Whether a rectangle of the unit's screen, as the window shows it at zoom 1
# (the screen at client 43, 60; the client at view_left, menu_height in the
# window, view_left 0 when unset), meets an ImageMagick fx condition on its
# mean colour: screen_area_is WIDTH HEIGHT X Y CONDITION
screen_area_is() {
  local answer
  answer=$(import -window "$wid" -crop "${1}x${2}+$((${view_left:-0} + 43 + $3))+$((60 + menu_height + $4))" +repage \
    -format "%[fx:$5]" info: 2>/dev/null) || return 1
  [ "$answer" = 1 ]
}

# The first page, LIGHTING & SOUND, is up: a yellow title on black, not the
# start-up logo on white (two seconds, buttons do nothing) nor a black screen.
first_page_shown() { screen_area_is 240 20 40 4 'mean.r > 0.1 && mean.b < mean.r / 2'; }
# The badge of the first row, INSIDE LIGHTS: green when on, red when off.
first_row_on() { screen_area_is 26 12 12 35 'mean.g > 0.3 && mean.g > 2 * mean.r'; }
first_row_off() { screen_area_is 26 12 12 35 'mean.r > 0.3 && mean.r > 2 * mean.g'; }

# With NORVANE_SIM_WIDGET_PLACES=$out/places in the environment of sim_start,
# the window writes where its named widgets are (host/qt/widget_places.h).
# widget_place NAME sets place_x, place_y, place_w and place_h (in the
# window); 1 while NAME is not shown whole.
widget_place() {
  local line
  line=$(grep -m1 "^$1 " "$out/places" 2>/dev/null) || return 1
  read -r _ place_x place_y place_w place_h <<<"$line"
}

# Whether the middle of a named widget meets an ImageMagick fx condition on
# its mean colour: widget_area_is NAME CONDITION
widget_area_is() {
  local answer
  widget_place "$1" || return 1
  answer=$(import -window "$wid" -crop "$((place_w / 2))x$((place_h / 2))+$((place_x + place_w / 4))+$((place_y + place_h / 4))" \
    +repage -format "%[fx:$2]" info: 2>/dev/null) || return 1
  [ "$answer" = 1 ]
}

# Clicks the middle of a named widget.
click_widget() {
  widget_place "$1" || return 1
  xdotool mousemove --window "$wid" $((place_x + place_w / 2)) $((place_y + place_h / 2)) click 1
}

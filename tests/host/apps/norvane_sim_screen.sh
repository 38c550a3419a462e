# What the Xvfb tests read off the norvane-sim window. Source after
# x11_wait.sh; the caller sets wid (the main window), sim_pid and menu_height
# (the rows above the client).

# A menu of the program is open: it shows a window besides its main one.
menu_open() {
  local ids
  ids=$(x11_search --onlyvisible --pid "$sim_pid") || return 1
  grep -qvx "$wid" <<<"$ids"
}

# Whether a rectangle of the unit's screen, as the window shows it at zoom 1
# (the screen at client 43, 60), meets an ImageMagick fx condition on its
# mean colour: screen_area_is WIDTH HEIGHT X Y CONDITION
screen_area_is() {
  local answer
  answer=$(import -window "$wid" -crop "${1}x${2}+$((43 + $3))+$((60 + menu_height + $4))" +repage \
    -format "%[fx:$5]" info: 2>/dev/null) || return 1
  [ "$answer" = 1 ]
}

# The first page, LIGHTING & SOUND, is up: a yellow title on black, not the
# start-up logo on white (two seconds, buttons do nothing) nor a black screen.
first_page_shown() { screen_area_is 240 20 40 4 'mean.r > 0.1 && mean.b < mean.r / 2'; }
# The badge of the first row, INSIDE LIGHTS: green when on, red when off.
first_row_on() { screen_area_is 26 12 12 35 'mean.g > 0.3 && mean.g > 2 * mean.r'; }
first_row_off() { screen_area_is 26 12 12 35 'mean.r > 0.3 && mean.r > 2 * mean.g'; }

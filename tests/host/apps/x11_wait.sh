# Waits for tests that drive a program on a private Xvfb with xdotool.
# Source this file (bash). Every wait polls its real condition until a
# deadline and returns 1 when the deadline passes, so that the caller can say
# what was missing; none of them ends the script by itself.
#
# xdotool's own --sync waits are not used: a search walks every window and
# reads its properties, and when a window goes away during the walk (a menu
# or a completer popup closing) the X error ends xdotool with a failure that
# looks just like "not found". Here a search that ends in an X error counts as
# "not found yet" and is simply tried again.

# Seconds between two looks at a condition.
WAIT_POLL_SECONDS=${WAIT_POLL_SECONDS:-0.05}

# wait_until SECONDS COMMAND [ARG...]: runs COMMAND until it succeeds (its
# output passes through). 1 when SECONDS (whole seconds) pass first.
wait_until() {
  local now=${EPOCHREALTIME//[!0-9]/}
  local deadline=$((now + $1 * 1000000))
  shift
  until "$@"; do
    now=${EPOCHREALTIME//[!0-9]/}
    ((now < deadline)) || return 1
    sleep "$WAIT_POLL_SECONDS"
  done
}

# file_has_size FILE [BYTES]: FILE exists and holds exactly BYTES bytes, or,
# without BYTES, is not empty. A writer that truncates and then writes shows
# a short file for a moment, so give BYTES where the size is known.
file_has_size() {
  local size
  size=$(stat -c %s -- "$1" 2>/dev/null) || return 1
  if [ $# -gt 1 ]; then [ "$size" = "$2" ]; else [ "$size" != 0 ]; fi
}

# wait_for_file SECONDS FILE [BYTES]: until file_has_size FILE [BYTES].
wait_for_file() {
  local limit=$1
  shift
  wait_until "$limit" file_has_size "$@"
}

# process_gone PID: no such process, or only its zombie (a child of this
# shell that has not been waited for yet).
process_gone() {
  local stat
  stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 0
  [[ ${stat##*) } == Z* ]]
}

# wait_for_exit SECONDS PID
wait_for_exit() {
  wait_until "$1" process_gone "$2"
}

# x11_start_xvfb LOGFILE [XVFB-ARG...]: starts Xvfb on a display number the
# server picks itself (-displayfd), so tests started at the same moment never
# race for the same number, and waits until it takes connections. Exports
# DISPLAY and sets XVFB_PID (the caller kills it).
x11_start_xvfb() {
  local log=$1 dir number=
  shift
  dir=$(mktemp -d) || return 1
  mkfifo "$dir/displayfd" || { rm -rf "$dir"; return 1; }
  Xvfb -displayfd 3 "$@" 3>"$dir/displayfd" >"$log" 2>&1 &
  XVFB_PID=$!
  # The server writes the number once it listens; end of file if it died.
  read -r -t 20 number <"$dir/displayfd" || true
  rm -rf "$dir"
  [[ $number =~ ^[0-9]+$ ]] || return 1
  export DISPLAY=:$number
  wait_until 10 x11_server_answers
}

# x11_server_answers: the server on DISPLAY answers a query.
x11_server_answers() {
  xdpyinfo >/dev/null 2>&1
}

# x11_search [XDOTOOL-SEARCH-ARG...]: one search. Prints the window ids and
# succeeds only when the search ran to its end and found at least one.
x11_search() {
  local ids
  ids=$(xdotool search "$@" 2>/dev/null) || return 1
  [ -n "$ids" ] || return 1
  printf '%s\n' "$ids"
}

# x11_wait_window SECONDS [XDOTOOL-SEARCH-ARG...]: waits until a window that
# matches is mapped and viewable, and prints the first one's id.
x11_wait_window() {
  local limit=$1 ids
  shift
  ids=$(wait_until "$limit" x11_search --onlyvisible "$@") || return 1
  printf '%s\n' "${ids%%$'\n'*}"
}

# x11_window_shown WID: the window exists and is viewable.
x11_window_shown() {
  local info
  info=$(xwininfo -id "$1" 2>/dev/null) || return 1
  [[ $info == *"Map State: IsViewable"* ]]
}

# x11_window_gone WID: the window was destroyed or unmapped.
x11_window_gone() {
  ! x11_window_shown "$1"
}

# x11_wait_window_gone SECONDS WID
x11_wait_window_gone() {
  wait_until "$1" x11_window_gone "$2"
}

# x11_has_focus WID: the server gives WID the keyboard.
x11_has_focus() {
  [ "$(xdotool getwindowfocus -f 2>/dev/null)" = "$1" ]
}

# x11_take_focus WID: asks for the keyboard for WID (may fail while the
# window is still being mapped) and says whether WID has it.
x11_take_focus() {
  x11_has_focus "$1" && return 0
  xdotool windowfocus "$1" >/dev/null 2>&1
  x11_has_focus "$1"
}

# x11_wait_focus SECONDS WID: gives WID the keyboard focus and waits until
# the server reports it there. Keys sent after that reach WID: the program
# sees the focus change before them, in the order the server sends events.
x11_wait_focus() {
  wait_until "$1" x11_take_focus "$2"
}

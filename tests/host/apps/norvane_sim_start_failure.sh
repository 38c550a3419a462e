#!/usr/bin/env bash
# A start-up failure is shown to whoever started the window from a desktop,
# not only on a terminal nobody reads: a bad installation file and a busy
# bus-server port each bring up a dialog with the reason, and the program
# ends with status 2 and the same one line on standard error once it is
# closed. Every step waits for what it needs, never for a fixed time.
# usage: norvane_sim_start_failure.sh NORVANE_SIM OUTDIR
set -euo pipefail
sim=$1
out=$2
rm -rf "$out"
mkdir -p "$out"

fail() { echo "FAIL: $*" >&2; exit 1; }
. "$(dirname "${BASH_SOURCE[0]}")/x11_wait.sh"

XVFB_PID=
pid=
holder=
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
  [ -n "$holder" ] && kill "$holder" 2>/dev/null || true
  [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null || true
}
trap cleanup EXIT
x11_start_xvfb "$out/xvfb.log" -screen 0 1366x768x24 -nolisten tcp -noreset || fail "Xvfb did not start"
export XDG_CONFIG_HOME=$out/config

# A port held by another listener, for the busy bus-server case.
python3 -c 'import socket,sys,time
s=socket.socket(); s.bind(("127.0.0.1",0)); s.listen(1)
print(s.getsockname()[1], flush=True); time.sleep(120)' >"$out/port" &
holder=$!
wait_until 10 test -s "$out/port" || fail "no port held"
busy=$(cat "$out/port")
printf '{"modules": 1e400}\n' >"$out/bad.json"

check_case() {  # NAME EXPECTED-TEXT ARGS...
  local name=$1 expected=$2 dialog status
  shift 2
  "$sim" --workdir "$out/unit" "$@" >"$out/$name.log" 2>&1 &
  pid=$!
  dialog=$(x11_wait_window 20 --name '^PC Simulator: cannot start$') || fail "$name: no dialog appeared"
  # The dialog holds the program until it is read.
  process_gone "$pid" && fail "$name: the program ended under its dialog"
  xdotool windowactivate --sync "$dialog" >/dev/null 2>&1 || true
  x11_wait_focus 5 "$dialog" || fail "$name: the dialog did not take the keyboard"
  xdotool key Return
  wait_for_exit 10 "$pid" || fail "$name: the program did not end after its dialog"
  set +e
  wait "$pid"
  status=$?
  set -e
  pid=
  [ "$status" -eq 2 ] || fail "$name: exit status $status, not 2"
  grep -q -- "$expected" "$out/$name.log" || fail "$name: standard error does not say '$expected': $(cat "$out/$name.log")"
}

check_case bad_installation "bad.json" --installation "$out/bad.json"
check_case busy_port "127.0.0.1:$busy" --installation --bus-server "127.0.0.1:$busy"
echo PASS

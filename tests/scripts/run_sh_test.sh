#!/usr/bin/env bash
# What scripts/run.sh starts for the arguments a user gives it: the window
# gets the default installation unless port 0 goes elsewhere or the user
# chose the installation; --bus-server keeps it (the served bus then has the
# modules on it). Without a display it runs the unit headless.
set -euo pipefail
run_sh="$(dirname "${BASH_SOURCE[0]}")/../../scripts/run.sh"
status=0
check() {  # DISPLAY EXPECTED-PATTERN ARGS...
  local display=$1 expected=$2 got
  shift 2
  got=$(env NORVANE_RUN_DRY_RUN=1 DISPLAY="$display" WAYLAND_DISPLAY= "$run_sh" "$@")
  if [[ "$got" != $expected ]]; then
    echo "FAIL: run.sh $*: '$got' does not match '$expected'" >&2
    status=1
  fi
}
check :0 '*norvane-sim --workdir work --installation'
check :0 '*norvane-sim --workdir work --installation --bus-server 29536' --bus-server 29536
check :0 '*norvane-sim --workdir work --can0 kvaser' --can0 kvaser
check :0 '*norvane-sim --workdir work --installation my.json' --installation my.json
check '' '*norvane-run --workdir work --duration 3000 *'
[ "$status" -eq 0 ] && echo PASS
exit "$status"

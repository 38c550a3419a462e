#!/usr/bin/env bash
# Fuzzes the parsers of outside input with libFuzzer.
#
#   scripts/fuzz.sh TARGET|all SECONDS [JOBS]
#
# Builds the "fuzz" preset (clang, libFuzzer, AddressSanitizer and clang's
# UndefinedBehaviorSanitizer, float-cast-overflow included) and runs each
# target for SECONDS, starting from its checked-in seed corpus
# (fuzz/corpus/TARGET). New inputs go to build/fuzz/corpus/TARGET, crashes to
# build/fuzz/crashes/TARGET; a crash input belongs in fuzz/corpus/TARGET once
# fixed, so the test run replays it. Prints executions and executions per
# second per target. Exit status 1 when a target crashed.
set -euo pipefail

targets=(candump trace scenario events text settings description)
usage() {
  echo "usage: scripts/fuzz.sh TARGET|all SECONDS" >&2
  echo "targets: ${targets[*]}" >&2
  exit 2
}
if [ "${1:-}" = "--help" ] || [ "${1:-}" = "-h" ]; then
  sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//'
  exit 0
fi
[ $# -eq 2 ] || usage
[[ "$2" =~ ^[0-9]+$ ]] && [ "$2" -gt 0 ] || usage
if [ "$1" = all ]; then
  run=("${targets[@]}")
else
  [[ " ${targets[*]} " == *" $1 "* ]] || usage
  run=("$1")
fi
seconds=$2

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
# The build runs tools compiled with the sanitizers; leaks there are no concern.
export ASAN_OPTIONS=detect_leaks=0
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target "${run[@]/#/fuzz_}"
unset ASAN_OPTIONS

# The targets write small files for every input: tmpfs is much faster.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi
# Inputs longer than this teach a target nothing more.
max_len() {
  case $1 in
    settings) echo 1024 ;;
    trace | description) echo 8192 ;;
    *) echo 4096 ;;
  esac
}

status=0
summary=()
for t in "${run[@]}"; do
  work=build/fuzz/corpus/$t
  crashes=build/fuzz/crashes/$t
  mkdir -p "$work" "$crashes"
  log=build/fuzz/$t.log
  echo "fuzz: $t for ${seconds}s (log $log)"
  set +e
  "build/fuzz/fuzz/fuzz_$t" "$work" "fuzz/corpus/$t" -max_total_time="$seconds" \
    -print_final_stats=1 -artifact_prefix="$crashes/" -rss_limit_mb=2048 -max_len="$(max_len "$t")" >"$log" 2>&1
  rc=$?
  set -e
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  result=ok
  # libFuzzer ends with 72 when interrupted (Ctrl+C): no input failed then.
  if [ $rc -eq 72 ] && grep -q 'run interrupted' "$log"; then
    result="interrupted"
  elif [ $rc -ne 0 ]; then
    result="CRASHED (exit $rc; input in $crashes)"
    status=1
  fi
  summary+=("$(printf '%-9s %12s executions %8s exec/s  %s' "$t" "${execs:-?}" "${rate:-?}" "$result")")
done
printf '%s\n' "${summary[@]}"
exit $status

#!/usr/bin/env bash
# Runs every scenario file under tests/ and a 60 s default run with the Linux
# norvane-run and with norvane-run.exe under wine, and checks that the two
# leave the same bytes: the screens (BMP screenshots through each run), the
# CAN log, the outputs table (with the installation) and every file of the
# unit's working folder (the settings image, the unit's file system).
# Usage: scripts/windows/compare.sh LINUX_NORVANE_RUN WINDOWS_NORVANE_RUN_EXE [OUT_DIR]
set -euo pipefail
here="$(cd "$(dirname "$0")/../.." && pwd)"
if [ $# -lt 2 ]; then
  sed -n '2,7p' "$0" | sed 's/^# \{0,1\}//'
  exit 2
fi
linux_run="$(realpath "$1")"
windows_run="$(realpath "$2")"
out="$(realpath -m "${3:-$here/build/windows-compare}")"
export WINEDEBUG="${WINEDEBUG:--all}"
rm -rf "$out"
mkdir -p "$out"

# NAME SCENARIO INSTALLATION(0/1) END_MS: both runs, then the comparison.
compare_one() {
  local name="$1" scenario="$2" installation="$3" end_ms="$4"
  local args=(--duration 60000 --quiet)
  [ -n "$scenario" ] && args+=(--scenario "$scenario")
  ((installation)) && args+=(--installation)
  local shots=()
  for part in 1 2 3 4; do
    shots+=($((end_ms * part / 4)))
  done
  for side in linux windows; do
    local dir="$out/$name/$side"
    mkdir -p "$dir/unit"
    local run_args=("${args[@]}" --workdir unit --can-log can.log)
    ((installation)) && run_args+=(--outputs outputs.txt)
    for ms in "${shots[@]}"; do run_args+=(--screenshot "$ms:screen_$ms.bmp"); done
    if [ "$side" = linux ]; then
      (cd "$dir" && "$linux_run" "${run_args[@]}" >stdout.txt 2>stderr.txt) || echo $? >"$dir/status"
    else
      (cd "$dir" && wine "$windows_run" "${run_args[@]}" >stdout.txt 2>stderr.txt) || echo $? >"$dir/status"
    fi
  done
  local a="$out/$name/linux" b="$out/$name/windows" bad=0 files=0
  while IFS= read -r -d '' f; do
    local rel="${f#"$a"/}"
    case "$rel" in stderr.txt) continue ;; esac
    files=$((files + 1))
    if ! cmp -s "$f" "$b/$rel"; then
      echo "  differs: $rel"
      bad=1
    fi
  done < <(find "$a" -type f -print0)
  # Files only the Windows run wrote.
  while IFS= read -r -d '' f; do
    local rel="${f#"$b"/}"
    [ -e "$a/$rel" ] || { echo "  only on Windows: $rel"; bad=1; }
  done < <(find "$b" -type f -print0)
  if ((bad)); then
    echo "DIFFERENT $name ($files files)"
    return 1
  fi
  echo "same      $name ($files files: screens at ${shots[*]} ms, CAN log, working folder)"
}

status=0
cd "$here"
while IFS= read -r file; do
  rel="${file#tests/}"
  name="${rel%.txt}"
  name="${name//\//_}"
  installation=0
  case "$rel" in host/installation/*) installation=1 ;; esac
  end_ms="$(awk '$2 == "exit" {print $1; exit}' "$file")"
  end_ms="${end_ms:-60000}"
  compare_one "$name" "$here/$file" "$installation" "$end_ms" || status=1
done < <(find tests -path '*/scenarios/*.txt' | sort)
compare_one default_60s "" 0 60000 || status=1
compare_one installation_60s "" 1 60000 || status=1
exit $status

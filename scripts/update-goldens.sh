#!/usr/bin/env bash
# Regenerates every golden PNG reference under tests/: builds the release
# configuration, lets norvane-run write the reference of every 'expect screen'
# line of the scenario files (tests/**/scenarios/), then runs the test suite
# with NORVANE_UPDATE_GOLDENS=1, which makes each golden comparison of the
# test programs write its reference instead of comparing.
# Extra arguments go to ctest (for example -R Panel to redo only some).
# Look at the changed pictures (git status, an image viewer) before committing.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset release >/dev/null
cmake --build --preset release -j2
status=0
units=$(mktemp -d)
trap 'rm -rf "$units"' EXIT
while IFS= read -r dir; do
  build/release/host/apps/norvane-run --quiet --update-references --duration 60000 \
    --scenario "$dir" --workdir "$units/${dir//\//_}" || status=$?
done < <(find tests -type d -name scenarios | sort)
NORVANE_UPDATE_GOLDENS=1 ctest --preset release "$@" || status=$?
git status --short -- tests | grep '\.png$' || echo "update-goldens: no reference changed"
if ((status)); then
  echo "update-goldens: some tests failed (see above); their references may be missing" >&2
fi
exit $status

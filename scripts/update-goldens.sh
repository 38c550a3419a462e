#!/usr/bin/env bash
# Regenerates every golden PNG reference under tests/: builds the release
# configuration and runs the test suite with NORVANE_UPDATE_GOLDENS=1, which
# makes each golden comparison write its reference instead of comparing.
# Extra arguments go to ctest (for example -R Panel to redo only some).
# Look at the changed pictures (git status, an image viewer) before committing.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset release >/dev/null
cmake --build --preset release -j2
status=0
NORVANE_UPDATE_GOLDENS=1 ctest --preset release "$@" || status=$?
find tests -name '*_err.png' -delete
git status --short -- tests | grep '\.png$' || echo "update-goldens: no reference changed"
if ((status)); then
  echo "update-goldens: some tests failed (see above); their references may be missing" >&2
fi
exit $status

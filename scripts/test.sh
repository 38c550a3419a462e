#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite in the release and the
# sanitizer configurations (AddressSanitizer + UndefinedBehaviorSanitizer,
# and ThreadSanitizer for the threaded parts), then the Windows stage when
# the cross tools are there (scripts/windows.sh --test-stage).
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
# ThreadSanitizer for the test programs labelled "threads" (tests/CMakeLists.txt):
# the model's shared signals, the CAN injection thread, the real-time runner,
# the host keys, the serial link, the window's runner and paint, and the bus
# server with the socketcand back end, the installation's plant. Only their
# programs are built, through the one target that depends on every program
# with the label; a label that selects no test is an error.
echo "=== tsan: configure and build the threaded parts' tests"
cmake --preset tsan >/dev/null
cmake --build --preset tsan --target norvane_threads_tests
echo "=== tsan: test"
if ! ctest --preset tsan -L threads --no-tests=error; then
  status=1
fi
# The Windows programs under wine, where mingw-w64 and wine are installed
# (scripts/windows.sh installs them); one line says so when they are not.
if ! scripts/windows.sh --test-stage; then
  status=1
fi
exit $status

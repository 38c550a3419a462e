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
# ThreadSanitizer for the parts that run threads of their own: the real-time
# runner (window and headless), the serial link and the model's shared signals.
# Only their test programs are built.
echo "=== tsan: configure and build the threaded parts' tests"
cmake --preset tsan >/dev/null
cmake --build --preset tsan --target test_host_core test_firmware_model
echo "=== tsan: test"
if ! ctest --preset tsan -R '^(FirmwareRunner|HostKeys|SerialLink|RealtimeRun|ModelStep.TickAndMainLoopShareTheSignalsOnTwoThreads)'; then
  status=1
fi
exit $status

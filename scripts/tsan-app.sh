#!/bin/sh
# Runs the Printer Application's jobs on several threads at once under
# ThreadSanitizer: builds build-tsan/ with -DTALVERO_TSAN=ON, then runs the
# job bridge's two-jobs-on-two-threads test and the live test of two printers
# printing at once (tests/app/live, PrinterApp.test_two_models_at_once: the
# real talvero-printer-app, PAPPL server and virtual printers). Any report of
# ThreadSanitizer, in a test or in the server, fails the run; the reports are
# kept in build-tsan/tsan-reports/. tests/app/live/tsan.supp lists what it
# leaves out (PAPPL's own lock order and shutdown, a gap of gcc 12's TSan). Run as root (the live tests start their
# own servers, as tests/app/live does; the server runs as nobody).
#   scripts/tsan-app.sh
set -eu
cd "$(dirname "$0")/.."
build=${TSAN_BUILD:-build-tsan}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTALVERO_TSAN=ON >/dev/null
cmake --build "$build" -j"$(nproc 2>/dev/null || echo 2)" --target talvero-printer-app talvero-virtual-printer \
  talvero-preview rastertoTalvero rastertoTalveroPlanes make_raster bridge_test talvero_ppds >/dev/null

# The server runs as nobody, who may not reach the build tree: reports are
# written to a folder of their own, then kept in the build tree.
reports=$(mktemp -d /tmp/talvero-tsan.XXXXXX)
chmod 1777 "$reports"
trap 'rm -rf "$PWD/$build/tsan-reports"; mv "$reports" "$PWD/$build/tsan-reports"' EXIT
export TSAN_OPTIONS="log_path=$reports/report second_deadlock_stack=1 suppressions=$PWD/tests/app/live/tsan.supp"
status=0
"$build/tests/app/bridge_test" --gtest_filter='BridgeTest.*' || status=1
live="$PWD/$build/tests/app/live"
python3 tests/app/live/app_test.py --app "$PWD/$build/app/talvero-printer-app" --artefacts "$live/artefacts" \
  --build-dir "$PWD/$build" --source-dir "$PWD" --keep-dir "$live/failed" PrinterApp.test_two_models_at_once ||
  status=1
if [ -n "$(ls "$reports")" ]; then
  echo "ThreadSanitizer reports (kept in $build/tsan-reports):"
  ls "$reports"
  head -n 40 "$reports"/*
  status=1
fi
[ "$status" = 0 ] && echo "tsan-app: no ThreadSanitizer report"
exit "$status"

#!/bin/bash
# The test entry: set up, configure, build, run every test under Wine, print CTest's summary.
#   scripts/run-tests.sh [ctest arguments...]     e.g. -L unit, -R Blowfish
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="$ROOT/build"
JOBS="${JOBS:-$(nproc)}"

"$ROOT/scripts/setup.sh" "$BUILD"
"$ROOT/scripts/build.sh"

trap '"$ROOT/scripts/stop-wine.sh"' EXIT
"$ROOT/scripts/stop-wine.sh"
# One virtual X display for the whole run: GUI tests need it, the others do not mind.
xvfb-run -a -s "-screen 0 1280x1024x24" \
  ctest --test-dir "$BUILD" --output-on-failure --timeout 300 -j "$JOBS" "$@"

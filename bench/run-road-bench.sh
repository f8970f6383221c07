#!/bin/bash
# The whole-road benchmarks in every flavour this machine can run (the i686 product first).
#   bench/run-road-bench.sh [--size-mib 256] [--runs 3] [--form release|test]
# The release form runs by default: it is built here as scripts/release.sh builds it.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$ROOT/scripts/flavours.sh"
FLAVOURS="${FLAVOURS:-$(palisk_runnable_flavours)}"
"$ROOT/scripts/setup.sh" $FLAVOURS >/dev/null
"$ROOT/scripts/build.sh" $FLAVOURS >/dev/null
"$ROOT/scripts/release.sh" $FLAVOURS >/dev/null
trap '"$ROOT/scripts/stop-wine.sh"' EXIT
for flavour in $FLAVOURS; do
  "$ROOT/scripts/stop-wine.sh"
  PALISK_FLAVOUR="$flavour" PALISK_BUILD="$ROOT/build/$flavour" python3 "$ROOT/bench/run-road-bench.py" "$@"
done
palisk_runs_32bit || echo "i686: not measured (this machine runs 64-bit user code only)"

#!/bin/bash
# The test entry: set up, build both flavours, run every test of each flavour this machine
# can run under Wine, print CTest's summaries and what ran.
#   FLAVOURS="i686 x64" scripts/run-tests.sh [ctest arguments...]     e.g. -L unit, -R Blowfish
# FLAVOURS names the flavours whose tests run (default: every flavour this machine can run).
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$ROOT/scripts/flavours.sh"
JOBS="${JOBS:-$(nproc)}"

RUNNABLE="$(palisk_runnable_flavours)"
FLAVOURS="${FLAVOURS:-$RUNNABLE}"
for flavour in $FLAVOURS; do
  palisk_check_flavour "$flavour"
  if [ "$flavour" = i686 ] && ! palisk_kernel_runs_32bit; then
    echo "[test] FLAVOURS names i686, but $(palisk_why_no_32bit)" >&2
    exit 2
  fi
done
NOT_RUN=""
for flavour in $PALISK_ALL_FLAVOURS; do
  case " $FLAVOURS " in *" $flavour "*) ;; *) NOT_RUN="$NOT_RUN $flavour" ;; esac
done
NOT_RUN="${NOT_RUN# }"

"$ROOT/scripts/setup.sh" $FLAVOURS
# Both flavours are always built, so that the code stays correct for both pointer sizes.
"$ROOT/scripts/build.sh" $PALISK_ALL_FLAVOURS

why_not_run() {
  if [ "$1" = i686 ] && ! palisk_runs_32bit; then
    palisk_why_no_32bit
  else
    echo "not named in FLAVOURS"
  fi
}

trap '"$ROOT/scripts/stop-wine.sh"' EXIT
"$ROOT/scripts/stop-wine.sh"
declare -A RESULT
status=0
for flavour in $FLAVOURS; do
  echo "[test] ===== $flavour tests (build/$flavour) ====="
  # One virtual X display per flavour: GUI tests need it, the others do not mind.
  if xvfb-run -a -s "-screen 0 1280x1024x24" \
      ctest --test-dir "$ROOT/build/$flavour" --output-on-failure --timeout 300 -j "$JOBS" "$@"; then
    RESULT[$flavour]="passed"
  else
    RESULT[$flavour]="FAILED"
    status=1
  fi
  # The robustness suite's seeds and case counts (CTest keeps passing tests' output in its log).
  grep -a '^\[robustness\]' "$ROOT/build/$flavour/Testing/Temporary/LastTest.log" 2>/dev/null |
    sed "s/^/[test] $flavour /" || true
  "$ROOT/scripts/stop-wine.sh" "$flavour"
done

echo "[test] ===== summary ====="
for flavour in $FLAVOURS; do echo "[test] $flavour: built, tests run: ${RESULT[$flavour]}"; done
for flavour in $NOT_RUN; do
  echo "[test] $flavour: built, tests NOT run: $(why_not_run "$flavour")"
done
exit $status

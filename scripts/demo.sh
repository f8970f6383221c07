#!/bin/bash
# The demo's run: the i686 product where this machine runs 32-bit code, else the x64 build
# of the same sources; a warm Wine, the demo itself, and Wine stopped afterwards.
set -uo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$ROOT/scripts/flavours.sh"
export PALISK_FLAVOUR="${PALISK_FLAVOUR:-$(palisk_default_flavour)}"
export PALISK_BUILD="$ROOT/build/$PALISK_FLAVOUR"
"$ROOT/scripts/setup.sh" "$PALISK_FLAVOUR" || exit $?
"$ROOT/scripts/build.sh" "$PALISK_FLAVOUR" || exit $?
if [ "$PALISK_FLAVOUR" = i686 ]; then
  echo "[demo] running the i686 product (build/i686/dist)"
elif palisk_runs_32bit; then
  echo "[demo] running the x64 build (build/x64/dist), as PALISK_FLAVOUR asks"
else
  echo "[demo] this machine runs 64-bit user code only: running the x64 build of the same sources (build/x64/dist)"
fi
"$ROOT/scripts/stop-wine.sh"
# A virtual display of its own: the visible runs draw their windows there and the user
# double photographs them.
xvfb-run -a -s "-screen 0 1280x1024x24" python3 "$ROOT/scripts/demo.py"
status=$?
"$ROOT/scripts/stop-wine.sh"
exit $status

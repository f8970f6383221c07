#!/bin/bash
# Stops the persistent wineserver of the test prefixes (and every program still running in them).
#   scripts/stop-wine.sh [flavour...]     (default: every flavour)
HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$HERE/flavours.sh"
for flavour in ${*:-$PALISK_ALL_FLAVOURS}; do
  (
    PALISK_FLAVOUR="$flavour"
    source "$HERE/wine-env.sh"
    [ -d "$WINEPREFIX" ] || exit 0
    "$WINESERVER" -k >/dev/null 2>&1
    "$WINESERVER" -w >/dev/null 2>&1
    rm -f "$WINEPREFIX/.wineserver.state"
  )
done
exit 0

#!/bin/bash
# Stops the persistent wineserver of the test prefix (and every program still running in it).
HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$HERE/wine-env.sh"
[ -d "$WINEPREFIX" ] || exit 0
wineserver -k >/dev/null 2>&1
wineserver -w >/dev/null 2>&1
rm -f "$WINEPREFIX/.wineserver.state"
exit 0

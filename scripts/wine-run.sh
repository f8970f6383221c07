#!/bin/bash
# Runs a Windows program in a flavour's test prefix: CTest's emulator and the tests' launcher.
# A persistent wineserver (and Wine's services) is started once, detached from our output:
# a wineserver started by a process under CTest inherits CTest's pipe and can hang the run.
# Wine's desktop binds to the X display present when the server started, so a server started
# for another display is replaced.
#   scripts/wine-run.sh [--flavour=i686|x64] program.exe [args...]
# Without --flavour, PALISK_FLAVOUR or this machine's default flavour is used.
set -uo pipefail
HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
case "${1:-}" in
  --flavour=*) export PALISK_FLAVOUR="${1#--flavour=}"; shift ;;
esac
source "$HERE/wine-env.sh"
if [ ! -f "$WINEPREFIX/.palisk-ready" ]; then
  echo "wine-run: no $PALISK_FLAVOUR test prefix at $WINEPREFIX (run scripts/setup.sh)" >&2
  exit 125
fi

warm_server() {
  local state="$WINEPREFIX/.wineserver.state" pid display
  if [ -f "$state" ]; then
    read -r pid display <"$state" || true
    if kill -0 "$pid" 2>/dev/null; then
      [ "$display" = "${DISPLAY:-none}" ] && return 0
      "$WINESERVER" -k >/dev/null 2>&1
      "$WINESERVER" -w >/dev/null 2>&1
    fi
  fi
  setsid "$WINESERVER" -p -f </dev/null >/dev/null 2>&1 &
  echo "$! ${DISPLAY:-none}" >"$state"
  # The first program of a session starts services.exe, explorer and the rest.
  setsid "$WINE" cmd /c exit </dev/null >/dev/null 2>&1
}
export -f warm_server
export WINE WINESERVER
flock -o "$WINEPREFIX/.wineserver.lock" bash -c warm_server

exec "$WINE" "$@"

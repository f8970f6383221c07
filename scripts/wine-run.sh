#!/bin/bash
# Runs a Windows program under the test prefix: CTest's emulator and the tests' launcher.
# A persistent wineserver (and Wine's services) is started once, detached from our output:
# a wineserver started by a process under CTest inherits CTest's pipe and can hang the run.
# Wine's desktop binds to the X display present when the server started, so a server started
# for another display is replaced.
#   scripts/wine-run.sh program.exe [args...]
set -uo pipefail
HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$HERE/wine-env.sh"

warm_server() {
  local state="$WINEPREFIX/.wineserver.state" pid display
  if [ -f "$state" ]; then
    read -r pid display <"$state" || true
    if kill -0 "$pid" 2>/dev/null; then
      [ "$display" = "${DISPLAY:-none}" ] && return 0
      wineserver -k >/dev/null 2>&1
      wineserver -w >/dev/null 2>&1
    fi
  fi
  setsid wineserver -p -f </dev/null >/dev/null 2>&1 &
  echo "$! ${DISPLAY:-none}" >"$state"
  # The first program of a session starts services.exe, explorer and the rest.
  setsid wine cmd /c exit </dev/null >/dev/null 2>&1
}
export -f warm_server
flock -o "$WINEPREFIX/.wineserver.lock" bash -c warm_server

exec wine "$@"

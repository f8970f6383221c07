#!/bin/bash
# Creates a flavour's quiet test Wine prefix once: no window manager decorations, no crash dialogs.
#   scripts/wineprefix.sh <flavour>
set -euo pipefail
HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
export PALISK_FLAVOUR="$1"
source "$HERE/wine-env.sh"

if [ -f "$WINEPREFIX/.palisk-ready" ]; then exit 0; fi
echo "[setup] creating the $PALISK_FLAVOUR Wine prefix $WINEPREFIX"
mkdir -p "$WINEPREFIX"
# No X display while booting: the prefix needs none, and a stray DISPLAY would bind the desktop.
# Booted by wine64 alone, wineboot says syswow64\rundll32.exe cannot be opened: harmless.
env -u DISPLAY "$WINE" wineboot -i >/dev/null 2>&1
"$WINESERVER" -w
reg() { env -u DISPLAY "$WINE" reg "$@" >/dev/null 2>&1; }
# Without a window manager every window close costs seconds unless Wine manages nothing.
reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f
reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f
# A crashing program must simply end, as on a Windows machine without a debugger: no winedbg
# dialog or register dump. A debugger that cannot start does exactly that (both views).
for key in 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' \
           'HKLM\Software\Wow6432Node\Microsoft\Windows NT\CurrentVersion\AeDebug'; do
  reg add "$key" /v Debugger /t REG_SZ /d 'C:\windows\system32\no-debugger.exe %ld %ld' /f
  reg add "$key" /v Auto /t REG_SZ /d 1 /f
done
reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f
"$WINESERVER" -w
touch "$WINEPREFIX/.palisk-ready"

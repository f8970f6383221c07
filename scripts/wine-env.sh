# Sourced by the scripts that run Wine: one quiet test prefix per flavour, inside its build tree.
#   PALISK_FLAVOUR  i686 or x64 (default: i686 where this machine runs 32-bit code, else x64)
# Sets WINE_BUILD_DIR (build/<flavour>), WINEPREFIX, WINE (the loader to call) and WINESERVER.
_wine_env_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$_wine_env_root/scripts/flavours.sh"
PALISK_FLAVOUR="${PALISK_FLAVOUR:-$(palisk_default_flavour)}"
palisk_check_flavour "$PALISK_FLAVOUR" || exit 2
export PALISK_FLAVOUR
WINE_BUILD_DIR="$_wine_env_root/build/$PALISK_FLAVOUR"
export WINEPREFIX="$WINE_BUILD_DIR/wineprefix"
export WINEARCH=win64
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko installers, no crash dialogs.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
if [ "$PALISK_FLAVOUR" = x64 ]; then
  # The `wine` launcher picks the 32-bit loader whenever it is installed, even where it cannot
  # start: 64-bit programs are started by wine64 itself.
  WINE=/usr/lib/wine/wine64
  export WINELOADER="$WINE"
else
  # The launcher's 32-bit loader hands 64-bit programs (reg, wineboot) on to wine64.
  WINE=/usr/bin/wine
fi
WINESERVER=/usr/lib/wine/wineserver

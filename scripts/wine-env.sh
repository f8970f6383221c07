# Sourced by the scripts that run Wine: one quiet test prefix below the build tree.
#   WINE_BUILD_DIR  build tree (default: <repo>/build)
_wine_env_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
WINE_BUILD_DIR="${WINE_BUILD_DIR:-$_wine_env_root/build}"
export WINEPREFIX="${WINEPREFIX:-$WINE_BUILD_DIR/wineprefix}"
export WINEARCH=win64
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko installers, no crash dialogs.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
unset DISPLAY_WINE_UNUSED

#!/bin/bash
# Configures (once) and builds each flavour's tree in build/<flavour>, assembling its dist/.
#   scripts/build.sh [flavour...]     (default: both, i686 and x64)
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$ROOT/scripts/flavours.sh"
JOBS="${JOBS:-$(nproc)}"

toolchain_of() {
  case "$1" in
    i686) echo "$ROOT/cmake/i686-w64-mingw32.cmake" ;;
    x64) echo "$ROOT/cmake/x86_64-w64-mingw32.cmake" ;;
  esac
}

# ccache (installed by set-up) makes rebuilds and fresh clones on the same machine cheap; paths
# below the tree are hashed relative to it, so clones in other folders share the cache.
LAUNCHER=()
if command -v ccache >/dev/null; then
  launcher="env;CCACHE_BASEDIR=$ROOT;CCACHE_NOHASHDIR=1;ccache"
  LAUNCHER=(-DCMAKE_C_COMPILER_LAUNCHER="$launcher" -DCMAKE_CXX_COMPILER_LAUNCHER="$launcher")
fi

for flavour in ${*:-$PALISK_ALL_FLAVOURS}; do
  palisk_check_flavour "$flavour"
  tree="$ROOT/build/$flavour"
  if [ ! -f "$tree/CMakeCache.txt" ]; then
    cmake -S "$ROOT" -B "$tree" -G "Unix Makefiles" \
      -DCMAKE_TOOLCHAIN_FILE="$(toolchain_of "$flavour")" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${LAUNCHER[@]}"
  fi
  echo "[build] $flavour in $tree"
  cmake --build "$tree" -j "$JOBS"
done

#!/bin/bash
# Configures (once) and builds each flavour's tree in build/<flavour>, assembling its dist/.
#   scripts/build.sh [flavour...]     (default: both, i686 and x64)
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$ROOT/scripts/flavours.sh"
source "$ROOT/scripts/cmake-tree.sh"
JOBS="${JOBS:-$(nproc)}"

for flavour in ${*:-$PALISK_ALL_FLAVOURS}; do
  palisk_check_flavour "$flavour"
  tree="$ROOT/build/$flavour"
  palisk_configure_tree "$flavour" "$tree" -DCMAKE_BUILD_TYPE=RelWithDebInfo
  echo "[build] $flavour in $tree"
  cmake --build "$tree" -j "$JOBS"
done

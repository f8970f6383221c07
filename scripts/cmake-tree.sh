# Sourced: configuring a flavour's CMake tree, shared by scripts/build.sh and scripts/release.sh.
#   palisk_configure_tree <flavour> <tree> [cmake arguments...]   (once: an existing tree stays)

palisk_toolchain_of() {
  case "$1" in
    i686) echo "$ROOT/cmake/i686-w64-mingw32.cmake" ;;
    x64) echo "$ROOT/cmake/x86_64-w64-mingw32.cmake" ;;
  esac
}

palisk_configure_tree() {
  local flavour="$1" tree="$2"
  shift 2
  [ -f "$tree/CMakeCache.txt" ] && return 0
  # ccache (installed by set-up) makes rebuilds and fresh clones on the same machine cheap; paths
  # below the tree are hashed relative to it, so clones in other folders share the cache.
  local launcher=()
  if command -v ccache >/dev/null; then
    local command="env;CCACHE_BASEDIR=$ROOT;CCACHE_NOHASHDIR=1;ccache"
    launcher=(-DCMAKE_C_COMPILER_LAUNCHER="$command" -DCMAKE_CXX_COMPILER_LAUNCHER="$command")
  fi
  cmake -S "$ROOT" -B "$tree" -G "Unix Makefiles" \
    -DCMAKE_TOOLCHAIN_FILE="$(palisk_toolchain_of "$flavour")" "${launcher[@]}" "$@"
}

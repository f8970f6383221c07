#!/bin/bash
# The release form: each flavour built for size in its own tree (build/<flavour>-release:
# MinSizeRel, function and data sections collected by the linker, no tests), then assembled in
# build/<flavour>/release/: the shipped modules stripped, their debug information beside them
# (<module>.debug, named by a debug link in the module), lang/ and skin/, the optional outside
# components in outside/. With a certificate and key every module is Authenticode-signed.
#   scripts/release.sh [--cert CHAIN.pem --key KEY.pem] [flavour...]     (default: both)
# The version of every module's version resource is the VERSION file's.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$ROOT/scripts/flavours.sh"
source "$ROOT/scripts/cmake-tree.sh"
JOBS="${JOBS:-$(nproc)}"

CERT="" KEY=""
FLAVOURS=()
while [ $# -gt 0 ]; do
  case "$1" in
    --cert) CERT="$2"; shift 2 ;;
    --key) KEY="$2"; shift 2 ;;
    -*) echo "unknown option $1" >&2; exit 2 ;;
    *) FLAVOURS+=("$1"); shift ;;
  esac
done
if [ -n "$CERT$KEY" ] && { [ -z "$CERT" ] || [ -z "$KEY" ]; }; then
  echo "--cert and --key go together" >&2
  exit 2
fi
[ ${#FLAVOURS[@]} -gt 0 ] || FLAVOURS=($PALISK_ALL_FLAVOURS)

# Module -> size goal in KiB for the stripped i686 form (0: no goal).
SHIPPED=(palisk.exe:512 Glossel.dll:256 log.dll:128 hypra.dll:128 sciter.dll:0)
OUTSIDE=(Tallon.dll Vantor.dll)
# dist assembles the shipped modules, lang/ and skin/ as the test build does.
TARGETS=(dist Tallon Vantor)

triple_of() {
  case "$1" in i686) echo i686-w64-mingw32 ;; x64) echo x86_64-w64-mingw32 ;; esac
}

# Strips a module in place, keeping its debug information in <module>.debug beside it.
strip_module() {
  local objcopy="$1" module="$2"
  "$objcopy" --only-keep-debug "$module" "$module.debug"
  "$objcopy" --strip-unneeded "$module"
  (cd "$(dirname "$module")" && "$objcopy" --add-gnu-debuglink="$(basename "$module").debug" "$(basename "$module")")
}

sign_module() {
  local module="$1" output
  if ! output="$(osslsigncode sign -h sha256 -certs "$CERT" -key "$KEY" -n "Palisk" \
                   -in "$module" -out "$module.signed" 2>&1)"; then
    echo "[release] osslsigncode failed for $module: $output" >&2
    rm -f "$module.signed"
    return 1
  fi
  mv -f "$module.signed" "$module"
}

for flavour in "${FLAVOURS[@]}"; do
  palisk_check_flavour "$flavour"
  tree="$ROOT/build/$flavour-release"
  out="$ROOT/build/$flavour/release"
  objcopy="/usr/bin/$(triple_of "$flavour")-objcopy"
  palisk_configure_tree "$flavour" "$tree" -DCMAKE_BUILD_TYPE=MinSizeRel -DBUILD_TESTING=OFF \
    -DPALISK_SIZE_SECTIONS=ON -DCMAKE_C_FLAGS_MINSIZEREL="-Os -g -DNDEBUG" \
    -DCMAKE_CXX_FLAGS_MINSIZEREL="-Os -g -DNDEBUG"
  echo "[release] $flavour in $tree"
  cmake --build "$tree" -j "$JOBS" --target "${TARGETS[@]}"

  rm -rf "$out"
  mkdir -p "$out/outside"
  for entry in "${SHIPPED[@]}"; do cp "$tree/dist/${entry%%:*}" "$out/"; done
  for module in "${OUTSIDE[@]}"; do cp "$tree/outside/$module" "$out/outside/"; done
  cp -r "$tree/dist/lang" "$tree/dist/skin" "$out/"

  modules=()
  for entry in "${SHIPPED[@]}"; do modules+=("$out/${entry%%:*}"); done
  for module in "${OUTSIDE[@]}"; do modules+=("$out/outside/$module"); done
  for module in "${modules[@]}"; do
    strip_module "$objcopy" "$module"
    [ -z "$CERT" ] || sign_module "$module"
  done

  echo "[release] $flavour: build/$flavour/release (version $(cat "$ROOT/VERSION"), $([ -n "$CERT" ] && echo signed || echo unsigned))"
  for entry in "${SHIPPED[@]}"; do
    name="${entry%%:*}" goal="${entry##*:}"
    bytes=$(stat -c %s "$out/$name")
    line="$(awk -v n="$name" -v b="$bytes" 'BEGIN { printf "%-12s %8d bytes %6.1f KiB", n, b, b / 1024 }')"
    if [ "$goal" != 0 ] && [ "$flavour" = i686 ]; then
      line="$line   goal <= $goal KiB: $([ "$bytes" -le $((goal * 1024)) ] && echo met || echo MISSED)"
    fi
    echo "[release]   $line"
  done
done

#!/bin/bash
# Installs everything the build and the tests need on a Debian 12 machine: the compilers of
# both flavours, Wine, the Debian sources we build from, and a test prefix with the test PKI
# for each flavour whose tests are to run.
# Idempotent: each step checks whether it is already done, so a second run takes seconds.
#   scripts/setup.sh [flavour...]   flavours to prepare for tests (default: every flavour this
#                                   machine can run; i686 needs a machine that runs 32-bit code)
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$ROOT/scripts/flavours.sh"
source "$ROOT/scripts/apt.sh"
BUILD="$ROOT/build"
mkdir -p "$BUILD"

SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi

PACKAGES=(
  make cmake ccache file xz-utils dpkg-dev git ca-certificates
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
  wine wine64
  osslsigncode openssl xvfb xauth x11-apps imagemagick
  nlohmann-json3-dev libfmt-dev googletest python3 curl
  qemu-user
)
# qemu-user runs the kernel probe's i386 program in a test, so the probe is known to be a valid
# program even on machines whose kernel refuses it. Installed without its Recommends: the binfmt
# registration (qemu-user-binfmt) would make this kernel seem to run 32-bit code.
# Wine's 32-bit side, only where the kernel runs 32-bit code. libgnutls30:i386 is only a
# Recommends of libwine:i386, but without it every HTTPS request fails with 0x80090305.
PACKAGES_I386=(wine32:i386 libgnutls30:i386)

log() { echo "[setup] $*"; }

enable_i386() {
  palisk_kernel_runs_32bit || return 0
  PACKAGES+=("${PACKAGES_I386[@]}")
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    log "adding the i386 architecture"
    $SUDO dpkg --add-architecture i386
    NEED_UPDATE=1
  fi
}

# deb-src may live in the deb822 file (cloud images) or in the one-line sources.list.
enable_deb_src() {
  local deb822=/etc/apt/sources.list.d/debian.sources
  if [ -f "$deb822" ]; then
    if grep -q '^Types: deb$' "$deb822"; then
      log "enabling deb-src in $deb822"
      $SUDO sed -i 's/^Types: deb$/Types: deb deb-src/' "$deb822"
      NEED_UPDATE=1
    fi
  fi
  if [ -f /etc/apt/sources.list ] && grep -q '^deb ' /etc/apt/sources.list; then
    if ! grep -q '^deb-src ' /etc/apt/sources.list; then
      log "enabling deb-src in /etc/apt/sources.list"
      grep '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' | $SUDO tee -a /etc/apt/sources.list >/dev/null
      NEED_UPDATE=1
    fi
  fi
}

install_packages() {
  local missing=()
  for p in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$p")
    fi
  done
  if [ ${#missing[@]} -gt 0 ] || [ -n "${NEED_UPDATE:-}" ]; then
    log "installing: ${missing[*]:-(index update only)}"
    apt_install "${missing[@]}" || exit 1
  fi
}

# Debian source packages are extracted with dpkg-source so that Debian's patches apply.
fetch_source() {
  local pkg="$1" dest="$BUILD/third_party/$1"
  [ -f "$dest/.extracted" ] && return 0
  log "fetching the Debian source of $pkg"
  rm -rf "$dest" "$BUILD/third_party/dl-$pkg"
  mkdir -p "$BUILD/third_party/dl-$pkg"
  # Unsigned-key and sandbox warnings are expected here; the log keeps them for a curious reader.
  (cd "$BUILD/third_party/dl-$pkg" && apt-get source --download-only -qq "$pkg") >>"$BUILD/third_party/fetch.log" 2>&1
  dpkg-source -x "$BUILD"/third_party/dl-"$pkg"/*.dsc "$dest" >>"$BUILD/third_party/fetch.log" 2>&1
  rm -rf "$BUILD/third_party/dl-$pkg" "$BUILD"/third_party/*.orig.tar.*
  touch "$dest/.extracted"
}

# Header-only libraries are staged on their own so /usr/include never reaches the cross compiler.
stage_headers() {
  local inc="$BUILD/third_party/include"
  mkdir -p "$inc"
  ln -sfn /usr/include/nlohmann "$inc/nlohmann"
  ln -sfn /usr/include/fmt "$inc/fmt"
}

# A flavour's test PKI (keys are made here, never committed) and its root in that flavour's
# prefix, imported by a reg.exe of the flavour's own bitness.
test_pki() {
  local flavour="$1" tree="$BUILD/$1"
  python3 "$ROOT/tools/kit/pki.py" "$tree/pki" >/dev/null
  local marker="$tree/wineprefix/.palisk-test-root"
  if [ ! -f "$marker" ] || ! cmp -s "$marker" "$tree/pki/root.crt"; then
    log "installing the test root certificate into the $flavour Wine prefix"
    "$ROOT/scripts/stop-wine.sh" "$flavour"  # a persistent test wineserver would never let `-w` return
    python3 "$ROOT/tools/kit/wineroot.py" "$tree/pki/root.crt" >"$tree/pki/root.reg"
    (PALISK_FLAVOUR="$flavour" && source "$ROOT/scripts/wine-env.sh" &&
      "$WINE" reg import "$("$WINE" winepath -w "$tree/pki/root.reg")" >/dev/null 2>&1 &&
      "$WINESERVER" -w)
    cp "$tree/pki/root.crt" "$marker"
  fi
}

# The flavours to prepare: those named, else every one this machine can run.
test_flavours() {
  local flavours="${*:-$(palisk_runnable_flavours)}" flavour
  for flavour in $flavours; do
    palisk_check_flavour "$flavour" || exit 2
    if [ "$flavour" = i686 ] && ! palisk_runs_32bit; then
      echo "[setup] no i686 test prefix: $(palisk_why_no_32bit)" >&2
      exit 2
    fi
  done
  echo "$flavours"
}

main() {
  fetch_source tinyxml
  fetch_source duktape
  fetch_source fmtlib
  stage_headers
  local flavour
  for flavour in $FLAVOURS_TO_PREPARE; do
    "$ROOT/scripts/wineprefix.sh" "$flavour"
    test_pki "$flavour"
  done
  log "done (test prefixes: $FLAVOURS_TO_PREPARE)"
}

# libc6:i386 (and with it the 32-bit loader we probe) comes with the packages: install first.
FLAVOURS_ARGS=("$@")
enable_i386
enable_deb_src
install_packages
FLAVOURS_TO_PREPARE="$(test_flavours "${FLAVOURS_ARGS[@]}")"
main

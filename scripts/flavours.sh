# Sourced: the two build flavours and what this machine can run.
#   i686  the product (what ships), run through Wine's WoW64 loader
#   x64   the same sources built 64-bit, run through wine64 itself
# Some machines run 64-bit user code only: there every i386 executable fails with
# "Exec format error", Wine's 32-bit loader cannot start and no i686 program runs.
PALISK_ALL_FLAVOURS="i686 x64"

# True when 32-bit Linux executables start here (the 32-bit dynamic loader answers).
palisk_runs_32bit() {
  [ -x /lib/ld-linux.so.2 ] && /lib/ld-linux.so.2 --version >/dev/null 2>&1
}

# The flavours whose tests this machine can run.
palisk_runnable_flavours() {
  if palisk_runs_32bit; then echo "i686 x64"; else echo "x64"; fi
}

# The flavour a script uses when none is named: the product where it runs, else x64.
palisk_default_flavour() {
  if palisk_runs_32bit; then echo i686; else echo x64; fi
}

palisk_check_flavour() {
  case "$1" in
    i686|x64) return 0 ;;
    *) echo "unknown flavour '$1' (known: $PALISK_ALL_FLAVOURS)" >&2; return 1 ;;
  esac
}

# Sourced: the two build flavours and what this machine can run.
#   i686  the product (what ships), run through Wine's WoW64 loader
#   x64   the same sources built 64-bit, run through wine64 itself
# Some machines run 64-bit user code only: there every i386 executable fails with
# "Exec format error", Wine's 32-bit loader cannot start and no i686 program runs.
PALISK_ALL_FLAVOURS="i686 x64"

# Writes a 93-byte static i386 program to $1: an ELF header, one loadable segment, then
# `exit(42)` through int 0x80. It needs no C library, so it asks the kernel alone.
palisk_write_i386_probe() {
  printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00'`
        `'\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00'`
        `'\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00'`
        `'\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08'`
        `'\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00'`
        `'\x31\xdb\xb3\x2a\x31\xc0\x40\xcd\x80' >"$1"
  chmod +x "$1"
}

# True when the kernel runs 32-bit x86 executables, asked with the probe above, so the answer
# is the same before and after set-up has installed the 32-bit C library.
palisk_kernel_runs_32bit() {
  if [ -z "${PALISK_KERNEL_RUNS_32BIT:-}" ]; then
    local probe rc=0
    probe="$(mktemp "${TMPDIR:-/tmp}/palisk-i386-probe.XXXXXX")"
    palisk_write_i386_probe "$probe"
    "$probe" 2>/dev/null || rc=$?
    rm -f "$probe"
    if [ "$rc" = 42 ]; then PALISK_KERNEL_RUNS_32BIT=yes; else PALISK_KERNEL_RUNS_32BIT=no; fi
    export PALISK_KERNEL_RUNS_32BIT
  fi
  [ "$PALISK_KERNEL_RUNS_32BIT" = yes ]
}

# True when 32-bit Linux executables start here and the 32-bit loader is installed.
palisk_runs_32bit() {
  palisk_kernel_runs_32bit && [ -x /lib/ld-linux.so.2 ] && /lib/ld-linux.so.2 --version >/dev/null 2>&1
}

# Why i686 tests cannot run here, in one line (empty when they can).
palisk_why_no_32bit() {
  if ! palisk_kernel_runs_32bit; then
    echo "this machine runs 64-bit user code only (the kernel refuses i386 executables: Exec format error), so Wine's 32-bit loader cannot run"
  elif ! palisk_runs_32bit; then
    echo "the 32-bit loader is not installed yet (scripts/setup.sh installs it with wine32:i386)"
  fi
}

# The flavours whose tests this machine can run once set-up is done: asked of the kernel, so
# that a fresh machine, whose 32-bit C library is not installed yet, prepares and runs both.
palisk_runnable_flavours() {
  if palisk_kernel_runs_32bit; then echo "i686 x64"; else echo "x64"; fi
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

# Sourced by setup.sh: apt-get's index update and install, made to survive a mirror in the middle
# of a sync. A mirror may serve one index with the wrong size for minutes to days; apt-get update
# then exits 100 although every other index is fine. We retry a few times, then go on with what
# we have and fail only if the install itself fails, saying which index was missing and why.
#   APT_GET        the apt-get command (tests put a fake here)
#   APT_RETRIES    update attempts (default 3), APT_PAUSE seconds between them (default 15)
APT_GET="${APT_GET:-apt-get}"
APT_FAILED_INDEXES=""

# Runs apt-get update until no index fails or the attempts are used up. Always returns 0;
# the indexes that still failed are kept in APT_FAILED_INDEXES, one "url: reason" per line.
apt_update_with_retries() {
  local attempts="${APT_RETRIES:-3}" pause="${APT_PAUSE:-15}" attempt output
  for ((attempt = 1; attempt <= attempts; attempt++)); do
    output="$($SUDO $APT_GET update -qq 2>&1)" && ! grep -q '^[EW]: Failed to fetch' <<<"$output" && {
      APT_FAILED_INDEXES=""
      return 0
    }
    APT_FAILED_INDEXES="$(sed -n 's/^[EW]: Failed to fetch \([^ ]*\) *\(.*\)$/\1: \2/p' <<<"$output")"
    [ -n "$APT_FAILED_INDEXES" ] || APT_FAILED_INDEXES="(apt-get update: $(tail -n 1 <<<"$output"))"
    if ((attempt < attempts)); then
      echo "[setup] apt-get update: some indexes failed (attempt $attempt of $attempts), retrying in ${pause}s" >&2
      sleep "$pause"
    fi
  done
  echo "[setup] apt-get update: going on without $(wc -l <<<"$APT_FAILED_INDEXES") index(es) that failed" >&2
  return 0
}

# One line that says why an install that followed a partial update may have failed.
apt_failure_reason() {
  [ -n "$APT_FAILED_INDEXES" ] || { echo "apt-get install failed (see its output above)"; return; }
  local first why="it could not be fetched"
  first="$(head -n 1 <<<"$APT_FAILED_INDEXES")"
  case "$first" in
    *"unexpected size"*|*"Mirror sync"*|*"Hash Sum mismatch"*) why="the mirror is in the middle of a sync" ;;
  esac
  local skew=""
  case "${first%%: *}" in
    *security*) skew="; packages already at security versions then have no twin of the same version in the other architecture (held broken packages)" ;;
  esac
  echo "apt-get install failed after the index ${first%%: *} was missing ($why$skew): retry later"
}

# Updates the indexes, then installs the named packages.
apt_install() {
  apt_update_with_retries
  [ $# -gt 0 ] || return 0
  if ! DEBIAN_FRONTEND=noninteractive $SUDO $APT_GET install -y -qq --no-install-recommends "$@" >/dev/null; then
    echo "[setup] $(apt_failure_reason)" >&2
    return 1
  fi
}

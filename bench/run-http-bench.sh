#!/bin/bash
# The HTTP throughput benchmark: one 256 MiB file from one loopback server, downloaded by
# (a) CHypraWrapper over hypra.dll to disk, (b) a bare WinHTTP read loop, both under Wine, and
# (c) native curl. Three runs each; prints the medians, the ratio a/b and a's peak working set.
#   [PALISK_FLAVOUR=i686|x64] bench/run-http-bench.sh [size in MiB]
# The flavour defaults to the product (i686) where this machine runs 32-bit code, else x64.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
SIZE_MB="${1:-256}"
source "$ROOT/scripts/wine-env.sh"
BUILD="$WINE_BUILD_DIR"
"$ROOT/scripts/build.sh" "$PALISK_FLAVOUR" >/dev/null
echo "flavour: $PALISK_FLAVOUR ($BUILD)"

WORK="$(mktemp -d)"
trap 'kill $SERVER 2>/dev/null; rm -rf "$WORK"; "$ROOT/scripts/stop-wine.sh"' EXIT
mkdir -p "$WORK/www"
head -c "$((SIZE_MB * 1048576))" /dev/urandom >"$WORK/www/big.bin"
python3 "$ROOT/tools/kit/kitserver.py" --root "$WORK/www" --ready-file "$WORK/ports.json" \
  --cert-folder "$BUILD/pki/tls" >/dev/null 2>&1 &
SERVER=$!
for _ in $(seq 100); do [ -f "$WORK/ports.json" ] && break; sleep 0.1; done
PORT=$(python3 -c "import json;print(json.load(open('$WORK/ports.json'))['http'])")
URL="http://127.0.0.1:$PORT/big.bin"
OUT_WIN="$("$WINE" winepath -w "$WORK/out.bin" 2>/dev/null)"

run_wine() { "$ROOT/scripts/wine-run.sh" --flavour="$PALISK_FLAVOUR" "$BUILD/bench/http_download_bench.exe" "$1" "$URL" "$OUT_WIN" 2>/dev/null; }
results=()
for i in 1 2 3; do
  results+=("$(run_wine wrapper)")
  cmp -s "$WORK/out.bin" "$WORK/www/big.bin" || { echo "wrapper download differs" >&2; exit 1; }
  results+=("$(run_wine winhttp)")
  seconds=$(curl -s -o "$WORK/curl.bin" -w '%{time_total}' "$URL")
  results+=("$(python3 -c "print('{\"mode\": \"curl\", \"seconds\": %s, \"MBps\": %f}' % ($seconds, $SIZE_MB / $seconds))")")
done
printf '%s\n' "${results[@]}" | python3 -c '
import json, statistics, sys
rows = [json.loads(line) for line in sys.stdin if line.strip()]
med = {m: statistics.median(r["MBps"] for r in rows if r["mode"] == m) for m in ("wrapper", "winhttp", "curl")}
peak = max(r["peakWorkingSetMiB"] for r in rows if r["mode"] == "wrapper")
for m in ("wrapper", "winhttp", "curl"):
    print("%-8s %8.1f MB/s (median of 3)" % (m, med[m]))
print("wrapper / winhttp = %.2f (goal >= 0.90)" % (med["wrapper"] / med["winhttp"]))
print("wrapper / curl    = %.2f" % (med["wrapper"] / med["curl"]))
print("wrapper peak working set = %.1f MiB (goal <= 32)" % peak)
'

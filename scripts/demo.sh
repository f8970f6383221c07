#!/bin/bash
# The demo's run: a warm Wine, the demo itself, and Wine stopped afterwards.
set -uo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$ROOT/scripts/stop-wine.sh"
python3 "$ROOT/scripts/demo.py"
status=$?
"$ROOT/scripts/stop-wine.sh"
exit $status

#!/usr/bin/env bash
# Ends the wineserver and the Xvfb display that wine-run.sh started.
#   wine-stop.sh [--state DIR]
set -uo pipefail
state="${BREVORA_WINE_STATE:-/tmp/brevora-wine-$(id -u)}"
[ "${1:-}" = "--state" ] && state="$2"
[ -d "$state" ] || exit 0
WINEPREFIX="$state/prefix" wineserver -k >/dev/null 2>&1 || true
pid="$(cat "$state/xvfb.pid" 2>/dev/null || true)"
[ -n "$pid" ] && kill "$pid" 2>/dev/null
rm -f "$state/xvfb.pid" "$state/display"
exit 0

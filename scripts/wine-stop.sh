#!/usr/bin/env bash
# Ends the wineserver, the Xvfb display and the network namespace that
# wine-run.sh started for a state folder, or for every folder of a pool.
#   wine-stop.sh [--state DIR | --pool DIR]
set -uo pipefail
state="${BREVORA_WINE_STATE:-/tmp/brevora-wine-$(id -u)}"
states=()
case "${1:-}" in
--state) states=("$2") ;;
--pool) for d in "$2"/*/; do states+=("${d%/}"); done ;;
*) states=("$state") ;;
esac
for state in "${states[@]}"; do
    [ -d "$state/prefix" ] || [ -f "$state/xvfb.pid" ] || continue
    # Wine takes no relative WINEPREFIX: its wineserver would be left running.
    state="$(cd "$state" && pwd)"
    pid="$(cat "$state/network.pid" 2>/dev/null || true)"
    enter=()
    [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null && enter=(nsenter -t "$pid" -n)
    WINEPREFIX="$state/prefix" "${enter[@]}" wineserver -k >/dev/null 2>&1 || true
    for f in xvfb.pid network.pid; do
        pid="$(cat "$state/$f" 2>/dev/null || true)"
        [ -n "$pid" ] && kill "$pid" 2>/dev/null
    done
    rm -f "$state/xvfb.pid" "$state/network.pid" "$state/display"
done
exit 0

#!/usr/bin/env bash
# Runs a Windows program under Wine in the prefix of one test run.
#
#   wine-run.sh [--state DIR] PROGRAM.exe [ARGS...]
#
# DIR (default $BREVORA_WINE_STATE, else /tmp/brevora-wine-$UID) holds the
# prefix, made once with wineboot, and the Xvfb display used when DISPLAY is
# not set. The wineserver is started persistent so that consecutive programs
# do not pay for its start; wine-stop.sh ends it and the display.
set -euo pipefail

state="${BREVORA_WINE_STATE:-/tmp/brevora-wine-$(id -u)}"
if [ "${1:-}" = "--state" ]; then
    state="$2"
    shift 2
fi
[ $# -ge 1 ] || { echo "usage: $0 [--state DIR] PROGRAM [ARGS...]" >&2; exit 2; }

mkdir -p "$state"
state="$(cd "$state" && pwd)"
export WINEPREFIX="$state/prefix"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEARCH=win64
# No Mono or Gecko installers: nothing here needs .NET or an HTML engine.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}mscoree,mshtml="

exec 9>"$state/lock"
flock 9

if [ ! -f "$WINEPREFIX/.brevora-ready" ]; then
    rm -rf "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1 9>&-
    # Wine draws the window frames itself: Xvfb has no window manager, and
    # a dialog without its caption is not what a user sees.
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f >/dev/null 2>&1 9>&-
    wineserver -w
    touch "$WINEPREFIX/.brevora-ready"
fi

if [ -z "${DISPLAY:-}" ]; then
    pid="$(cat "$state/xvfb.pid" 2>/dev/null || true)"
    if [ -z "$pid" ] || ! kill -0 "$pid" 2>/dev/null; then
        rm -f "$state/display"
        setsid Xvfb -displayfd 8 -screen 0 1280x1024x24 -nolisten tcp 8>"$state/display" \
            >/dev/null 2>&1 </dev/null 9>&- &
        echo $! >"$state/xvfb.pid"
        for _ in $(seq 100); do
            [ -s "$state/display" ] && break
            sleep 0.05
        done
    fi
    export DISPLAY=":$(tr -d '[:space:]' <"$state/display")"
fi

# Kept alive between programs; a second start finds the socket taken and exits.
wineserver -p >/dev/null 2>&1 9>&- || true
exec 9>&-

# Wine's own background processes (services, explorer) start with the first
# program and outlive it. Were they to inherit our standard output, a caller
# that reads it to the end (CTest) would wait for them; so they get files.
out="$(mktemp)"
err="$(mktemp)"
trap 'rm -f "$out" "$err"' EXIT
status=0
wine "$@" >"$out" 2>"$err" || status=$?
cat "$out"
cat "$err" >&2
exit "$status"

#!/usr/bin/env bash
# Runs a Windows program under Wine.
#
#   wine-run.sh [--state DIR] [--template DIR] [--own-network] PROGRAM.exe [ARGS...]
#   wine-run.sh --pool DIR [--slot NAME] PROGRAM.exe [ARGS...]
#   wine-run.sh --prepare [--pool DIR | --state DIR ...]
#
# A state folder DIR (default $BREVORA_WINE_STATE, else /tmp/brevora-wine-$UID)
# holds one prefix and the Xvfb display used when DISPLAY is not set. The
# prefix is made once, with wineboot or as a copy of the one in the
# --template folder. Its wineserver is started persistent so that
# consecutive programs do not pay for its start; wine-stop.sh ends it, the
# display and the network below.
#
# --own-network runs the prefix's programs in a network namespace of its own
# with loopback up (root, or the right to make namespaces, is needed; without
# it they share the machine's network). Two prefixes can then each have a
# report server on the reporter's port.
#
# --pool DIR is for tests that may run side by side: the program runs in a
# free state folder DIR/slot-N of BREVORA_WINE_SLOTS (default 2), which it
# holds until it ends, each with its own prefix (a copy of DIR/template),
# display (always Xvfb: tests read each other's windows on a shared one) and
# network. --slot NAME runs it in DIR/NAME instead, waiting while another
# program holds that one: for tests that change the prefix's own files.
#
# --prepare runs nothing: it makes the prefix and starts its display and
# wineserver, for instance while the programs are still being built.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
state="${BREVORA_WINE_STATE:-/tmp/brevora-wine-$(id -u)}"
pool="" slot="" template="" own_network=0 prepare=()
while [ $# -gt 0 ]; do
    case "$1" in
    --prepare) prepare=(--prepare); shift ;;
    --state) state="$2"; shift 2 ;;
    --pool) pool="$2"; shift 2 ;;
    --slot) slot="$2"; shift 2 ;;
    --template) template="$2"; shift 2 ;;
    --own-network) own_network=1; shift ;;
    *) break ;;
    esac
done
[ $# -ge 1 ] || [ ${#prepare[@]} -gt 0 ] || { echo "usage: $0 [--state DIR] [--template DIR] [--own-network] PROGRAM [ARGS...]" >&2; exit 2; }

if [ -n "$pool" ]; then
    mkdir -p "$pool"
    pool="$(cd "$pool" && pwd)"
    # Listing a test program's tests changes no prefix: any free slot does,
    # and the prefixes of their own are made later, beside other tests.
    for arg in "$@"; do
        [ "$arg" = "--gtest_list_tests" ] && slot=""
    done
    # Without network namespaces the prefixes share the reporter's port: one
    # program at a time, then.
    if [ -z "${BREVORA_WINE_NETWORK_HELD:-}" ] && ! unshare -n true 2>/dev/null; then
        export BREVORA_WINE_NETWORK_HELD=1
        exec flock -o "$pool/network.lock" "$0" "${prepare[@]}" --pool "$pool" ${slot:+--slot "$slot"} "$@"
    fi
    # flock holds the slot's lock (and keeps it from the program's children)
    # for as long as the program runs.
    inner=("$0" "${prepare[@]}" --template "$pool/template" --own-network)
    if [ -n "$slot" ]; then
        exec flock -o "$pool/$slot.lock" env -u DISPLAY "${inner[@]}" --state "$pool/$slot" "$@"
    fi
    slots="${BREVORA_WINE_SLOTS:-2}"
    busy=75
    for i in $(seq 0 $((slots - 1))); do
        status=0
        flock -n -E "$busy" -o "$pool/slot-$i.lock" env -u DISPLAY "${inner[@]}" --state "$pool/slot-$i" "$@" ||
            status=$?
        [ "$status" -eq "$busy" ] || exit "$status"
    done
    i=$(($$ % slots))
    exec flock -o "$pool/slot-$i.lock" env -u DISPLAY "${inner[@]}" --state "$pool/slot-$i" "$@"
fi

mkdir -p "$state"
state="$(cd "$state" && pwd)"
export WINEPREFIX="$state/prefix"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEARCH=win64
# No Mono or Gecko installers: nothing here needs .NET or an HTML engine.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}mscoree,mshtml="

# Makes the prefix at $WINEPREFIX.
make_prefix() {
    rm -rf "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1 9>&-
    # Wine draws the window frames itself: Xvfb has no window manager, and
    # a dialog without its caption is not what a user sees. Unmanaged, its
    # windows also do not wait for a window manager that never answers (up
    # to some 2 s each time one is shown or hidden).
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f >/dev/null 2>&1 9>&-
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1 9>&-
    wineserver -w
    touch "$WINEPREFIX/.brevora-ready" "$WINEPREFIX/.brevora-unmanaged"
}

exec 9>"$state/lock"
flock 9

if [ ! -f "$WINEPREFIX/.brevora-ready" ]; then
    if [ -n "$template" ]; then
        (
            mkdir -p "$template"
            exec 8>"$template/lock"
            flock 8
            [ -f "$template/prefix/.brevora-ready" ] || WINEPREFIX="$template/prefix" make_prefix
        ) 9>&-
        rm -rf "$WINEPREFIX"
        cp -a "$template/prefix" "$WINEPREFIX"
    else
        make_prefix
    fi
fi

# Xvfb's own search for a free display (-displayfd) binds the abstract
# socket first, which an X server outside this network namespace does not
# hold here: it would take over that server's socket file, and cut off its
# clients when it ends. The number is chosen from the lock files instead,
# which every X server makes before it listens.
start_display() {
    local n pid
    for n in $(seq 10 299); do
        [ -e "/tmp/.X$n-lock" ] && continue
        setsid Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >>"$state/xvfb.log" 2>&1 </dev/null 9>&- &
        pid=$!
        for _ in $(seq 400); do
            kill -0 "$pid" 2>/dev/null || break
            [ -S "/tmp/.X11-unix/X$n" ] && [ "$(tr -d '[:space:]' <"/tmp/.X$n-lock" 2>/dev/null)" = "$pid" ] && {
                echo "$pid" >"$state/xvfb.pid"
                echo "$n" >"$state/display"
                return 0
            }
            sleep 0.05
        done
        # Another server took the number first (this one has ended: under
        # set -e a failed kill would end the script), or it hung.
        kill "$pid" 2>/dev/null || true
    done
    return 1
}

new_display=0
if [ -z "${DISPLAY:-}" ]; then
    pid="$(cat "$state/xvfb.pid" 2>/dev/null || true)"
    if [ -z "$pid" ] || ! kill -0 "$pid" 2>/dev/null; then
        rm -f "$state/display"
        start_display
        new_display=1
    fi
    if [ ! -s "$state/display" ]; then
        echo "wine-run.sh: Xvfb gave no display (see $state/xvfb.log)" >&2
        exit 1
    fi
    export DISPLAY=":$(tr -d '[:space:]' <"$state/display")"
fi

# The network namespace is held by a process that only sleeps; the prefix's
# wineserver must be started inside it, since Wine makes sockets there. Its
# default route leads to loopback: Wine counts a computer as on line when
# some adapter has a gateway.
enter=()
if [ "$own_network" = 1 ] && unshare -n true 2>/dev/null; then
    pid="$(cat "$state/network.pid" 2>/dev/null || true)"
    if [ -z "$pid" ] || ! kill -0 "$pid" 2>/dev/null; then
        wineserver -k >/dev/null 2>&1 9>&- || true
        setsid unshare -n sh -c 'ip link set lo up && ip route add default via 127.0.0.1 dev lo && exec sleep infinity' \
            </dev/null >/dev/null 2>&1 9>&- &
        pid=$!
        echo "$pid" >"$state/network.pid"
        for _ in $(seq 100); do
            [ "$(readlink "/proc/$pid/ns/net" 2>/dev/null)" != "$(readlink /proc/self/ns/net)" ] &&
                nsenter -t "$pid" -n ip route show default 2>/dev/null | grep -q 127.0.0.1 && break
            sleep 0.02
        done
    fi
    enter=(nsenter -t "$pid" -n)
fi

# A wineserver that outlived its display keeps a desktop that can no longer
# draw: every later program would fail to make a window. It goes with it.
if [ "$new_display" = 1 ]; then
    "${enter[@]}" wineserver -k >/dev/null 2>&1 9>&- || true
fi
# Kept alive between programs; a second start finds the socket taken and exits.
"${enter[@]}" wineserver -p >/dev/null 2>&1 9>&- || true
# A prefix made before windows were unmanaged gets the setting too.
if [ ! -f "$WINEPREFIX/.brevora-unmanaged" ]; then
    "${enter[@]}" wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1 9>&-
    touch "$WINEPREFIX/.brevora-unmanaged"
fi
exec 9>&-
[ ${#prepare[@]} -eq 0 ] || exit 0

# Wine's own background processes (services, explorer) start with the first
# program and outlive it. Were they to inherit our standard output, a caller
# that reads it to the end (CTest) would wait for them; so they get files.
out="$(mktemp)"
err="$(mktemp)"
trap 'rm -f "$out" "$err"' EXIT
status=0
"${enter[@]}" wine "$@" >"$out" 2>"$err" || status=$?
cat "$out"
cat "$err" >&2
exit "$status"

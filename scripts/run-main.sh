#!/usr/bin/env bash
# The reporter's main job.
#
#   scripts/run-main.sh                  the whole bug-report flow
#   scripts/run-main.sh --keep-serving   the same, then the server keeps
#                                        running for the maintainers' web
#                                        interface (Ctrl-C ends it)
#   scripts/run-main.sh DUMP LOG CONF    crash mode with these three files
#
# With --keep-serving a one-time account is made in the fresh data folder
# and the interface's address, name and password are printed at the end.
#
# Bug-report flow: builds the reference report server (native tree) and the
# Windows program, starts the server on loopback with a data folder of its
# own (build/main-job/server-data, emptied first), puts a sample application
# log into the Wine user's profile, runs the reporter under Wine against the
# server and, at the end, shows the stored report with the server's `show`.
# With a display (DISPLAY set) you fill in the form yourself. Without one it
# runs on a private Xvfb display, where tests/wine/main_job_driver.exe fills
# in the form as a user would and saves a screenshot of each step to
# build/main-job/screenshots/.
#
# Crash mode: starts the reporter with the three files (with a display you
# use the dialog; without one a screenshot goes to
# build/main-job/crash-dialog.png and the program is closed).
#
# BREVORA_WIN_BUILD and BREVORA_NATIVE_BUILD name other build trees than
# build/win64 and build/native (already configured); the server listens on
# the port the Windows tree was built for.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
scripts/setup.sh
jobs="$(nproc)"
win="${BREVORA_WIN_BUILD:-$root/build/win64}"
native="${BREVORA_NATIVE_BUILD:-$root/build/native}"
work="$root/build/main-job"
state="$work/wine"
mkdir -p "$work"

build_windows() {  # build_windows TARGET...
    [ -n "${BREVORA_WIN_BUILD:-}" ] || cmake --preset windows-x64 >/dev/null
    cmake --build "$win" -j "$jobs" --target "$@"
}

# The program takes Windows paths; Wine maps the Linux root to drive Z:.
windows_path() {
    printf 'Z:%s' "$(realpath -m "$1" | tr '/' '\\')"
}

run_crash_mode() {
    build_windows brevora-bugreporter
    local exe="$win/bin/brevora-bugreporter.exe"
    local winpaths=()
    for f in "$@"; do
        winpaths+=("$(windows_path "$f")")
    done
    if [ -n "${DISPLAY:-}" ]; then
        exec scripts/wine-run.sh --state "$state" "$exe" "${winpaths[@]}"
    fi
    # Prepare the prefix and the display first, so the dialog is up when we look.
    scripts/wine-run.sh --state "$state" cmd /c exit
    scripts/wine-run.sh --state "$state" "$exe" "${winpaths[@]}" &
    local reporter=$!
    local display=":$(tr -d "[:space:]" <"$state/display")"
    # Until the dialog is mapped (at most 20 s), and a moment for it to paint.
    for _ in $(seq 200); do
        DISPLAY="$display" xwininfo -root -tree 2>/dev/null | grep -q '"Brevora Crash Reporting Tool"' && break
        kill -0 "$reporter" 2>/dev/null || break
        sleep 0.1
    done
    sleep 0.5
    local shot="$work/crash-dialog.png"
    DISPLAY="$display" import -window root "$shot" &&
        convert "$shot" -trim +repage "$shot" || true
    echo "crash dialog shown; screenshot: $shot"
    scripts/wine-stop.sh --state "$state"
    wait "$reporter" 2>/dev/null || true
}

run_bug_report_flow() {
    [ -n "${BREVORA_NATIVE_BUILD:-}" ] || cmake --preset linux-native >/dev/null
    cmake --build "$native" -j "$jobs" --target brevora-report-server
    build_windows brevora-bugreporter main_job_driver
    local server="$native/bin/brevora-report-server"
    local port
    port="$(sed -n 's/^BREVORA_REPORT_SERVER_PORT:STRING=//p' "$win/CMakeCache.txt")"

    # A server of its own, on the port the reporter was built for.
    local data="$work/server-data"
    rm -rf "$data"
    mkdir -p "$data"
    printf 'Player\nLibrary\nSettings\n' >"$data/components.txt"
    local password=""
    if [ "$keep_serving" = 1 ]; then
        password="$(head -c 18 /dev/urandom | base64 | tr '+/' '-_')"
        printf '%s\n' "$password" | "$server" user add --data "$data" maintainer >/dev/null
    fi
    "$server" serve --data "$data" --listen "127.0.0.1:$port" --admin-listen 127.0.0.1:0 \
        2>"$work/server.log" </dev/null &
    local server_pid=$!
    trap "kill $server_pid 2>/dev/null || true; wait $server_pid 2>/dev/null || true; scripts/wine-stop.sh --state '$state'" EXIT
    local listening=0
    for _ in $(seq 100); do
        kill -0 "$server_pid" 2>/dev/null || { cat "$work/server.log" >&2; exit 1; }
        if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
            listening=1
            break
        fi
        sleep 0.1
    done
    [ "$listening" = 1 ] || { echo "run-main: the server does not listen on $port" >&2; exit 1; }
    echo "run-main: report server on 127.0.0.1:$port, data in $data"

    # The application log that the report carries, where Brevora keeps it.
    scripts/wine-run.sh --state "$state" cmd /c exit
    local logdir="$state/prefix/drive_c/users/$(id -un)/.brevora"
    mkdir -p "$logdir"
    printf '2026-12-07 10:00:00 player: started\r\n2026-12-07 10:00:05 library: scanning E:/\r\n2026-12-07 10:05:05 library: scan stalled\r\n' \
        >"$logdir/brevora.log"

    local exe="$win/bin/brevora-bugreporter.exe"
    if [ -n "${DISPLAY:-}" ]; then
        echo "run-main: fill in the form and press Send"
        scripts/wine-run.sh --state "$state" "$exe" || true
    else
        local shots="$work/screenshots"
        rm -rf "$shots"
        mkdir -p "$shots"
        scripts/wine-run.sh --state "$state" "$win/bin/main_job_driver.exe" "$(windows_path "$exe")" \
            "$(windows_path "$shots")" || true
        for bmp in "$shots"/*.bmp; do
            [ -e "$bmp" ] || continue
            convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
        done
        echo "run-main: screenshots in $shots: $(cd "$shots" && ls | tr '\n' ' ')"
    fi

    local id
    id="$("$server" list --data "$data" | tail -n 1 | cut -f 1)"
    if [ -z "$id" ]; then
        echo "run-main: no report arrived at the server" >&2
        exit 1
    fi
    echo "run-main: the server stored report $id:"
    echo
    "$server" show --data "$data" "$id"

    if [ "$keep_serving" = 1 ]; then
        local admin
        admin="$(sed -n "s/.*maintainers' interface at \(http:[^ ]*\)$/\1/p" "$work/server.log" | head -n 1)"
        echo
        echo "run-main: maintainers' interface at $admin"
        echo "run-main: log in as maintainer with the one-time password $password"
        echo "run-main: the server keeps running; Ctrl-C ends it"
        wait "$server_pid" || true
    fi
}

keep_serving=0
if [ "${1:-}" = "--keep-serving" ]; then
    keep_serving=1
    shift
    [ $# -eq 0 ] || { echo "usage: $0 [--keep-serving | DUMP LOG CONF]" >&2; exit 2; }
fi

if [ $# -eq 3 ]; then
    run_crash_mode "$1" "$2" "$3"
elif [ $# -eq 0 ]; then
    run_bug_report_flow
else
    echo "usage: $0 [--keep-serving | DUMP LOG CONF]" >&2
    exit 2
fi

#!/usr/bin/env bash
# Runs a Windows test program that starts, stops and reads back a reference
# report server of its own (report_server_control.h).
#
#   with_report_server.sh SERVER COMMAND [ARGS...]
#
# SERVER is the native brevora-report-server: the Windows tree cannot build
# it, so CMake passes the native tree's (BREVORA_REPORT_SERVER_EXE). COMMAND
# runs the program (scripts/wine-run.sh ...) with these Unix paths in its
# environment: BREVORA_E2E_SERVER (the server), BREVORA_E2E_SERVER_DATA (an
# empty data folder, into which the test writes the files to serve),
# BREVORA_E2E_SERVER_LOG (the server's request log), BREVORA_E2E_WORK (a
# folder for the test's own files) and BREVORA_E2E_SLOW_LINK (slow_link.py,
# a slow line the test may put before the server). What the test started
# and still runs when the program ends is stopped, and the folders removed.
set -uo pipefail

server="$1"
shift
here="$(cd "$(dirname "$0")" && pwd)"

for arg in "$@"; do
    [ "$arg" = "--gtest_list_tests" ] && exec "$@"  # listing needs no server
done
if [ ! -x "$server" ]; then
    echo "with_report_server.sh: no report server at $server; build the native tree first" >&2
    exit 1
fi

work="$(mktemp -d "${TMPDIR:-/tmp}/brevora-e2e-server.XXXXXX")"
mkdir "$work/data"
stop() {  # stop PID-FILE MARK: the process, if it still runs as the test started it
    local pid
    pid="$(cat "$work/$1" 2>/dev/null)" || return 0
    grep -qa -- "$2" "/proc/$pid/cmdline" 2>/dev/null || return 0
    kill "$pid" 2>/dev/null
    for _ in $(seq 500); do
        [ -e "/proc/$pid" ] || return 0
        sleep 0.02
    done
    kill -KILL "$pid" 2>/dev/null
}
trap 'stop link.pid slow_link.py; stop server.pid --data; rm -rf "$work"' EXIT

export BREVORA_E2E_SERVER="$server"
export BREVORA_E2E_SERVER_DATA="$work/data"
export BREVORA_E2E_SERVER_LOG="$work/requests.log"
export BREVORA_E2E_WORK="$work"
export BREVORA_E2E_SLOW_LINK="$here/slow_link.py"
"$@"

#!/usr/bin/env bash
# Runs a Windows test program under Wine beside a reference report server of
# its own, on loopback.
#
#   with_report_server.sh SERVER PORT STATE PROGRAM [ARGS...]
#
# SERVER is the native brevora-report-server. The Windows tree cannot build
# it, so CMake passes the one of the native tree (BREVORA_REPORT_SERVER_EXE,
# by default build/native's; scripts/test.sh builds that tree first). It
# serves an empty data folder on 127.0.0.1:PORT; the program learns the
# folder and the server's request log from BREVORA_E2E_SERVER_DATA and
# BREVORA_E2E_SERVER_LOG (Unix paths) and writes the files to serve itself.
# STATE is the Wine state folder for scripts/wine-run.sh. The server is
# stopped and its folder removed when the program ends.
set -uo pipefail

server="$1" port="$2" state="$3"
shift 3
root="$(cd "$(dirname "$0")/../.." && pwd)"

# Listing the tests needs no server.
for arg in "$@"; do
    [ "$arg" = "--gtest_list_tests" ] && exec "$root/scripts/wine-run.sh" --state "$state" "$@"
done

if [ ! -x "$server" ]; then
    echo "with_report_server.sh: no report server at $server; build the native tree first" >&2
    exit 1
fi

work="$(mktemp -d "${TMPDIR:-/tmp}/brevora-e2e-server.XXXXXX")"
mkdir "$work/data"
"$server" serve --data "$work/data" --listen "127.0.0.1:$port" 2>"$work/requests.log" </dev/null &
pid=$!
trap 'kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; rm -rf "$work"' EXIT

ready=0
for _ in $(seq 200); do
    if ! kill -0 "$pid" 2>/dev/null; then
        echo "with_report_server.sh: the server ended at once:" >&2
        cat "$work/requests.log" >&2
        exit 1
    fi
    if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
        ready=1
        break
    fi
    sleep 0.05
done
[ "$ready" = 1 ] || { echo "with_report_server.sh: the server does not listen on $port" >&2; exit 1; }

export BREVORA_E2E_SERVER_DATA="$work/data"
export BREVORA_E2E_SERVER_LOG="$work/requests.log"
"$root/scripts/wine-run.sh" --state "$state" "$@"

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
#
# The program may also control the server through the folder named by
# BREVORA_E2E_SERVER_CONTROL: it writes one command line into the file
# "request" (written elsewhere and renamed, so it appears whole) and waits
# for the file "reply", "ok" or "error: ...". The commands:
#   stop              stops the server (a reporter then finds no server)
#   start [OPTIONS]   starts it again on the same folder and port, with
#                     extra serve options such as --fail-uploads
#   dump              writes every stored report into control/reports/ID/,
#                     one file per stored field (the server's export --all)
#   slow RATE         restarts the server on PORT+1 behind a slow line on
#                     PORT (slow_link.py, RATE bytes per second), which logs
#                     its connections to control/slow-link.log; stop and
#                     start end the line
set -uo pipefail

server="$1" port="$2" state="$3"
shift 3
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"

# Listing the tests needs no server.
for arg in "$@"; do
    [ "$arg" = "--gtest_list_tests" ] && exec "$root/scripts/wine-run.sh" --state "$state" "$@"
done

if [ ! -x "$server" ]; then
    echo "with_report_server.sh: no report server at $server; build the native tree first" >&2
    exit 1
fi

work="$(mktemp -d "${TMPDIR:-/tmp}/brevora-e2e-server.XXXXXX")"
mkdir "$work/data" "$work/control"
pid=""
link=""

# Sleeps without starting a process: a read that times out on a pipe that
# never delivers.
mkfifo "$work/tick"
exec 7<>"$work/tick"
nap() { read -r -t "$1" -u 7 _ || true; }

start_server() {  # start_server [EXTRA OPTIONS...]; on $listen_port
    local port="${listen_port:-$port}"
    "$server" serve --data "$work/data" --listen "127.0.0.1:$port" "$@" 2>>"$work/requests.log" </dev/null &
    pid=$!
    for _ in $(seq 200); do
        if ! kill -0 "$pid" 2>/dev/null; then
            echo "with_report_server.sh: the server ended at once:" >&2
            tail -n 5 "$work/requests.log" >&2
            pid=""
            return 1
        fi
        if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
            return 0
        fi
        nap 0.05
    done
    echo "with_report_server.sh: the server does not listen on $port" >&2
    return 1
}

stop_server() {
    if [ -n "$link" ]; then
        kill "$link" 2>/dev/null
        wait "$link" 2>/dev/null
        link=""
    fi
    if [ -n "$pid" ]; then
        kill "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
        pid=""
    fi
}

# Starts the server, then answers the program's requests until it ends. The
# server is this shell's child, so a stop can wait for its end.
control_server() {
    trap 'stop_server; exit 0' TERM
    if start_server; then
        touch "$work/control/.started"
    else
        touch "$work/control/.failed"
        exit 1
    fi
    local request reply
    while :; do
        if [ -f "$work/control/request" ]; then
            request="$(cat "$work/control/request")"
            rm -f "$work/control/request"
            read -r -a words <<<"$request"
            case "${words[0]:-}" in
            stop)
                stop_server
                reply="ok" ;;
            start)
                stop_server
                if start_server "${words[@]:1}"; then reply="ok"; else reply="error: the server did not start"; fi ;;
            slow)
                stop_server
                if listen_port=$((port + 1)) start_server; then
                    python3 "$here/slow_link.py" "$port" $((port + 1)) "${words[1]:-2097152}" \
                        "$work/control/slow-link.log" </dev/null 2>>"$work/requests.log" &
                    link=$!
                    reply="error: the slow line does not listen"
                    for _ in $(seq 100); do
                        if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then reply="ok"; break; fi
                        nap 0.05
                    done
                else
                    reply="error: the server did not start"
                fi ;;
            dump)
                rm -rf "$work/control/reports"
                if "$server" export --data "$work/data" --all "$work/control/reports" >/dev/null 2>"$work/control/dump.err"; then
                    reply="ok"
                else
                    reply="error: $(tr '\n' ' ' <"$work/control/dump.err")"
                fi ;;
            *)
                reply="error: unknown command '$request'" ;;
            esac
            printf '%s\n' "$reply" >"$work/control/reply.tmp"
            mv "$work/control/reply.tmp" "$work/control/reply"
        fi
        nap 0.02
    done
}

control_server &
controller=$!
trap 'kill "$controller" 2>/dev/null; wait "$controller" 2>/dev/null; rm -rf "$work"' EXIT
until [ -e "$work/control/.started" ]; do
    [ -e "$work/control/.failed" ] && exit 1
    nap 0.02
done

export BREVORA_E2E_SERVER_DATA="$work/data"
export BREVORA_E2E_SERVER_LOG="$work/requests.log"
export BREVORA_E2E_SERVER_CONTROL="$work/control"
"$root/scripts/wine-run.sh" --state "$state" "$@"

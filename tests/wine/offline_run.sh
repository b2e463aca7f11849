#!/usr/bin/env bash
# Runs a Windows test program under Wine with no network at all: inside a
# network namespace of its own (unshare -n), where not even loopback is up.
# The wineserver must run inside the namespace too, so the program gets a
# Wine state folder (prefix and display) of its own, STATE, whose wineserver
# and display are ended afterwards; its prefix is a copy of TEMPLATE's.
#
#   offline_run.sh STATE --template TEMPLATE PROGRAM [ARGS...]
#
# Without the right to make a namespace (not root) the program runs on line
# without BREVORA_E2E_OFFLINE, and the tests that need it skip.
set -uo pipefail

state="$1"
shift
root="$(cd "$(dirname "$0")/../.." && pwd)"
run="$root/scripts/wine-run.sh"
stop="$root/scripts/wine-stop.sh"

# A listing of the tests needs no network namespace: it runs in the pool
# that holds the template, without a prefix, display and server to set up.
for arg in "$@"; do
    [ "$arg" = "--gtest_list_tests" ] && [ "$1" = --template ] &&
        exec "$run" --pool "$(dirname "$2")" "${@:3}"
done

body='
    run="$1" stop="$2" state="$3"
    shift 3
    "$run" --state "$state" "$@"
    status=$?
    "$stop" --state "$state"
    exit "$status"'

if unshare -n true 2>/dev/null; then
    # A display reached over TCP would be cut off too: use the state's own.
    exec unshare -n env -u DISPLAY BREVORA_E2E_OFFLINE=1 bash -c "$body" offline-run "$run" "$stop" "$state" "$@"
fi
echo "offline_run.sh: cannot make a network namespace; the offline tests skip" >&2
exec env -u DISPLAY bash -c "$body" offline-run "$run" "$stop" "$state" "$@"

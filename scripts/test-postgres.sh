#!/usr/bin/env bash
# A throwaway PostgreSQL cluster that the native tests of one run share:
# each test process makes its own databases in it
# (BREVORA_TEST_POSTGRES_DIR, tests/server/test_postgres.cpp) instead of
# starting a cluster of its own, whose initdb costs seconds a test.
#
#   scripts/test-postgres.sh start       prints the cluster's folder (its socket's too)
#   scripts/test-postgres.sh stop DIR    stops it and removes the folder
set -euo pipefail

bin="${BREVORA_PG_BINDIR:-/usr/lib/postgresql/15/bin}"
run_as=()
# PostgreSQL refuses to run as root.
[ "$(id -u)" -eq 0 ] && run_as=(runuser -u postgres --)

case "${1:-}" in
start)
    dir="$(mktemp -d /tmp/brevora-pg-shared.XXXXXX)"
    [ "$(id -u)" -eq 0 ] && chown postgres: "$dir"
    # No fsync: its databases never outlive the run.
    "${run_as[@]}" "$bin/initdb" -D "$dir/data" -A trust -U postgres -N --no-instructions >"$dir/initdb.log" 2>&1
    "${run_as[@]}" "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -s \
        -o "-k $dir -c listen_addresses= -F -c max_connections=400" start
    echo "$dir"
    ;;
stop)
    dir="${2:?usage: $0 stop DIR}"
    "${run_as[@]}" "$bin/pg_ctl" -D "$dir/data" -s -m immediate stop >/dev/null 2>&1 || true
    rm -rf "$dir"
    ;;
*)
    echo "usage: $0 start | stop DIR" >&2
    exit 2
    ;;
esac

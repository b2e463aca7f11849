#!/usr/bin/env bash
# Builds the report server and its upload benchmark in Release, without
# sanitizers, and runs the benchmark: uploads of a realistic report with a
# 1 MiB log from 4 concurrent clients, against fresh stores: SQLite with the
# server as it was before compressed storage (built from git, revision
# BREVORA_BENCH_BEFORE) and as it is, then PostgreSQL 15 with one server and
# with two (a throwaway cluster in a temporary folder, commits synced to
# disk). Prints reports a second and the disk each report takes.
#
#   scripts/bench-server.sh [--requests N] [--clients C] [--log-mib M]... [--rounds R] [--no-postgres]
#   BREVORA_BENCH_DIR=DIR          build folder (default build/bench-server)
#   BREVORA_BENCH_BEFORE=REVISION  the earlier server (default 60c2ce1, SQLite storing every body twice)
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
dir="${BREVORA_BENCH_DIR:-$root/build/bench-server}"
before="${BREVORA_BENCH_BEFORE:-60c2ce1}"
cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBREVORA_SANITIZE=OFF >/dev/null
cmake --build "$dir" --target server_bench brevora-report-server >/dev/null

# The earlier server, from its own sources, built the same way.
old="$dir/before-$before"
if [ ! -x "$old/build/bin/brevora-report-server" ]; then
    rm -rf "$old" && mkdir -p "$old/src"
    git -C "$root" archive "$before" | tar -x -C "$old/src"
    cmake -S "$old/src" -B "$old/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBREVORA_SANITIZE=OFF >/dev/null
    cmake --build "$old/build" --target brevora-report-server >/dev/null
fi

cpu="$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)"
memory="$(awk '/^MemTotal/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo)"
echo "machine: $(nproc) CPUs ($cpu), $memory RAM, $(uname -sr), data folder in ${TMPDIR:-/tmp}"
echo "load before: $(cut -d ' ' -f 1-3 /proc/loadavg)"
status=0
"$dir/bin/server_bench" --before "$old/build/bin/brevora-report-server" "$@" || status=$?
echo "load after: $(cut -d ' ' -f 1-3 /proc/loadavg)"
exit $status

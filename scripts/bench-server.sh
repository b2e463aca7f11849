#!/usr/bin/env bash
# Builds the report server and its upload benchmark in Release, without
# sanitizers, and runs the benchmark: uploads of a realistic report with a
# 1 MiB and a 15 MiB log from concurrent clients, against a fresh server.
#
#   scripts/bench-server.sh [--requests N] [--clients C] [--log-mib M]...
#   BREVORA_BENCH_DIR=DIR    build folder (default build/bench-server)
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
dir="${BREVORA_BENCH_DIR:-$root/build/bench-server}"
cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBREVORA_SANITIZE=OFF >/dev/null
cmake --build "$dir" --target server_bench brevora-report-server >/dev/null

cpu="$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)"
memory="$(awk '/^MemTotal/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo)"
echo "machine: $(nproc) CPUs ($cpu), $memory RAM, $(uname -sr), data folder in ${TMPDIR:-/tmp}"
exec "$dir/bin/server_bench" "$@"

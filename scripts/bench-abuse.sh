#!/usr/bin/env bash
# Builds the report server and its abuse benchmark in Release, without
# sanitizers, and runs it: a legitimate client's upload latency with no
# attack, then while one address keeps 1,000 slow connections open and
# floods junk bodies. Loopback only.
#
#   scripts/bench-abuse.sh [--uploads N] [--slow N] [--flooders N] [--server PATH]
#   BREVORA_BENCH_DIR=DIR    build folder (default build/bench-server)
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
dir="${BREVORA_BENCH_DIR:-$root/build/bench-server}"
cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBREVORA_SANITIZE=OFF >/dev/null
cmake --build "$dir" -j2 --target abuse_bench brevora-report-server >/dev/null

cpu="$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)"
memory="$(awk '/^MemTotal/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo)"
echo "machine: $(nproc) CPUs ($cpu), $memory RAM, $(uname -sr), load $(cut -d' ' -f1-3 /proc/loadavg)"
# 1,000 connections need more descriptors than the usual soft limit of 1024.
ulimit -n "$(ulimit -Hn)"
exec "$dir/bin/abuse_bench" "$@"

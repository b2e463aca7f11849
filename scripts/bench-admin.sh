#!/usr/bin/env bash
# Builds the maintainers' interface benchmark in Release, without
# sanitizers, and runs it: 100,000 stored reports, then the list page, a
# filtered search and a report page, median and 99th percentile.
#
#   scripts/bench-admin.sh [--reports N] [--requests N]
#   BREVORA_BENCH_DIR=DIR    build folder (default build/bench-server)
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
dir="${BREVORA_BENCH_DIR:-$root/build/bench-server}"
cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBREVORA_SANITIZE=OFF >/dev/null
cmake --build "$dir" -j 2 --target admin_bench >/dev/null

cpu="$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)"
memory="$(awk '/^MemTotal/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo)"
echo "machine: $(nproc) CPUs ($cpu), $memory RAM, $(uname -sr), data folder in ${TMPDIR:-/tmp}"
exec "$dir/bin/admin_bench" "$@"

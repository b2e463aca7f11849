#!/usr/bin/env bash
# Builds the crash benchmarks in Release, without sanitizers, and runs the
# Crashes page one: a million crash reports in 20,000 groups, then the
# page's query and rendering for each period, median and worst.
#
#   scripts/bench-crash.sh [REPORTS [GROUPS]]
#   BREVORA_BENCH_DIR=DIR    build folder (default build/bench-server)
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
dir="${BREVORA_BENCH_DIR:-$root/build/bench-server}"
cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBREVORA_SANITIZE=OFF >/dev/null
cmake --build "$dir" -j 2 --target crash_bench >/dev/null

cpu="$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)"
echo "machine: $(nproc) CPUs ($cpu), data folder in ${TMPDIR:-/tmp}"
exec "$dir/bin/crash_bench" "$@"

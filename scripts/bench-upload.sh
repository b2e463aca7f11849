#!/usr/bin/env bash
# Benchmark of the upload (prints figures; not a test).
#
#   scripts/bench-upload.sh
#
# 1. Natively, optimised: Base64Encode plus the wrapping into lines of 100 on
#    1, 8 and 15 MiB, in MB/s of input. glibc is kept from handing freed
#    memory back to the kernel, so the figures are the encoder's and not the
#    page faults of fresh allocations.
# 2. Under Wine, against the reference server on loopback, with application
#    logs of 1, 8 and 15 MiB: the time from the click on Send to the
#    thank-you box (the server's 201 has arrived), beside curl posting the
#    same body (read back from the server) to the same server, the ratio of
#    the two, and the reporter's peak private memory as a multiple of the
#    body's size.
#
# Trees: build/bench-native (Release, made here) and build/win64 (the
# windows-x64 preset); BREVORA_BENCH_NATIVE and BREVORA_WIN_BUILD name others.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
scripts/setup.sh
jobs="$(nproc)"
native="${BREVORA_BENCH_NATIVE:-$root/build/bench-native}"
win="${BREVORA_WIN_BUILD:-$root/build/win64}"
work="$(mktemp -d "${TMPDIR:-/tmp}/brevora-bench-upload.XXXXXX")"
state="$work/wine"

[ -f "$native/CMakeCache.txt" ] || cmake -S "$root" -B "$native" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$native" -j "$jobs" --target upload_bench brevora-report-server >/dev/null
[ -n "${BREVORA_WIN_BUILD:-}" ] || cmake --preset windows-x64 >/dev/null
cmake --build "$win" -j "$jobs" --target brevora-bugreporter upload_bench_driver >/dev/null

echo "machine: $(lscpu | sed -n 's/^Model name: *//p' | head -n 1), $(nproc) cores, $(free -g | awk '/^Mem:/ {print $2}') GiB"
echo
echo "== Base64Encode + wrapping, native, Release"
MALLOC_MMAP_THRESHOLD_=1073741824 MALLOC_TRIM_THRESHOLD_=1073741824 "$native/bin/upload_bench"

port="$(sed -n 's/^BREVORA_REPORT_SERVER_PORT:STRING=//p' "$win/CMakeCache.txt")"
server="$native/bin/brevora-report-server"
mkdir -p "$work/data"
"$server" serve --data "$work/data" --listen "127.0.0.1:$port" --rate-limit off 2>"$work/server.log" </dev/null &
server_pid=$!
trap 'kill $server_pid 2>/dev/null; wait $server_pid 2>/dev/null; scripts/wine-stop.sh --state "$state"; rm -rf "$work"' EXIT
for _ in $(seq 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
    sleep 0.1
done

scripts/wine-run.sh --state "$state" cmd /c exit
logdir="$state/prefix/drive_c/users/$(id -un)/.brevora"
mkdir -p "$logdir"
exe="Z:$(realpath "$win/bin/brevora-bugreporter.exe" | tr '/' '\\')"

echo
echo "== Send under Wine: click to 201 (thank-you box) vs curl with the same body"
printf '%-8s %12s %14s %10s %8s %12s %10s\n' "log" "body bytes" "reporter ms" "curl ms" "ratio" "peak private" "x body"
for mib in 1 8 15; do
    python3 - "$logdir/brevora.log" "$mib" <<'PY'
import sys
path, mib = sys.argv[1], int(sys.argv[2])
line = b"2026-01-05 10:00:00.000 library: scanning E:/music/album/track.mp3 ok\r\n"
data = line * (mib * 1024 * 1024 // len(line) + 1)
open(path, "wb").write(data[: mib * 1024 * 1024])
PY
    result="$(scripts/wine-run.sh --state "$state" "$win/bin/upload_bench_driver.exe" "$exe" 2>/dev/null | tr -d '\r')"
    ms="$(sed -n 's/.*click_to_thanks_ms=\([0-9]*\).*/\1/p' <<<"$result")"
    peak="$(sed -n 's/.*peak_private_bytes=\([0-9]*\).*/\1/p' <<<"$result")"
    [ -n "$ms" ] || { echo "no upload for $mib MiB: $result" >&2; exit 1; }
    # The body as the server stored it; export prints the newest report last.
    rm -rf "$work/reports"
    body="$("$server" export --data "$work/data" --all "$work/reports" | tail -n 1)/raw_body"
    bytes="$(stat -c %s "$body")"
    # The reporter's one header; no 100-continue round trip, as WinINet sends none.
    curl_s="$(curl -s -o /dev/null -w '%{http_code} %{time_total}' -H 'Expect:' \
        -H 'Content-Type: application/x-www-form-urlencoded' --data-binary @"$body" \
        "http://127.0.0.1:$port/bugreport/report/")"
    [ "${curl_s%% *}" = 201 ] || { echo "curl got ${curl_s%% *}" >&2; exit 1; }
    curl_ms="$(awk -v t="${curl_s#* }" 'BEGIN { printf "%.0f", t * 1000 }')"
    awk -v mib="$mib" -v bytes="$bytes" -v ms="$ms" -v cms="$curl_ms" -v peak="$peak" 'BEGIN {
        printf "%-8s %12d %14d %10d %8.1f %10.1f MB %10.1f\n", mib " MiB", bytes, ms, cms, ms / (cms > 0 ? cms : 1),
               peak / 1e6, peak / bytes }'
done

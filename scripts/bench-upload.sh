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
#    logs of 1, 8 and 15 MiB and a sparse one of 2 GiB (its last 16 MiB
#    written): the time from the click on Send to the server's 201 (its log
#    line, written once the answer is out) and to the thank-you box, beside
#    curl posting the same body (read back from the server) with the same
#    headers to the same server, the ratios, and the reporter's peak private
#    memory, beside the body's size. Medians of 5 runs each.
# 3. Under Wine, a 15 MiB log (a body of 20 MiB) through a line that passes
#    2 MiB/s (tests/wine/slow_link.py, receive buffer 128 KiB): the longest
#    time the form took to answer a sent message while the body went out.
#
# The prefix has HKCU\Software\Wine\X11 Driver Managed=N (wine-run.sh sets it
# in every prefix): on Xvfb without a window manager Wine would otherwise
# block the thread that shows or hides a top-level window (the progress box)
# for up to 2 s.
#
# BREVORA_BENCH_RUNS sets the runs per figure (default 5);
# BREVORA_BENCH_SIZES picks the sizes of part 2 (default "1 8 15 2048s");
# BREVORA_BENCH_SLOW_LINE=0 leaves out part 3.
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
"$server" serve --data "$work/data" --listen "127.0.0.1:$port" --rate-limit off --no-admin 2>"$work/server.log" </dev/null &
server_pid=$!
link_pid=""
# Under set -e a failing kill or the killed server's status (143) would end
# the trap early and become the script's status.
trap 'kill $server_pid $link_pid 2>/dev/null || true; wait $server_pid $link_pid 2>/dev/null || true
      scripts/wine-stop.sh --state "$state" || true; rm -rf "$work"' EXIT
for _ in $(seq 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
    sleep 0.1
done

scripts/wine-run.sh --state "$state" cmd /c exit
logdir="$state/prefix/drive_c/users/$(id -un)/.brevora"
mkdir -p "$logdir"
exe="Z:$(realpath "$win/bin/brevora-bugreporter.exe" | tr '/' '\\')"

runs="${BREVORA_BENCH_RUNS:-5}"

# write_log SIZE_MIB [SPARSE_GIB]: log lines; a sparse log has only its last SIZE_MIB written.
write_log() {
    python3 - "$logdir/brevora.log" "$1" "${2:-0}" <<'PY'
import sys
path, mib, sparse_gib = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
line = b"2026-01-05 10:00:00.000 library: scanning E:/music/album/track.mp3 ok\r\n"
data = (line * (mib * 1024 * 1024 // len(line) + 1))[: mib * 1024 * 1024]
with open(path, "wb") as f:
    if sparse_gib:
        f.seek(sparse_gib * 1024 ** 3 - len(data))
    f.write(data)
PY
}

# One Send; sets ms, peak and slow (longest unresponsive stretch).
send_once() {
    local result
    result="$(scripts/wine-run.sh --state "$state" "$win/bin/upload_bench_driver.exe" "$exe" 2>/dev/null | tr -d '\r')"
    ms="$(sed -n 's/.*click_to_thanks_ms=\([0-9]*\).*/\1/p' <<<"$result")"
    peak="$(sed -n 's/.*peak_private_bytes=\([0-9]*\).*/\1/p' <<<"$result")"
    slow="$(sed -n 's/.*longest_unresponsive_ms=\([0-9]*\).*/\1/p' <<<"$result")"
    [ -n "$ms" ] || { echo "no upload: $result" >&2; exit 1; }
    # Click to 201: the server logs each request once its answer is written.
    local click answered
    click="$(sed -n 's/.*click_unix_ms=\([0-9]*\).*/\1/p' <<<"$result")"
    answered="$(grep ' POST /bugreport/report/ 201 ' "$work/server.log" | tail -n 1 | cut -d ' ' -f 1)"
    to201="$(python3 -c 'import sys, datetime as d
t = d.datetime.strptime(sys.argv[1], "%Y-%m-%dT%H:%M:%S.%fZ").replace(tzinfo=d.timezone.utc)
print(round(t.timestamp() * 1000) - int(sys.argv[2]))' "$answered" "$click")"
}

median() { tr ' ' '\n' | sed '/^$/d' | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# The body as the server stored it; export prints the newest report last.
last_body() {
    rm -rf "$work/reports"
    cp "$("$server" export --data "$work/data" --all "$work/reports" | tail -n 1)/raw_body" "$work/body"
}

curl_once() {
    local out
    # The reporter's headers, a new report's key included; no 100-continue
    # round trip, as WinINet sends none.
    out="$(curl -s -o /dev/null -w '%{http_code} %{time_total}' -H 'Expect:' \
        -H 'Content-Type: application/x-www-form-urlencoded' -H "Idempotency-Key: $(od -An -N16 -tx1 /dev/urandom | tr -d ' \n')" \
        --data-binary @"$work/body" \
        "http://127.0.0.1:$port/bugreport/report/")"
    [ "${out%% *}" = 201 ] || { echo "curl got ${out%% *}" >&2; exit 1; }
    awk -v t="${out#* }" 'BEGIN { printf "%.0f", t * 1000 }'
}

echo
echo "== Send under Wine: click to 201 (the server's log line) and to the thank-you box vs curl with the same request, medians of $runs runs"
printf '%-10s %12s %10s %10s %9s %8s %8s %14s %16s\n' "log" "body bytes" "to 201 ms" "thanks ms" "curl ms" "ratio" "thanks/c" "peak private" "peak - body"
for size in ${BREVORA_BENCH_SIZES:-1 8 15 2048s}; do
    if [ "$size" = 2048s ]; then write_log 16 2; label="2 GiB sp."; else write_log "$size"; label="$size MiB"; fi
    all_ms="" all_201="" all_curl="" all_peak=""
    for _ in $(seq "$runs"); do
        send_once
        last_body
        all_ms="$all_ms $ms" all_201="$all_201 $to201" all_peak="$all_peak $peak" all_curl="$all_curl $(curl_once)"
    done
    bytes="$(stat -c %s "$work/body")"
    awk -v label="$label" -v bytes="$bytes" -v ms="$(median <<<"$all_ms")" -v to201="$(median <<<"$all_201")" \
        -v cms="$(median <<<"$all_curl")" -v peak="$(median <<<"$all_peak")" 'BEGIN {
        c = cms > 0 ? cms : 1
        printf "%-10s %12d %10d %10d %9d %8.2f %8.2f %11.1f MB %13.1f MB\n", label, bytes, to201, ms, cms, to201 / c,
               ms / c, peak / 1e6, (peak - bytes) / 1e6 }'
done

[ "${BREVORA_BENCH_SLOW_LINE:-1}" = 1 ] || exit 0
echo
echo "== The form's longest unresponsive stretch while a 20 MiB body goes out at 2 MiB/s, $runs runs"
kill "$server_pid"; wait "$server_pid" 2>/dev/null || true
"$server" serve --data "$work/data" --listen "127.0.0.1:$((port + 1))" --rate-limit off --no-admin 2>>"$work/server.log" </dev/null &
server_pid=$!
python3 tests/wine/slow_link.py "$port" "$((port + 1))" 2097152 "$work/link.log" </dev/null 2>>"$work/server.log" &
link_pid=$!
for _ in $(seq 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$((port + 1))") 2>/dev/null && (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
    sleep 0.1
done
write_log 15
all_slow="" all_ms=""
for _ in $(seq "$runs"); do
    send_once
    all_slow="$all_slow $slow" all_ms="$all_ms $ms"
done
echo "click to 201: median $(median <<<"$all_ms") ms; longest unresponsive stretch per run:$all_slow ms (median $(median <<<"$all_slow") ms)"

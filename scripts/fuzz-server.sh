#!/usr/bin/env bash
# Fuzzes the report server's readers of untrusted bytes with libFuzzer, each
# for a bounded time: the upload body parsers (bug report and crash report,
# seeds in server/fuzz/corpus) and the crash dump reader (minidump and PE
# image, seeds in server/fuzz/minidump_corpus). New inputs go to each
# target's working corpus under the output folder, crashes to its artifacts/.
#
#   scripts/fuzz-server.sh [SECONDS] [TARGET]   default 60 seconds for each
#                                               of report_parser and minidump
#   BREVORA_FUZZ_DIR=DIR                        output folder (default build/fuzz-server)
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-60}"
case "$seconds" in
    ''|*[!0-9]*) echo "usage: $0 [SECONDS] [report_parser|minidump]" >&2; exit 2 ;;
esac
targets="${2:-report_parser minidump}"
out="${BREVORA_FUZZ_DIR:-$root/build/fuzz-server}"

flags=(-std=c++17 -g -O1 -fno-omit-frame-pointer
       -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined -I"$root")
status=0
for target in $targets; do
    case "$target" in
    report_parser)
        sources=(server/report/report_parser.cpp server/report/report_body.cpp server/report/base64_decode.cpp
                 report_format/base64.cpp report_format/crash_body.cpp report_format/record_format.cpp
                 report_format/section_text.cpp)
        seeds="$root/server/fuzz/corpus"
        options=(-max_len=65536 -dict="$root/server/fuzz/report_parser.dict") ;;
    minidump)
        sources=(server/minidump/*.cpp)
        seeds="$root/server/fuzz/minidump_corpus"
        options=(-max_len=131072) ;;
    *) echo "$0: no fuzz target $target" >&2; exit 2 ;;
    esac
    work="$out/$target"
    mkdir -p "$work/corpus" "$work/artifacts"
    (cd "$root" && clang++ "${flags[@]}" "server/fuzz/${target}_fuzzer.cpp" "${sources[@]}" \
        -o "$work/${target}_fuzzer")
    # The seeds are read, never written: libFuzzer adds to the first folder only.
    (cd "$work" && ./"${target}_fuzzer" \
        -max_total_time="$seconds" \
        "${options[@]}" \
        -artifact_prefix="$work/artifacts/" \
        -print_final_stats=1 \
        "$work/corpus" "$seeds") || status=$?
done
exit "$status"

#!/usr/bin/env bash
# Fuzzes the report server's upload body parsers (bug report and crash
# report) with libFuzzer for a bounded
# time, starting from the seed corpus in server/fuzz/corpus. New inputs go to
# the working corpus under the output folder, crashes to its artifacts/.
#
#   scripts/fuzz-server.sh [SECONDS]      default 60
#   BREVORA_FUZZ_DIR=DIR                  output folder (default build/fuzz-server)
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-60}"
case "$seconds" in
    ''|*[!0-9]*) echo "usage: $0 [SECONDS]" >&2; exit 2 ;;
esac
out="${BREVORA_FUZZ_DIR:-$root/build/fuzz-server}"
mkdir -p "$out/corpus" "$out/artifacts"

clang++ -std=c++17 -g -O1 -fno-omit-frame-pointer \
    -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -I"$root" \
    "$root/server/fuzz/report_parser_fuzzer.cpp" \
    "$root/server/report/report_parser.cpp" \
    "$root/server/report/report_body.cpp" \
    "$root/server/report/base64_decode.cpp" \
    "$root/report_format/base64.cpp" \
    "$root/report_format/crash_body.cpp" \
    "$root/report_format/record_format.cpp" \
    "$root/report_format/section_text.cpp" \
    -o "$out/report_parser_fuzzer"

cd "$out"
# The seeds are read, never written: libFuzzer adds to the first folder only.
exec ./report_parser_fuzzer \
    -max_total_time="$seconds" \
    -max_len=65536 \
    -dict="$root/server/fuzz/report_parser.dict" \
    -artifact_prefix="$out/artifacts/" \
    -print_final_stats=1 \
    "$out/corpus" "$root/server/fuzz/corpus"

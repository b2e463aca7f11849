#!/usr/bin/env bash
# Builds every tree and runs every test: the portable code and the report
# server natively (under ASan and UBSan), the Windows program and its tests
# under Wine, and a compile of the 32-bit Windows program.
#
#   scripts/test.sh            everything
#   BREVORA_TEST_FILTER=REGEX  only the CTest tests whose names match
#   CI=true                    a skipped test fails the run
#
# It ends with the time taken and "N passed, M failed, K skipped".
set -uo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
"$root/scripts/setup.sh" || exit 1

start=$(date +%s)
jobs="$(nproc)"
filter=()
[ -n "${BREVORA_TEST_FILTER:-}" ] && filter=(-R "$BREVORA_TEST_FILTER")
failed=0
summary=()

step() {  # step NAME COMMAND...
    echo "==> $1"
    shift
    "$@" || { echo "==> FAILED: $*" >&2; failed=1; return 1; }
}

run_ctest() {  # run_ctest PRESET-DIR LABEL EXTRA-ARGS...
    local dir="$1" label="$2"
    shift 2
    local log="$dir/ctest.log"
    (cd "$dir" && ctest --output-on-failure "${filter[@]}" "$@") 2>&1 | tee "$log"
    local rc=${PIPESTATUS[0]}
    local line total failed_here skipped_here
    line="$(grep -E 'tests passed, [0-9]+ tests failed out of' "$log" | tail -n 1)"
    total="$(sed -nE 's/.*failed out of ([0-9]+).*/\1/p' <<<"$line")"
    failed_here="$(sed -nE 's/.*, ([0-9]+) tests failed.*/\1/p' <<<"$line")"
    # CTest counts a skipped test as passed and lists it under "did not run".
    skipped_here="$(grep -cE '^[[:space:]]*[0-9]+ - .* \(Skipped\)$' "$log")"
    summary+=("$label: ${line:-no result}${skipped_here:+, $skipped_here skipped}")
    [ "$rc" -eq 0 ] || failed=1
    totals_passed=$((totals_passed + ${total:-0} - ${failed_here:-0} - skipped_here))
    totals_failed=$((totals_failed + ${failed_here:-0}))
    totals_skipped=$((totals_skipped + skipped_here))
    if [ "${CI:-}" = true ] && [ "$skipped_here" -gt 0 ]; then
        # Every test can run on CI (root, so the off-line tests too): a skip
        # there means something is missing.
        echo "==> FAILED: $label: tests skipped on CI:" >&2
        grep -E '^[[:space:]]*[0-9]+ - .* \(Skipped\)$' "$log" >&2
        failed=1
    fi
}
totals_passed=0
totals_failed=0
totals_skipped=0

# Native tree: portable code and the server.
if step "configure linux-native" cmake --preset linux-native >/dev/null &&
   step "build linux-native" cmake --build --preset linux-native -j "$jobs"; then
    run_ctest build/native native -j "$jobs"
else
    totals_failed=$((totals_failed + 1))
fi

# Windows x86-64 tree: the program and its tests under Wine, side by side in
# a pool of prefixes (scripts/wine-run.sh), each made afresh.
if step "configure windows-x64" cmake --preset windows-x64 >/dev/null &&
   step "build windows-x64" cmake --build --preset windows-x64 -j "$jobs"; then
    scripts/wine-stop.sh --pool build/win64/wine
    rm -rf build/win64/wine
    export BREVORA_WINE_SLOTS="$jobs"
    run_ctest build/win64 wine --timeout 300 -j "$jobs"
    scripts/wine-stop.sh --pool build/win64/wine
else
    totals_failed=$((totals_failed + 1))
fi

# Windows i686 tree: the program must compile with 32-bit record sizes.
step "configure windows-x86" cmake --preset windows-x86 >/dev/null &&
    step "build windows-x86" cmake --build --preset windows-x86 -j "$jobs" || totals_failed=$((totals_failed + 1))

echo
for s in "${summary[@]}"; do echo "$s"; done
echo "time: $(( $(date +%s) - start )) s"
echo "$totals_passed passed, $totals_failed failed, $totals_skipped skipped"
exit "$failed"

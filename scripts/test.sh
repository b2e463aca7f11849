#!/usr/bin/env bash
# Builds every tree and runs every test: the portable code and the report
# server natively (under ASan and UBSan), the maintainers' interface in
# headless Chromium (scripts/browser-test.sh), the Windows program and its tests
# under Wine, and a compile of the 32-bit Windows program.
#
#   scripts/test.sh            everything
#   BREVORA_TEST_FILTER=REGEX  only the CTest tests whose names match
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
    local line
    line="$(grep -E 'tests passed, [0-9]+ tests failed out of' "$log" | tail -n 1)"
    summary+=("$label: ${line:-no result}")
    [ "$rc" -eq 0 ] || failed=1
    totals_passed=$((totals_passed + $(echo "$line" | sed -nE 's/.*failed out of ([0-9]+).*/\1/p' | head -n1) - \
        $(echo "$line" | sed -nE 's/.*, ([0-9]+) tests failed.*/\1/p' | head -n1)))
    totals_failed=$((totals_failed + $(echo "$line" | sed -nE 's/.*, ([0-9]+) tests failed.*/\1/p' | head -n1)))
}
totals_passed=0
totals_failed=0

# Native tree: portable code and the server.
if step "configure linux-native" cmake --preset linux-native >/dev/null &&
   step "build linux-native" cmake --build --preset linux-native -j "$jobs"; then
    run_ctest build/native native -j "$jobs"
else
    totals_failed=$((totals_failed + 1))
fi

# The maintainers' interface in a real browser, against the native server.
if [ -z "${BREVORA_TEST_FILTER:-}" ]; then
    echo "==> browser test"
    scripts/browser-test.sh
    rc=$?
    if [ "$rc" -eq 0 ]; then
        summary+=("browser: scenario passed")
        totals_passed=$((totals_passed + 1))
    elif [ "$rc" -eq 77 ]; then
        summary+=("browser: SKIPPED, no Chromium installed")
    else
        summary+=("browser: scenario FAILED")
        totals_failed=$((totals_failed + 1))
        failed=1
    fi
fi

# Windows x86-64 tree: the program and its tests under Wine, one prefix.
if step "configure windows-x64" cmake --preset windows-x64 >/dev/null &&
   step "build windows-x64" cmake --build --preset windows-x64 -j "$jobs"; then
    # A fresh prefix per run; tests that share it run one at a time.
    # wine-tls: the HTTPS tests' own prefix.
    for state in build/win64/wine build/win64/wine-tls; do
        scripts/wine-stop.sh --state "$state"
        rm -rf "$state"
    done
    run_ctest build/win64 wine --timeout 300
    scripts/wine-stop.sh --state build/win64/wine
    scripts/wine-stop.sh --state build/win64/wine-tls
else
    totals_failed=$((totals_failed + 1))
fi

# Windows i686 tree: the program must compile with 32-bit record sizes.
step "configure windows-x86" cmake --preset windows-x86 >/dev/null &&
    step "build windows-x86" cmake --build --preset windows-x86 -j "$jobs" || totals_failed=$((totals_failed + 1))

echo
for s in "${summary[@]}"; do echo "$s"; done
echo "time: $(( $(date +%s) - start )) s"
echo "$totals_passed passed, $totals_failed failed"
exit "$failed"

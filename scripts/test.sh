#!/usr/bin/env bash
# Builds every tree and runs every test: the portable code and the report
# server natively (under ASan and UBSan), the Windows program and its tests
# under Wine, and a compile of the 32-bit Windows program.
#
#   scripts/test.sh            everything
#   BREVORA_TEST_FILTER=REGEX  only the CTest tests whose names match
#   CI=true                    a skipped test fails the run
#
# It prints the time of each step and of the whole run, and ends with
# "N passed, M failed, K skipped".
#
# The Windows tests mostly wait (for windows, timeouts, the diagnostic
# tool), so the rest of the native tree, its tests and the 32-bit build run
# meanwhile, at a lower priority than the tests.
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
totals_passed=0
totals_failed=0
totals_skipped=0

step() {  # step NAME COMMAND...
    local name="$1" began
    began=$(date +%s)
    echo "==> $name"
    shift
    if ! "$@"; then
        echo "==> FAILED: $name ($*)" >&2
        failed=1
        return 1
    fi
    echo "==> $name: $(( $(date +%s) - began )) s"
}

quietly() {  # quietly COMMAND...: without its standard output
    "$@" >/dev/null
}

ctest_in() {  # ctest_in PRESET-DIR EXTRA-ARGS...: CTest's output goes to PRESET-DIR/ctest.log
    local dir="$1" priority=()
    shift
    [ -n "${nice_ctest:-}" ] && priority=(nice)
    (cd "$dir" && "${priority[@]}" ctest --output-on-failure "${filter[@]}" "$@") >"$dir/ctest.log" 2>&1
}

count_ctest() {  # count_ctest PRESET-DIR LABEL STATUS: adds a CTest run to the totals
    local log="$1/ctest.log" label="$2" rc="$3"
    local line total failed_here skipped_here
    line="$(grep -E 'tests passed, [0-9]+ tests failed out of' "$log" | tail -n 1)"
    total="$(sed -nE 's/.*failed out of ([0-9]+).*/\1/p' <<<"$line")"
    failed_here="$(sed -nE 's/.*, ([0-9]+) tests failed.*/\1/p' <<<"$line")"
    # CTest counts a skipped test as passed and lists it under "did not run".
    skipped_here="$(grep -cE '^[[:space:]]*[0-9]+ - .* \(Skipped\)$' "$log")"
    summary+=("$label: ${line:-no result}, $skipped_here skipped")
    if [ "$rc" -ne 0 ]; then
        failed=1
        [ -n "$line" ] || totals_failed=$((totals_failed + 1))
    fi
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

# Windows x86-64 tree: the program and its tests under Wine, side by side in
# a pool of prefixes (scripts/wine-run.sh), each made afresh. Their
# wineservers and displays outlive each test; they end with the run, however
# it ends. The first prefix is made while the trees build.
wine_pool="$root/build/win64/wine"
trap 'scripts/wine-stop.sh --pool "$wine_pool"' EXIT
scripts/wine-stop.sh --pool "$wine_pool"
rm -rf "$wine_pool"
scripts/wine-run.sh --prepare --pool "$wine_pool" >/dev/null 2>&1 &
prepare_pid=$!

# The report server first: the Windows tests run the native tree's.
native_ok=0
step "configure linux-native" quietly cmake --preset linux-native &&
    step "build the report server and minidump_print" cmake --build --preset linux-native -j "$jobs" --target brevora-report-server minidump_print &&
    native_ok=1

wine_pid=""
if step "configure windows-x64" quietly cmake --preset windows-x64 &&
   step "build windows-x64" cmake --build --preset windows-x64 -j "$jobs"; then
    wait "$prepare_pid"
    # Twice the cores, and at least three: most of a Windows test's time is
    # spent waiting (for windows, timers, time limits, a slowed line).
    export BREVORA_WINE_SLOTS=$((2 * jobs > 3 ? 2 * jobs : 3))
    echo "==> Windows tests (under way; build/win64/ctest.log)"
    wine_began=$(date +%s)
    # A Windows test that fails is run once more (timing under Wine on a busy
    # machine); CTest names it in its log, and a second failure fails the run.
    # Their end is noted, as the native steps may still run then.
    rm -f build/win64/ctest.ended
    { ctest_in build/win64 --timeout 300 -j "$BREVORA_WINE_SLOTS" --repeat until-pass:2; status=$?
      date +%s >build/win64/ctest.ended; exit "$status"; } &
    wine_pid=$!
else
    totals_failed=$((totals_failed + 1))
fi

# Meanwhile: the rest of the native tree and its tests (portable code and
# the server), and the i686 tree, which must compile with 32-bit record sizes.
if [ "$native_ok" = 1 ] && step "build linux-native" nice cmake --build --preset linux-native -j "$jobs"; then
    echo "==> native tests"
    status=0
    native_began=$(date +%s)
    # One PostgreSQL cluster for every test process (each makes databases of
    # its own in it), not an initdb per test.
    if pg_dir="$(scripts/test-postgres.sh start)"; then
        export BREVORA_TEST_POSTGRES_DIR="$pg_dir"
        trap 'scripts/wine-stop.sh --pool "$wine_pool"; scripts/test-postgres.sh stop "$pg_dir"' EXIT
    fi
    nice_ctest=1 ctest_in build/native -j "$jobs" || status=$?
    cat build/native/ctest.log
    echo "==> native tests: $(( $(date +%s) - native_began )) s"
    count_ctest build/native native "$status"
else
    totals_failed=$((totals_failed + 1))
fi
step "configure windows-x86" quietly cmake --preset windows-x86 &&
    step "build windows-x86" nice cmake --build --preset windows-x86 -j "$jobs" || totals_failed=$((totals_failed + 1))

# The maintainers' interface in a real browser, against the native server.
if [ "$native_ok" = 1 ] && [ -z "${BREVORA_TEST_FILTER:-}" ]; then
    echo "==> browser test"
    status=0
    scripts/browser-test.sh || status=$?
    if [ "$status" -eq 0 ]; then
        summary+=("browser: scenario passed")
        totals_passed=$((totals_passed + 1))
    elif [ "$status" -eq 77 ]; then
        summary+=("browser: SKIPPED, no Chromium installed")
        totals_skipped=$((totals_skipped + 1))
        if [ "${CI:-}" = true ]; then
            echo "==> FAILED: the browser test was skipped on CI" >&2
            failed=1
        fi
    else
        summary+=("browser: scenario FAILED")
        totals_failed=$((totals_failed + 1))
        failed=1
    fi
fi

if [ -n "$wine_pid" ]; then
    wait "$wine_pid"
    status=$?
    cat build/win64/ctest.log
    echo "==> Windows tests: $(( $(cat build/win64/ctest.ended 2>/dev/null || date +%s) - wine_began )) s"
    count_ctest build/win64 wine "$status"
fi

echo
for s in "${summary[@]}"; do echo "$s"; done
echo "time: $(( $(date +%s) - start )) s"
echo "$totals_passed passed, $totals_failed failed, $totals_skipped skipped"
exit "$failed"

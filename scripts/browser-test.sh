#!/usr/bin/env bash
# The maintainers' interface in headless Chromium (Playwright's
# playwright-core driving the system's Chromium; no browser is downloaded):
# one scenario against the server of the native build.
#
#   scripts/browser-test.sh [SCREENSHOT-DIR]
#
# Needs build/native (brevora-report-server and report_body_tool). Skips,
# saying so and with exit status 77, only when no Chromium is installed.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
chromium="${BREVORA_CHROMIUM:-/usr/bin/chromium}"
if [ ! -x "$chromium" ]; then
    echo "browser test SKIPPED: no Chromium at $chromium (scripts/setup.sh installs Debian's chromium)" >&2
    exit 77
fi
for tool in brevora-report-server report_body_tool; do
    if [ ! -x "$root/build/native/bin/$tool" ]; then
        echo "browser test: build/native/bin/$tool is missing; build the linux-native preset first" >&2
        exit 1
    fi
done

shots=""
if [ $# -gt 0 ]; then
    mkdir -p "$1"
    shots="$(cd "$1" && pwd)"
fi
cd "$root/tests/browser"
# The locked playwright-core from the npm registry; its browser download is
# never wanted.
export PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1
if [ ! -d node_modules/playwright-core ] || [ package-lock.json -nt node_modules/.package-lock.json ]; then
    npm ci --no-audit --no-fund --loglevel=error
fi
BREVORA_CHROMIUM="$chromium" node admin_scenario.mjs "$root/build/native" $shots

#!/usr/bin/env bash
# Runs a Windows test program under Wine with a Japanese locale, so that
# Wine's ANSI code page is 932 (Shift-JIS). Wine takes the code page from the
# Unix locale and its programs pass it on to the programs they start.
#
#   with_japanese_locale.sh LOCALES STATE PROGRAM [ARGS...]
#
# LOCALES holds ja_JP.UTF-8 compiled with localedef (the build makes it), so
# the machine needs no generated locale of its own. STATE is the Wine state
# folder for scripts/wine-run.sh. The diagnostic tool at its fixed path is
# run as native code when it is not Wine's own.
set -euo pipefail

locales="$1" state="$2"
shift 2
here="$(cd "$(dirname "$0")" && pwd)"

export LOCPATH="$locales" LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}dxdiag.exe=n,b"
exec "$here/../../scripts/wine-run.sh" --state "$state" "$@"

#!/usr/bin/env bash
# Runs a command (scripts/wine-run.sh ...) with a Japanese locale, so that
# Wine's ANSI code page is 932 (Shift-JIS). Wine takes the code page from the
# Unix locale and its programs pass it on to the programs they start.
#
#   with_japanese_locale.sh LOCALES COMMAND [ARGS...]
#
# LOCALES holds ja_JP.UTF-8 compiled with localedef (the build makes it), so
# the machine needs no generated locale of its own.
set -euo pipefail

locales="$1"
shift
# Set for the command only: this shell cannot take the locale from LOCPATH.
exec env LOCPATH="$locales" LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8 "$@"

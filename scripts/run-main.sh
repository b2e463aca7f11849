#!/usr/bin/env bash
# The reporter's main job on an embedded default: builds the Windows program
# and starts it in crash mode under Wine with three files (a dump, a log and
# a configuration file; sample files are made when none are given).
#
#   scripts/run-main.sh [DUMP LOG CONF]
#
# With a display (DISPLAY set) you use the dialog yourself. Without one it
# runs on a private Xvfb display, saves a screenshot of the dialog to
# build/main-job/crash-dialog.png and closes the program.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
scripts/setup.sh
cmake --preset windows-x64 >/dev/null
cmake --build --preset windows-x64 --target brevora-bugreporter -j "$(nproc)"

work="$root/build/main-job"
state="$work/wine"
mkdir -p "$work"
if [ $# -eq 3 ]; then
    files=("$1" "$2" "$3")
else
    printf 'MDMP sample crash dump\n' >"$work/brevora.dmp"
    printf '2026-12-07 10:00:00 player: started\n2026-12-07 10:00:05 player: segmentation fault\n' >"$work/brevora.log"
    printf '[general]\nlanguage=en\n' >"$work/brevora.conf"
    files=("$work/brevora.dmp" "$work/brevora.log" "$work/brevora.conf")
fi
# The program takes Windows paths; Wine maps the Linux root to drive Z:.
winpaths=()
for f in "${files[@]}"; do
    winpaths+=("Z:$(realpath -m "$f" | tr '/' '\\')")
done

exe="$root/build/win64/bin/brevora-bugreporter.exe"
if [ -n "${DISPLAY:-}" ]; then
    exec scripts/wine-run.sh --state "$state" "$exe" "${winpaths[@]}"
fi

# Prepare the prefix and the display first, so the dialog is up when we look.
scripts/wine-run.sh --state "$state" cmd /c exit
scripts/wine-run.sh --state "$state" "$exe" "${winpaths[@]}" &
reporter=$!
sleep 4
shot="$work/crash-dialog.png"
DISPLAY=":$(tr -d "[:space:]" <"$state/display")" import -window root "$shot" && convert "$shot" -trim +repage "$shot" || true
echo "crash dialog shown; screenshot: $shot"
scripts/wine-stop.sh --state "$state"
wait "$reporter" 2>/dev/null || true

#!/usr/bin/env bash
# Copies the dialog screenshots of the last Windows test run into docs/ as PNG.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
src="$root/build/win64/tests/wine/screenshots"
mkdir -p "$root/docs/screenshots"
for bmp in "$src"/*.bmp; do
    name="$(basename "$bmp" .bmp | tr '[:upper:]' '[:lower:]')"
    convert "$bmp" "$root/docs/screenshots/$name.png"
done

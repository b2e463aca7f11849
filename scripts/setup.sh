#!/usr/bin/env bash
# Installs the Debian packages that building, testing and running need.
# Quiet when everything is present; runs apt-get update only when something
# is missing.
set -euo pipefail

packages=(
    cmake ninja-build g++ clang python3 curl googletest
    g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
    wine64 wine fonts-wine xvfb xauth x11-utils imagemagick util-linux iproute2
    libcpp-httplib-dev libsqlite3-dev libcli11-dev libssl-dev openssl pkg-config libclang-rt-14-dev
    libpq-dev postgresql libzstd-dev
    libsodium-dev libkainjow-mustache-dev
    chromium nodejs
    locales
    llvm
)
# The browser test's npm: Debian's, unless a Node.js distribution that
# brings its own is installed (the two conflict).
command -v npm >/dev/null 2>&1 || packages+=(npm)

missing=()
for p in "${packages[@]}"; do
    status="$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)"
    [ "$status" = "install ok installed" ] || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "setup: installing ${missing[*]}" >&2
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null

#!/usr/bin/env bash
# Renders the pictures of the views in resources/screenshots/ on a real X
# server with a window manager (Xvfb and openbox): the desktop test drives the
# program through its session and saves each view at its moment.
# Usage: scripts/screenshots.sh [build directory, default build]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
out=$PWD/resources/screenshots
shots=(pin-prompt install-form hotp-code totp-two-way manage-tokens token-menu
       import-scanned export-dialog qr-code)

./scripts/install-deps.sh
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" --target test_desktop -j "$(nproc 2>/dev/null || echo 2)"

mkdir -p "$out"
for shot in "${shots[@]}"; do rm -f "$out/$shot.png"; done
env -u QT_QPA_PLATFORM VELMORA_SCREENSHOTS="$out" "$build/tests/test_desktop"
for shot in "${shots[@]}"; do
    [ -s "$out/$shot.png" ] || { echo "missing: $out/$shot.png" >&2; exit 1; }
done
echo "Screenshots in $out"

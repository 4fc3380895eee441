#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing Velmora need;
# with --bench also those of the benchmarks (`make bench`). Only missing
# packages are installed, so a second run costs nothing.
set -euo pipefail

packages=(
    cmake make g++ pkg-config
    qt6-base-dev libgl-dev
    libssl-dev openssl
    libsqlite3-dev sqlite3
    # keyring protection: QtKeychain, and the Secret Service its tests (and
    # the benchmarks) run against
    qtkeychain-qt6-dev gnome-keyring
    # the interchange library: QR codes in images; its tests make QR images;
    # the window draws QR codes with libqrencode
    libzxing-dev qrencode libqrencode-dev
    fonts-dejavu-core
    # the clang build, fuzzing and fault injection
    clang libclang-rt-14-dev strace libnss-wrapper
    # the checks of CI: format and clang-tidy
    clang-format clang-tidy python3
    # installing, the Debian package and the checks of the desktop files
    desktop-file-utils appstream dpkg-dev file man-db groff-base
    # the real-desktop test
    xvfb xauth openbox xdotool xclip oathtool x11-utils imagemagick
    # its session bus (dbus-daemon, dbus-send) and a tray (wmdocker)
    dbus-daemon dbus-bin wmdocker
    # the desktop test on a dark palette (GTK theme) and its native Wayland runs
    qt6-gtk-platformtheme weston wl-clipboard qt6-wayland
)
if [ "${1:-}" = "--bench" ]; then
    packages+=(libbenchmark-dev liboath-dev zbar-tools)
fi

missing=()
for pkg in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$pkg")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "Installing: ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
    sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"

#!/usr/bin/env bash
# Installs the Debian packages that koru-panel needs to build, run and test, and only those
# that are missing: a second run installs nothing.
set -euo pipefail

packages=(
    g++ cmake ninja-build pkg-config
    qt6-base-dev qt6-serialport-dev qt6-qpa-plugins libgl-dev
    libgensio-dev libwrap0-dev ser2net
    fonts-ipafont-gothic
    xvfb xdotool x11-utils
    clang libclang-rt-14-dev clang-tidy cppcheck
)
# koru-pjlink's system tests drive it with a PJLink client written elsewhere, the npm package
# pjlink, on Node.js. A machine that has Node.js and npm already keeps its own.
command -v npm >/dev/null && command -v node >/dev/null || packages+=(nodejs npm)

# The PJLink client, at the version tests/pjlink-client/package-lock.json pins, in that
# folder; nothing of it runs at install time.
install_pjlink_client() {
    [ -f tests/pjlink-client/node_modules/pjlink/package.json ] && return 0
    echo "setup: installing the npm package pjlink into tests/pjlink-client"
    npm ci --prefix tests/pjlink-client --ignore-scripts --no-audit --no-fund >/dev/null
}
cd "$(dirname "$0")/.."

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done
if [ ${#missing[@]} -eq 0 ]; then
    install_pjlink_client
    exit 0
fi

sudo=()
if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "setup: run as root, or install sudo" >&2; exit 1; }
    sudo=(sudo)
fi
echo "setup: installing ${missing[*]}"
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
install_pjlink_client

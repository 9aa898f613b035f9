#!/usr/bin/env bash
# Installs the Debian 12 packages Quillmark needs to build, run and test. Safe to run again.
# Usage: scripts/deps.sh [build|all]   (build: what the program needs; all: also every test tier)
set -euo pipefail
what=${1:-all}

build_pkgs=(
    build-essential cmake ninja-build pkg-config git
    qtbase5-dev qtbase5-dev-tools libquazip1-qt5-dev
    libcurl4-openssl-dev libssl-dev libcups2-dev
    libreoffice-writer libreoffice-dev
    cups cups-client cups-bsd
    fonts-wqy-microhei
)
test_pkgs=(
    googletest libgtest-dev
    poppler-utils xvfb xauth trayer xdotool imagemagick x11-utils dbus-x11
    procps psmisc zip unzip python3 desktop-file-utils
    clang-14 libclang-rt-14-dev
)
windows_pkgs=(g++-mingw-w64-i686-posix libz-mingw-w64-dev wine wine32:i386 locales wixl msitools)

pkgs=("${build_pkgs[@]}")
if [ "$what" = all ]; then
    pkgs+=("${test_pkgs[@]}" "${windows_pkgs[@]}")
fi

missing=()
for p in "${pkgs[@]}"; do
    name=${p%%:*}
    arch=${p#*:}
    [ "$arch" = "$p" ] && arch=""
    if ! dpkg-query -W -f='${Status}' "${name}${arch:+:$arch}" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo=sudo
if [ "$what" = all ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
fi
echo "Installing: ${missing[*]}"
$sudo apt-get update
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"

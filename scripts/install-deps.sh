#!/usr/bin/env bash
# Installs the Debian 12 packages Reelbox needs to build, test and run, when they are missing.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config ccache
    qt6-base-dev qt6-svg-dev
    libavformat-dev libavcodec-dev libavutil-dev libswscale-dev libswresample-dev ffmpeg
    libsndfile1-dev nlohmann-json3-dev
    libpipewire-0.3-dev libasound2-dev libudev-dev
    libgtest-dev libgmock-dev libbenchmark-dev bc valgrind
    pipewire pipewire-bin wireplumber dbus dbus-daemon
    xvfb xauth fonts-dejavu-core desktop-file-utils appstream
)
if [ "${1:-}" = "--fuzz" ]; then
    packages+=(clang libclang-rt-14-dev)
fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"

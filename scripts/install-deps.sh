#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing Busprobe need.
# Idempotent: does nothing when every package is already installed. Needs root (or sudo) to install.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  # Qt Charts' CMake package needs Qt OpenGL's (libqt6opengl6-dev), which qt6-charts-dev does not pull in.
  qt6-base-dev qt6-charts-dev libqt6opengl6-dev libgl1-mesa-dev fonts-liberation2
  libgtest-dev libgmock-dev
  libsocketcan-dev
  xvfb xauth
  clang libclang-rt-dev
  can-utils
  # The Debian package (scripts/package.sh, package-test.sh): dpkg-shlibdeps, its checks.
  dpkg-dev lintian desktop-file-utils
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"

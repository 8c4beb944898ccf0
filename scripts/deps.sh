#!/usr/bin/env bash
# Installs the Debian packages the project needs that this machine lacks.
# Checks first; runs apt-get only when something is missing (as root, or via
# sudo when available).
# Usage: scripts/deps.sh [preset]   (the Linux presets by default; windows:
# the cross compiler, Wine and what the Windows tests run with)
set -euo pipefail

preset="${1:-default}"

if [ "$preset" = windows ]; then
  packages=(
    cmake make
    mingw-w64 g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 googletest
    wine wine64 xvfb xauth libgl1-mesa-dri libglx-mesa0
    fonts-dejavu-core fonts-dejavu-extra
  )
else
packages=(
  cmake g++ pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  chromium
  libgl-dev libegl-dev libgl1-mesa-dri libegl-mesa0 libglfw3-dev libx11-dev
  libfreetype-dev libfontconfig-dev fonts-dejavu-core fonts-dejavu-extra libpng-dev
  libepoxy-dev nlohmann-json3-dev
  libassimp-dev assimp-testmodels libstb-dev
  libutf8proc-dev
  clang-14 libclang-rt-14-dev
  xvfb xauth binutils
)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing missing packages: ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then
    sudo_cmd=(sudo)
  else
    echo "These packages are missing and this user cannot install them: ${missing[*]}" >&2
    exit 1
  fi
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"

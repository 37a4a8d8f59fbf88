#!/usr/bin/env bash
# Installs the Debian 12 packages that Morvex needs to build, test and run.
# Only missing packages are installed, so a second run takes under a second
# and needs no network.  Runs apt-get as root, or through sudo.
set -euo pipefail

packages=(
  cmake g++ make pkg-config
  qt6-base-dev qt6-charts-dev libqt6opengl6-dev libxkbcommon-dev
  libgtest-dev googletest
  libjpeg62-turbo-dev libcli11-dev libfmt-dev
  libceres-dev libeigen3-dev
  fonts-dejavu-core xvfb xauth imagemagick
)
# Saving charts as SVG (Qt Svg); checking the desktop entry and writing the
# man page that cmake --install ships.
packages+=(qt6-svg-dev desktop-file-utils help2man)
# The robustness checks of the test run: fuzzing with clang's libFuzzer and
# memory checks under valgrind.
packages+=(clang libclang-rt-14-dev valgrind)
# The benchmark's peer fits (never used by the product).
if [ "${1:-}" = "--bench" ]; then packages+=(python3 python3-numpy python3-scipy python3-pandas); fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then sudo=(); else sudo=(sudo); fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -q
"${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"

#!/usr/bin/env bash
# Installs the Debian 12 packages that Morvex needs.  The one list of
# packages is here, in three groups:
#
#   scripts/install-deps.sh --run     build and run the programs (scripts/run.sh)
#   scripts/install-deps.sh --build   the above, plus what building the tests
#                                     needs (scripts/test.sh installs the rest
#                                     while the build runs)
#   scripts/install-deps.sh [--test]  the above, plus what the tests and the
#                                     robustness checks need (scripts/test.sh)
#   scripts/install-deps.sh --bench   the above, plus the benchmark's Python peer
#
# Only missing packages are installed, so a second run takes under a second
# and needs no network.  Runs apt-get as root, or through sudo.
set -euo pipefail

profile=test
case "${1:-}" in
  --run) profile=run ;;
  --build) profile=build ;;
  --test | '') profile=test ;;
  --bench) profile=bench ;;
  *) echo "install-deps.sh: unknown option '$1' (--run, --build, --test or --bench)" >&2; exit 2 ;;
esac

# Building and running the two programs: the compiler and CMake, Qt 6 with
# Charts and Svg (saving charts as SVG), the libraries of the fitter and the
# command line, a font for the window, and help2man for the man page that
# the build writes and cmake --install ships.
packages=(
  cmake g++ make pkg-config
  qt6-base-dev qt6-charts-dev libqt6opengl6-dev libxkbcommon-dev qt6-svg-dev
  libjpeg62-turbo-dev libcli11-dev libfmt-dev
  libceres-dev libeigen3-dev
  fonts-dejavu-core help2man
)
if [ "$profile" != run ]; then
  # Building the tests: GoogleTest, and the desktop entry's validator, which
  # the build looks for to add the entry's test.
  packages+=(libgtest-dev googletest desktop-file-utils)
fi
if [ "$profile" != run ] && [ "$profile" != build ]; then
  # Running them: poppler-utils (pdftotext, pdftoppm) reads back the
  # validation report's PDF; the screenshots under a virtual X server; the
  # robustness checks of the test run: the sanitizer build and libFuzzer
  # with clang, memory checks under valgrind.
  packages+=(poppler-utils xvfb xauth imagemagick)
  packages+=(clang libclang-rt-14-dev valgrind)
fi
# The benchmark's peer fits (never used by the product).
if [ "$profile" = bench ]; then packages+=(python3 python3-numpy python3-scipy python3-pandas); fi

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
# dpkg without an fsync after every file, which makes most of its time on a
# fresh machine (a crash in the middle means installing again anyway).
"${sudo[@]}" apt-get install -y -q --no-install-recommends -o Dpkg::Options::=--force-unsafe-io "${missing[@]}"

#!/usr/bin/env bash
# Configures and builds Morvex in build/ (programs in build/bin).
#
#   scripts/build.sh [CMAKE_OPTION...]        everything: programs, tests,
#                                             benchmarks, generators
#   scripts/build.sh --run [CMAKE_OPTION...]  only the two programs and the
#                                             files they read (help pages,
#                                             man page, settings)
#
# With --run a new build folder is configured without tests and benchmarks
# (GoogleTest need not be installed); one configured earlier keeps its
# settings, and only the programs' part of it is brought up to date.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
if [ "${1:-}" = --run ]; then
  shift
  options=()
  [ -f build/CMakeCache.txt ] || options=(-DMORVEX_BUILD_TESTS=OFF -DMORVEX_BUILD_BENCH=OFF)
  cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo ${options[@]+"${options[@]}"} "$@" >/dev/null
  cmake --build build -j"$jobs" --target morvex_programs
else
  cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORVEX_BUILD_TESTS=ON -DMORVEX_BUILD_BENCH=ON "$@" >/dev/null
  cmake --build build -j"$jobs"
fi

#!/usr/bin/env bash
# Configures and builds Morvex in build/ (programs in build/bin).
#
#   scripts/build.sh [CMAKE_OPTION...]        everything: programs, tests,
#                                             benchmarks, generators
#   scripts/build.sh --run [CMAKE_OPTION...]  only the two programs and the
#                                             files they read (help pages,
#                                             man page, settings)
#   scripts/build.sh --fit [CMAKE_OPTION...]  only morvex-fit and its settings
#
# With --run or --fit a new build folder is configured without tests and
# benchmarks (GoogleTest need not be installed); one configured earlier
# keeps its settings, and only the programs' part of it is brought up to
# date.
#
# Optimised, with line tables only as debug information (-g1): backtraces,
# valgrind and sanitizer reports name files and lines, and the build takes
# about a tenth less time than with full debug information (for that, pass
# "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g -DNDEBUG").
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG")
case "${1:-}" in
  --run | --fit)
    target=morvex_programs
    [ "$1" = --fit ] && target=morvex-fit
    shift
    options=()
    [ -f build/CMakeCache.txt ] || options=(-DMORVEX_BUILD_TESTS=OFF -DMORVEX_BUILD_BENCH=OFF)
    cmake -S . -B build "${flags[@]}" ${options[@]+"${options[@]}"} "$@" >/dev/null
    cmake --build build -j"$jobs" --target "$target"
    ;;
  *)
    cmake -S . -B build "${flags[@]}" -DMORVEX_BUILD_TESTS=ON -DMORVEX_BUILD_BENCH=ON "$@" >/dev/null
    cmake --build build -j"$jobs"
    ;;
esac

#!/usr/bin/env bash
# Shows that a long session neither leaks nor drifts: builds morvex-fit-loop
# (tools/fit_loop.cpp) in build-leak/ and runs it twice.
#
#   1. 1000 fit commands natively, every channel with every optimizer on the
#      sample data: the heap in use and the resident set after fit 100 and
#      after fit 1000 must agree (16 KB and 1 MB of slack), and each
#      deterministic fit must give the same values every time.
#   2. 60 of them under valgrind's memcheck: no leak (definite, indirect or
#      possible) and no memory error may be reported.
#
# Fails (non-zero status) on any of these.  About a minute on two cores once
# the libraries are built; the first build adds one or two.  Options:
#   --fits N        fits of the native run (default 1000)
#   --valgrind-fits N  fits under valgrind (default 60; 0 skips that run)
# The build folder can be changed with MORVEX_LEAK_BUILD; one already
# configured is used with its own settings.
set -euo pipefail
cd "$(dirname "$0")/.."

fits=1000
valgrind_fits=60
while [ $# -gt 0 ]; do
  case "$1" in
    --fits) fits=$2; shift 2 ;;
    --valgrind-fits) valgrind_fits=$2; shift 2 ;;
    *) echo "usage: $0 [--fits N] [--valgrind-fits N]" >&2; exit 2 ;;
  esac
done

if ! command -v valgrind >/dev/null || ! command -v cmake >/dev/null; then
  bash scripts/install-deps.sh
fi

build=${MORVEX_LEAK_BUILD:-build-leak}
jobs=$(nproc 2>/dev/null || echo 2)
start=$SECONDS

# Optimised with debug information: the numbers of a real build, and
# valgrind's reports name the source lines.
# A build folder that is already configured (the test run passes build/)
# is used as it is.
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DMORVEX_BUILD_TESTS=OFF -DMORVEX_BUILD_UI=OFF -DMORVEX_BUILD_BENCH=OFF >/dev/null
fi
cmake --build "$build" --target morvex-fit-loop -j"$jobs" >/dev/null
program=$build/bin/morvex-fit-loop
echo "built in $((SECONDS - start)) s"

status=0

echo "== $fits fits, native"
t=$SECONDS
if ! "$program" --fits "$fits"; then
  echo "leak-check: the native run failed" >&2
  status=1
fi
echo "($((SECONDS - t)) s)"

if [ "$valgrind_fits" -gt 0 ]; then
  echo "== $valgrind_fits fits under valgrind"
  t=$SECONDS
  log=$(mktemp)
  trap 'rm -f "$log"' EXIT
  if ! valgrind --quiet --leak-check=full --show-leak-kinds=definite,indirect,possible \
      --errors-for-leak-kinds=definite,indirect,possible --error-exitcode=1 --num-callers=30 \
      --log-file="$log" "$program" --fits "$valgrind_fits"; then
    cat "$log" >&2
    echo "leak-check: valgrind reported leaks or memory errors (or the run failed)" >&2
    status=1
  elif [ -s "$log" ]; then
    cat "$log"
  else
    echo "valgrind: no leaks, no memory errors"
  fi
  echo "($((SECONDS - t)) s)"
fi

echo "leak-check: $([ $status -eq 0 ] && echo passed || echo FAILED) in $((SECONDS - start)) s"
exit $status

#!/usr/bin/env bash
# Installs what is missing, builds everything (programs, tests, benchmarks,
# generators) and runs every test; then the robustness checks: two hundred
# fits in one process under a memory watch (scripts/leak-check.sh), the
# suite again under AddressSanitizer and UndefinedBehaviorSanitizer
# (scripts/sanitize.sh, in build-asan/) and a short run of every fuzz target
# (scripts/fuzz.sh, in build-fuzz/).  Each step's time is printed at its end
# and all of them again at the end of the run.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)

times=()
step() {
  local name=$1 start=$SECONDS
  shift
  echo "== $name"
  "$@"
  times+=("$(printf '%5d s  %s' $((SECONDS - start)) "$name")")
  echo "== $name: $((SECONDS - start)) s"
}

step "packages" bash scripts/install-deps.sh
step "build" bash scripts/build.sh

# The sanitizer and fuzz builds compile at low priority while the normal
# build's tests run, in the time those leave a core idle (valgrind runs on
# one core, a long test often runs alone, the window's tests wait for
# timers).  Their output goes to build-asan/build.log and build-fuzz/build.log.
# When the normal tests are done, the builds get the normal priority back
# (as root; otherwise they stay niced, which costs nothing on a machine of
# their own).
mkdir -p build-asan build-fuzz
rm -f build-asan/build.log build-fuzz/build.log
setsid -w nice -n 10 bash -c 'bash scripts/sanitize.sh --build >build-asan/build.log 2>&1 &&
                              bash scripts/fuzz.sh --build-only >build-fuzz/build.log 2>&1' &
background=$!
trap 'kill -- -"$background" 2>/dev/null || true' EXIT
finish_background_builds() {
  renice -n 0 -g "$background" >/dev/null 2>&1 || true
  if ! wait "$background"; then
    for log in build-asan/build.log build-fuzz/build.log; do
      [ -f "$log" ] && { echo "-- end of $log"; tail -40 "$log"; }
    done
    echo "test.sh: the sanitizer or fuzz build failed" >&2
    return 1
  fi
  grep -h "built in" build-asan/build.log build-fuzz/build.log || true
}

step "tests" ctest --test-dir build --output-on-failure -j"$jobs"
# 100 native fits (the heap after fit 50 against fit 100) and one under
# valgrind (its uninitialised reads, which AddressSanitizer does not see)
# keep the step to about a minute on two cores: a fit judged suspect runs a
# comparison fit for its verdict, and the suite under AddressSanitizer below
# checks every test's memory as well.  scripts/leak-check.sh alone runs the
# full 1000 and 60.
step "100 fits in one process: no leak, no drift" env MORVEX_LEAK_BUILD=build bash scripts/leak-check.sh --fits 100 --valgrind-fits 1
step "rest of the sanitizer and fuzz builds" finish_background_builds
trap - EXIT
step "tests under AddressSanitizer and UndefinedBehaviorSanitizer" bash scripts/sanitize.sh --test
# A fixed budget per fuzz target keeps the run's length known; longer runs:
# scripts/fuzz.sh SECONDS.  One target per core at a time.
step "fuzz targets, 8 s each" bash scripts/fuzz.sh --parallel "$jobs" 8

echo "== times"
printf '%s\n' "${times[@]}"

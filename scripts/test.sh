#!/usr/bin/env bash
# Installs what is missing, builds everything (programs, tests, benchmarks,
# generators) and runs every test; then the robustness checks: a hundred
# fits in one process under a memory watch (scripts/leak-check.sh), the
# suite again under AddressSanitizer and UndefinedBehaviorSanitizer
# (scripts/sanitize.sh, clang, in build-asan/) and a short run of every fuzz
# target (scripts/fuzz.sh, on the fuzz targets of the same build folder).
# Each step's time is printed at its end and all of them again at the end
# of the run.
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

# What the build needs first; the rest (clang, valgrind, the virtual X
# server, the PDF reader) is downloaded and installed while it compiles.
step "packages for the build" bash scripts/install-deps.sh --build
mkdir -p build
bash scripts/install-deps.sh >build/install-deps.log 2>&1 &
installing=$!
step "build" bash scripts/build.sh
finish_install() {
  if ! wait "$installing"; then
    tail -20 build/install-deps.log
    echo "test.sh: installing the test packages failed" >&2
    return 1
  fi
}
step "rest of the packages" finish_install

# The sanitizer build (with the fuzz targets) compiles at low priority
# while the normal build's tests run, in the time those leave a core idle
# (valgrind runs on one core, a long test often runs alone, the window's
# tests wait for timers).  Its output goes to build-asan/build.log.  When
# the normal tests are done, the build gets the normal priority back (as
# root; otherwise it stays niced, which costs nothing on a machine of its
# own).
mkdir -p build-asan
rm -f build-asan/build.log
setsid -w nice -n 10 bash -c 'bash scripts/sanitize.sh --build >build-asan/build.log 2>&1' &
background=$!
trap 'kill -- -"$background" 2>/dev/null || true' EXIT
finish_background_builds() {
  renice -n 0 -g "$background" >/dev/null 2>&1 || true
  if ! wait "$background"; then
    echo "-- end of build-asan/build.log"
    tail -40 build-asan/build.log
    echo "test.sh: the sanitizer build failed" >&2
    return 1
  fi
  grep -h "built in" build-asan/build.log || true
}

# ctest starts the longest tests first when it knows their times; a new
# build folder takes them from testing/ctest-costs.txt (the tests of half a
# second and more, measured on two cores), so no long test is left to run
# alone at the end.
costs=build/Testing/Temporary/CTestCostData.txt
if [ ! -f "$costs" ]; then
  mkdir -p "$(dirname "$costs")"
  cp testing/ctest-costs.txt "$costs"
fi
step "tests" ctest --test-dir build --output-on-failure -j"$jobs"
# 100 native fits (the heap after fit 50 against fit 100) and one under
# valgrind (its uninitialised reads, which AddressSanitizer does not see)
# keep the step to about a minute on two cores: a fit judged suspect runs a
# comparison fit for its verdict, and the suite under AddressSanitizer below
# checks every test's memory as well.  scripts/leak-check.sh alone runs the
# full 1000 and 60.
step "100 fits in one process: no leak, no drift" env MORVEX_LEAK_BUILD=build bash scripts/leak-check.sh --fits 100 --valgrind-fits 1
step "rest of the sanitizer build" finish_background_builds
trap - EXIT
step "tests under AddressSanitizer and UndefinedBehaviorSanitizer" bash scripts/sanitize.sh --test
# A fixed budget per fuzz target keeps the run's length known; longer runs
# on an optimised build of their own: scripts/fuzz.sh SECONDS.  One target
# per core at a time.
step "fuzz targets, 8 s each" env MORVEX_FUZZ_BUILD=build-asan bash scripts/fuzz.sh --parallel "$jobs" 8

echo "== times"
printf '%s\n' "${times[@]}"

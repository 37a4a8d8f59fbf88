#!/usr/bin/env bash
# Installs what is missing, builds everything (programs, tests, benchmarks,
# generators) and runs every test; then the robustness checks: a thousand
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
step "tests" ctest --test-dir build --output-on-failure -j"$jobs"
step "1000 fits in one process: no leak, no drift" env MORVEX_LEAK_BUILD=build bash scripts/leak-check.sh
step "tests under AddressSanitizer and UndefinedBehaviorSanitizer" bash scripts/sanitize.sh
# A fixed budget per fuzz target keeps the run's length known; longer runs:
# scripts/fuzz.sh SECONDS.  One target per core at a time.
step "fuzz targets, 15 s each" bash scripts/fuzz.sh --parallel "$jobs" 15

echo "== times"
printf '%s\n' "${times[@]}"

#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test; then the
# robustness checks: a thousand fits in one process under a memory watch
# (scripts/leak-check.sh), the whole suite again under AddressSanitizer and
# UndefinedBehaviorSanitizer (scripts/sanitize.sh, in build-asan/) and a short
# run of every fuzz target (scripts/fuzz.sh, in build-fuzz/).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
ctest --test-dir build --output-on-failure -j"$(nproc 2>/dev/null || echo 2)"

echo "== 1000 fits in one process: no leak, no drift"
MORVEX_LEAK_BUILD=build bash scripts/leak-check.sh

echo "== tests under AddressSanitizer and UndefinedBehaviorSanitizer"
bash scripts/sanitize.sh
# A fixed budget per fuzz target keeps the run's length known; longer runs:
# scripts/fuzz.sh SECONDS.
echo "== fuzz targets, 15 s each"
bash scripts/fuzz.sh 15

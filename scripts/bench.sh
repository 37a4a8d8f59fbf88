#!/usr/bin/env bash
# Builds Morvex and runs the benchmark on the sample data (pass --quick for a short run).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh --bench
bash scripts/build.sh
build/bin/morvex-bench examples "$@"

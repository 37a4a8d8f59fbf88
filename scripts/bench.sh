#!/usr/bin/env bash
# Builds Morvex and benchmarks it on the sample data against a Python peer
# (the same costs in numpy, fitted with scipy): one run prints Morvex's own
# tables and every Morvex / scipy ratio, then the fits from estimated start
# values on data made from published tires.  Pass --quick for a short run.
#
# The peer needs Debian's python3-numpy and python3-scipy, so it runs under
# /usr/bin/python3 whatever python3 comes first on PATH.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh --bench
bash scripts/build.sh
/usr/bin/python3 bench/peer/compare.py --bench build/bin/morvex-bench --examples examples "$@"
# Fits from estimated start values on data made from published tires,
# against scipy (--quick: two tires, one sign convention).
quick=()
for arg in "$@"; do [ "$arg" = --quick ] && quick=(--quick); done
/usr/bin/python3 bench/peer/published_tires.py --fit build/bin/morvex-fit ${quick[@]+"${quick[@]}"}
# The combined-slip Fy stage against scipy least_squares on the same residuals.
/usr/bin/python3 bench/peer/combined_fit_bench.py --bench build/bin/morvex-combined-bench

#!/usr/bin/env bash
# Times the raw-run import against its Python peer on a simulated flat-track
# run of a million rows (about 87 MB, tab-separated): Morvex's import
# (morvex-import-bench: reading, parsing, filters, set-points and binning, as
# morvex-fit import and the import window run them) against pandas read_csv
# plus numpy for the same steps (bench/peer/import_peer.py).  Both take the
# best of three runs on one core; both must bin the same number of points.
#
#   scripts/bench-import.sh [ROWS]
#
# The run file is made once by make_runs in build/ (run-ROWS.dat).  The peer
# needs Debian's python3-pandas, so it runs under /usr/bin/python3.
set -euo pipefail
cd "$(dirname "$0")/.."
rows=${1:-1000000}
case "$rows" in '' | *[!0-9]*) echo "bench-import.sh: ROWS must be a whole number, not '$rows'" >&2; exit 2 ;; esac
bash scripts/install-deps.sh --bench
bash scripts/build.sh >/dev/null
run=build/run-$rows.dat
[ -f "$run" ] || build/bin/make_runs examples "$rows" "$run"
morvex=$(taskset -c 0 build/bin/morvex-import-bench "$run" --warmup 30 --repeat 3)
peer=$(taskset -c 0 /usr/bin/python3 bench/peer/import_peer.py "$run" --warmup 30 --repeat 3)
/usr/bin/python3 - "$morvex" "$peer" <<'PY'
import json, sys
m, p = json.loads(sys.argv[1]), json.loads(sys.argv[2])
print(f"run: {m['samples']} samples")
print(f"{'':8}{'best s':>10}{'median s':>10}{'cases':>7}{'points':>8}")
for name, r in (("Morvex", m), ("pandas", p)):
    print(f"{name:8}{r['best_seconds']:10.3f}{r['median_seconds']:10.3f}{r['cases']:7}{r['points']:8}")
print(f"pandas / Morvex (best): {p['best_seconds'] / m['best_seconds']:.2f}; Morvex peak memory {m['peak_rss_mb']:.0f} MB")
sys.exit(0 if (m["points"] == p["points"] and m["cases"] == p["cases"]) else 1)
PY

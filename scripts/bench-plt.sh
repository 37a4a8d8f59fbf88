#!/usr/bin/env bash
# How reading a tire data file and `morvex-fit check` scale with the file:
# the same made-up lateral data at 2 MB and at 20 MB (and 200 MB with
# --large), each measured in a process of its own (morvex-plt-bench), with
# the ratios of the times and of the peak memory.  Linear reading gives a
# time ratio near the size ratio; the check analyses a bounded sample of the
# rows, so its time and memory grow far more slowly than the file.
#
#   scripts/bench-plt.sh [--large]
set -euo pipefail
cd "$(dirname "$0")/.."
sizes="2 20"
[ "${1:-}" = "--large" ] && sizes="2 20 200"
bash scripts/build.sh >/dev/null
cmake --build build --target morvex-plt-bench >/dev/null
results=()
for mb in $sizes; do
  file=build/bench-$mb.plt
  [ -f "$file" ] || build/bin/morvex-plt-bench --make "$mb" "$file"
  results+=("$(build/bin/morvex-plt-bench "$file" --repeat 3)")
done
python3 - "${results[@]}" <<'PY'
import json, sys
rows = [json.loads(a) for a in sys.argv[1:]]
print(f"{'file MB':>8}{'points':>10}{'read s':>9}{'check s':>9}{'peak MB':>9}")
for r in rows:
    print(f"{r['file_mb']:8.1f}{r['points']:10}{r['read_seconds']:9.3f}{r['check_seconds']:9.3f}{r['peak_rss_mb']:9.1f}")
base = rows[0]
for r in rows[1:]:
    size = r['file_mb'] / base['file_mb']
    print(f"{r['file_mb']:.0f} MB / {base['file_mb']:.0f} MB: size x{size:.1f}, read x{r['read_seconds'] / base['read_seconds']:.1f}, "
          f"check x{r['check_seconds'] / base['check_seconds']:.1f}, peak memory x{r['peak_rss_mb'] / base['peak_rss_mb']:.1f}")
PY

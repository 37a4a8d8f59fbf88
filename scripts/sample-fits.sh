#!/usr/bin/env bash
# Fits each channel of the sample data with morvex-fit and prints the reports:
# the lateral force first, then the aligning moment on top of its result,
# then the longitudinal force.  Results go to build/sample-fits/.
set -euo pipefail
cd "$(dirname "$0")/.."
fit=${MORVEX_BIN:-build/bin}/morvex-fit
out=${MORVEX_OUT:-build/sample-fits}
mkdir -p "$out"

# The rated load Fz0 is a choice of the engineer (4000 N here), not a result:
# it stays fixed, every other coefficient of the channel is free.
lateral=PCy1,PDy1,PDy2,PDy3,PEy1,PEy2,PEy3,PEy4,PKy1,PKy2,PKy3,PHy1,PHy2,PHy3,PVy1,PVy2,PVy3,PVy4
longitudinal=PCx1,PDx1,PDx2,PDx3,PEx1,PEx2,PEx3,PEx4,PKx1,PKx2,PKx3,PHx1,PHx2,PVx1,PVx2

echo "== lateral force (Levenberg-Marquardt)"
"$fit" fit --channel lateral --data examples/lateral.plt --free "$lateral" \
  --coefficients examples/start-values.txt --output "$out/lateral.txt"
echo
echo "== aligning moment (Levenberg-Marquardt, on the lateral result)"
"$fit" fit --channel aligning --data examples/aligning.plt \
  --coefficients "$out/lateral.txt" --output "$out/aligning.txt"
echo
echo "== longitudinal force (Levenberg-Marquardt)"
"$fit" fit --channel longitudinal --data examples/longitudinal.plt --free "$longitudinal" \
  --coefficients "$out/aligning.txt" --output "$out/all-channels.txt"
echo
echo "Coefficients of all three channels: $out/all-channels.txt"
echo "(generated from examples/true-values.txt)"

#!/usr/bin/env bash
# Installs what is missing, builds Morvex's two programs (not the tests,
# benchmarks or fuzz targets: scripts/test.sh builds those) and runs its
# main job.
#
# With a display, the desktop window starts with the sample lateral data
# loaded.  Without one (or with MORVEX_HEADLESS=1), the command-line tool
# fits each channel of the sample data and prints its reports.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh --run
bash scripts/build.sh --run

bin=build/bin
if [ -x "$bin/morvex" ] && [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ "${MORVEX_HEADLESS:-0}" != 1 ]; then
  exec "$bin/morvex" examples/lateral.plt
fi
if [ -x "$bin/morvex" ]; then
  echo "No display found: running the sample fits on the command line instead of the window."
fi
bash scripts/sample-fits.sh

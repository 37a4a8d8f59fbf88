#!/usr/bin/env bash
# Installs what is missing, builds what Morvex's main job needs (not the
# tests, benchmarks or fuzz targets: scripts/test.sh builds those) and runs
# it.
#
# With a display, both programs are built (scripts/build.sh --run) and the
# desktop window starts with the sample lateral data loaded.  Without one
# (or with MORVEX_HEADLESS=1), only the command-line tool is built
# (scripts/build.sh --fit); it fits each channel of the sample data and
# prints its reports.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh --run

bin=build/bin
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ "${MORVEX_HEADLESS:-0}" != 1 ]; then
  bash scripts/build.sh --run
  # A build folder configured without the window falls through to the fits.
  [ -x "$bin/morvex" ] && exec "$bin/morvex" examples/lateral.plt
else
  # The fits need the command-line tool only; the window is built by the
  # first run with a display.
  bash scripts/build.sh --fit
  if grep -q '^MORVEX_BUILD_UI:BOOL=ON' build/CMakeCache.txt; then
    echo "No display found: running the sample fits on the command line instead of the window."
  fi
fi
bash scripts/sample-fits.sh

#!/usr/bin/env bash
# Takes a screenshot of the Morvex main window under a virtual X server.
#
#   scripts/screenshot.sh [--no-fit] [--genetic|--trust-region] [--page PAGE] [--out FILE]
#                         [--scale N] [--maximized] [--residuals] [--zoom F]
#                         [--coefficients FILE] [--save-chart FILE] [DATA_FILE]
#
# Starts build/bin/morvex (or $MORVEX_BUILD_DIR/bin/morvex) under Xvfb with
# the sample lateral data (examples/lateral.plt; DATA_FILE to choose another),
# runs a lateral fit unless --no-fit is given, waits for it, and saves the
# window to docs/screenshot.png (or FILE).  PAGE is the coefficient page to
# show: lateral (default), longitudinal or aligning.  --scale N runs at Qt
# scale factor N on an N times larger screen; --maximized saves the whole
# screen.  The other options go to morvex (see morvex --help).  Needs
# xvfb-run and ImageMagick's import and convert (scripts/install-deps.sh
# installs both).
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=${MORVEX_BUILD_DIR:-build}
program="$build_dir/bin/morvex"
out=docs/screenshot.png
page=lateral
fit=(--fit lateral)
genetic=()
data=""
wait_seconds=${MORVEX_SCREENSHOT_WAIT:-8}
scale=1
maximized=0
extra=()

while [ $# -gt 0 ]; do
  case "$1" in
    --no-fit) fit=() ;;
    --genetic) genetic=(--genetic) ;;
    --trust-region) genetic=(--trust-region) ;;
    --page) page="$2"; shift ;;
    --out) out="$2"; shift ;;
    --scale) scale="$2"; shift ;;
    --maximized) maximized=1; extra+=(--maximized) ;;
    --residuals) extra+=(--residuals) ;;
    --zoom|--coefficients|--save-chart) extra+=("$1" "$2"); shift ;;
    -h|--help) sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "screenshot.sh: unknown option $1" >&2; exit 2 ;;
    *) data="$1" ;;
  esac
  shift
done

if [ -z "$data" ]; then
  data=examples/lateral.plt
  [ -f "$data" ] || data=ui/tests/data/lateral.plt
fi
[ -x "$program" ] || { echo "screenshot.sh: $program not found; run scripts/build.sh first" >&2; exit 1; }
[ -f "$data" ] || { echo "screenshot.sh: no data file $data" >&2; exit 1; }
mkdir -p "$(dirname "$out")"

# The window sits on a 1280x1024 screen (times the scale) without a window
# manager, so without a frame, on the black root window: the screen trimmed
# of its black border is the window, wherever the program placed it.  A
# maximised window keeps the whole screen.
screen_w=$((1280 * scale)) screen_h=$((1024 * scale))
if [ "$maximized" = 1 ]; then
  crop=(-crop "${screen_w}x${screen_h}+0+0")
else
  crop=(-trim)
fi
xvfb-run -a -s "-screen 0 ${screen_w}x${screen_h}x24" bash -c '
  set -u
  program=$1 out=$2 wait=$3 scale=$4 crop_options=$5; shift 5
  LC_ALL=C.UTF-8 QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR=$scale "$program" "$@" >/dev/null 2>&1 &
  pid=$!
  sleep "$wait"
  if ! kill -0 "$pid" 2>/dev/null; then echo "screenshot.sh: morvex ended early" >&2; exit 1; fi
  import -window root png:- | convert png:- $crop_options +repage "$out"
  kill "$pid"
' _ "$program" "$out" "$wait_seconds" "$scale" "${crop[*]}" --page "$page" "${fit[@]}" "${genetic[@]}" "${extra[@]}" "$(realpath "$data")"

echo "wrote $out"

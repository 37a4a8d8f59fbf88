#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang in build-fuzz/ and runs
# each one over its seed corpus for a fixed time.
#
#   scripts/fuzz.sh [--workers N] [--parallel N] [SECONDS_PER_TARGET] [TARGET...]
#   scripts/fuzz.sh [--workers N] [--parallel N] --runs EXECUTIONS [TARGET...]
#   scripts/fuzz.sh --build-only
#
# SECONDS_PER_TARGET defaults to 15; TARGETs default to every fuzz/fuzz_*.cpp.
# With --runs each target runs until it has executed that many inputs in
# all, however long that takes: the profile-file targets manage about two
# thousand a second on one core, the others ten thousand and more.
# --workers N spreads each target's run over N processes (libFuzzer's fork
# mode, one shared corpus and one count of executions), for machines with
# cores to spare.  --parallel N runs up to N targets at the same time, each
# with its own budget (the test run uses one per core); the default is one
# after the other.
# Each target runs under AddressSanitizer (with leak checks) and
# UndefinedBehaviorSanitizer, starting from the committed seeds in
# fuzz/corpus/<target>/ plus what earlier runs here found
# (build-fuzz/fuzz-work/<target>/).  Any crash, sanitizer report, leak,
# input slower than the timeout or memory beyond the limit fails the script;
# the input that caused it is saved in build-fuzz/fuzz-artifacts/<target>/
# (replay it with build-fuzz/fuzz/<target> <file>).
#
# With MORVEX_FUZZ_BUILD=<folder> the targets of that build folder are run
# as they are, neither configured nor built here: the clang sanitizer build
# (scripts/sanitize.sh, build-asan/) holds them too, compiled -O1, which is
# what the test run uses instead of a second build of the same libraries.
set -euo pipefail
cd "$(dirname "$0")/.."

build_only=0
[ "${1:-}" = --build-only ] && build_only=1 && shift
workers=()
parallel=1
while [ "${1:-}" = --workers ] || [ "${1:-}" = --parallel ]; do
  case "${2:-}" in '' | *[!0-9]* | 0) echo "fuzz.sh: $1 needs a positive whole number, not '${2:-}'" >&2; exit 2 ;; esac
  if [ "$1" = --workers ]; then workers=(-fork="$2"); else parallel=$2; fi
  shift 2
done
if [ "${1:-}" = --runs ]; then
  runs_wanted=${2:-}
  case "$runs_wanted" in '' | *[!0-9]*) echo "fuzz.sh: --runs needs a whole number, not '$runs_wanted'" >&2; exit 2 ;; esac
  shift 2
  budget=(-runs="$runs_wanted")
  budget_text="$runs_wanted runs"
else
  seconds=${1:-15}
  shift || true
  case "$seconds" in '' | *[!0-9]*) echo "fuzz.sh: seconds must be a whole number, not '$seconds'" >&2; exit 2 ;; esac
  budget=(-max_total_time="$seconds")
  budget_text="${seconds} s"
fi

build=${MORVEX_FUZZ_BUILD:-build-fuzz}
jobs=$(nproc 2>/dev/null || echo 2)
if [ -n "${MORVEX_FUZZ_BUILD:-}" ]; then
  [ "$build_only" = 0 ] || { echo "fuzz.sh: --build-only builds build-fuzz/, not $build" >&2; exit 2; }
  [ -d "$build/fuzz" ] || { echo "fuzz.sh: $build holds no fuzz targets (a clang sanitizer build does)" >&2; exit 2; }
else
  # clang is needed for libFuzzer; the compiler of an existing build folder stays.
  # Line tables only (-gline-tables-only): the reports' file and line, at less
  # compile time than full debug information.
  CC=clang CXX=clang++ cmake -S . -B "$build" -DMORVEX_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -gline-tables-only -DNDEBUG" >/dev/null
  start=$SECONDS
  cmake --build "$build" -j"$jobs"
  echo "fuzz: built in $((SECONDS - start)) s"
  [ "$build_only" = 0 ] || exit 0
fi

if [ $# -gt 0 ]; then
  targets=("$@")
else
  targets=()
  for source in fuzz/fuzz_*.cpp; do targets+=("$(basename "$source" .cpp)"); done
fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}

# Runs one target; its exit status goes to fuzz-logs/<target>.status.
fuzz_one() {
  local target=$1 work="$build/fuzz-work/$1" artifacts="$build/fuzz-artifacts/$1" log="$build/fuzz-logs/$1.log"
  mkdir -p "$work" "$artifacts" "$(dirname "$log")"
  local status=0
  "$build/fuzz/$target" "${budget[@]}" ${workers[@]+"${workers[@]}"} -timeout=5 -rss_limit_mb=2048 -max_len=4096 \
    -print_final_stats=1 -artifact_prefix="$artifacts/" "$work" "fuzz/corpus/$target" >"$log" 2>&1 || status=$?
  echo "$status" >"$build/fuzz-logs/$target.status"
}

mkdir -p "$build/fuzz-logs"
running=0
for target in "${targets[@]}"; do
  rm -f "$build/fuzz-logs/$target.status"
  if [ "$parallel" -le 1 ]; then
    fuzz_one "$target"
    continue
  fi
  if [ "$running" -ge "$parallel" ]; then
    wait -n || true
    running=$((running - 1))
  fi
  fuzz_one "$target" &
  running=$((running + 1))
done
wait || true

failed=()
for target in "${targets[@]}"; do
  log="$build/fuzz-logs/$target.log"
  artifacts="$build/fuzz-artifacts/$target"
  status=$(cat "$build/fuzz-logs/$target.status" 2>/dev/null || echo "unknown")
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" 2>/dev/null | tail -1)
  # Fork mode prints no final statistics: its last progress line has the count.
  [ -n "$runs" ] || runs=$(sed -n 's/^#\([0-9][0-9]*\): cov:.*/\1/p' "$log" 2>/dev/null | tail -1)
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" 2>/dev/null | tail -1)
  [ -n "$speed" ] || speed=$(sed -n 's/^#[0-9][0-9]*: cov:.* exec\/s \([0-9][0-9]*\) .*/\1/p' "$log" 2>/dev/null | tail -1)
  if [ "$status" = 0 ]; then
    echo "fuzz: $target ok, ${runs:-?} runs, budget ${budget_text} (${speed:-?}/s)"
  else
    echo "fuzz: $target FAILED (exit $status) after ${runs:-?} runs; log $log, input in $artifacts/" >&2
    grep -E "ERROR:|runtime error:|SUMMARY:|morvex fuzz:" "$log" 2>/dev/null | head -5 >&2 || true
    failed+=("$target")
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: failures in ${failed[*]}" >&2
  exit 1
fi

#!/usr/bin/env bash
# Builds the whole suite, GUI tests included, with GCC under AddressSanitizer
# and UndefinedBehaviorSanitizer in build-asan/, and runs every test with
# ctest.  Any sanitizer report fails the test that caused it: undefined
# behaviour and memory errors end the program at once, leaks at its exit.
#
# Leaks that belong wholly to system libraries (Qt's font set-up through
# fontconfig, say) would be listed in scripts/lsan.supp; nothing of Morvex's
# own may ever be suppressed there.  The GUI tests run on Qt's offscreen
# platform, which their ctest entries set.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build-asan
jobs=$(nproc 2>/dev/null || echo 2)

# The same settings serve the build (gtest_discover_tests runs each test
# program once to list its tests) and the test run.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:detect_stack_use_after_return=1:strict_init_order=1:check_initialization_order=1}
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

# Unoptimised (Debug): with the sanitizers GCC compiles -O2 about three times
# slower, which would dominate the CI run, while the tests run fast either
# way and the checks see the code as written.
CC=gcc CXX=g++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DMORVEX_SANITIZE=ON >/dev/null
# Only what ctest runs: the programs and the test programs, not the
# benchmarks and sample generators, which no test starts.
start=$SECONDS
cmake --build "$build" -j"$jobs" --target morvex_test_programs
echo "sanitize: built in $((SECONDS - start)) s"
# The accuracy suites that run the same code on bigger problems (fits from
# estimated start values on published tires, the recovery of a tire from an
# imported run, a batch of six fits in child processes) take many minutes
# unoptimised under the sanitizers; they run in the normal build only, and
# smaller tests take every one of their code paths here.
heavy='EstimateOnPublishedTires|CheckNamesWhatOneInclinationCannotDetermine|FitFromImportedDataRecoversTheTire'
heavy+='|ExampleManifestGivesTheResultsOfSingleRuns|DataAdvice.FullDataNeedsFewClears'
ctest --test-dir "$build" --output-on-failure -j"$jobs" -E "$heavy"

#!/usr/bin/env bash
# Builds the suite without the window (its tests run in the normal build)
# with clang under AddressSanitizer and UndefinedBehaviorSanitizer in
# build-asan/, and runs every test with ctest but the long accuracy suites.
# Any sanitizer report fails the test that caused it: undefined behaviour
# and memory errors end the program at once, leaks at its exit.
#
# Leaks that belong wholly to system libraries would be listed in
# scripts/lsan.supp; nothing of Morvex's own may ever be suppressed there.
#
#   scripts/sanitize.sh [--build | --test]
#
# --build only builds, --test only runs the tests of the last build.
set -euo pipefail
cd "$(dirname "$0")/.."

do_build=1 do_test=1
case "${1:-}" in
  --build) do_test=0 ;;
  --test) do_build=0 ;;
  '') ;;
  *) echo "usage: $0 [--build | --test]" >&2; exit 2 ;;
esac

build=${MORVEX_ASAN_BUILD:-build-asan}
jobs=$(nproc 2>/dev/null || echo 2)

# The same settings serve the build (gtest_discover_tests runs each test
# program once to list its tests) and the test run.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:detect_stack_use_after_return=1:strict_init_order=1:check_initialization_order=1}
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

# Debug: the tests unoptimised, the libraries -O1 (CMakeLists.txt), which
# the fits need to run at a useful speed.  clang rather than GCC: under the
# sanitizers it compiles the same files in about two thirds of the time.
# Line tables only (-g1): enough for the reports' file and line, at about a
# sixth less compile time than full debug information.
if [ "$do_build" = 1 ]; then
  # The window and its tests stay in the normal build: the Qt code would
  # take a quarter of this build's time, and what the window calls (the
  # fits, the readers, the session file, the report) is checked here
  # through the core's and the command line's tests.
  CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG=-g1 \
    -DMORVEX_SANITIZE=ON -DMORVEX_BUILD_UI=OFF >/dev/null
  # Only what ctest runs: the programs and the test programs, not the
  # benchmarks and sample generators, which no test starts; and the fuzz
  # targets, which share these objects (a build folder made earlier with
  # GCC has none).
  targets=(morvex_test_programs)
  [ -d "$build/fuzz" ] && targets+=(morvex_fuzz_targets)
  start=$SECONDS
  cmake --build "$build" -j"$jobs" --target "${targets[@]}"
  echo "sanitize: built in $((SECONDS - start)) s"
fi
[ "$do_test" = 1 ] || exit 0

# The accuracy suites that run the same code on bigger problems (fits from
# estimated start values on published tires, the recovery of a tire from an
# imported run, a batch of six fits in child processes, the genetic search
# from the shipped start values on every channel, a million-row data file
# whose load is held to a time bound) take many minutes
# unoptimised under the sanitizers; they run in the normal build only, and
# smaller tests take every one of their code paths here.
heavy='EstimateOnPublishedTires|CheckNamesWhatOneInclinationCannotDetermine|FitFromImportedDataRecoversTheTire'
heavy+='|ExampleManifestGivesTheResultsOfSingleRuns|DataAdvice.FullDataNeedsFewClears'
heavy+='|GeneticSearchLowersTheCostFromTheShippedStart|MillionRowsLoadWithListsSizedOnce'
# Accuracy suites on published tires and rig recordings: the same code as the
# tests above on bigger problems.
heavy+='|VerdictOnPublishedTires|DefaultImportOfRigRecordings|RealRecordings.HeldOutTire'
heavy+='|ReadmeChainEndsInThePropertyFileOfTheTrueTire|DefaultImportAndTheReadmeChainGiveTheTrueTire'
heavy+='|RigData.ResidualsAboveTheNeighbourScatter|PeakSign.NegativePublishedPeakFactor|StartWasAFit'
heavy+='|RatedLoadToolTest.AllLeavesFz0ToTheEngineer|RatedLoadToolTest.AnEstimateThatMovesAFreedFz0'
# Whole test programmes of published tires (three runs of up to 85,000
# rows, eight stages fitted): the smaller programme tests take the same paths.
heavy+='|TirTool.DelimitedProgramme|TirTool.TydexProgramme|TirTool.HeldOutTire'
heavy+='|CombinedStages.TunedTires|CombinedStages.MilitaryTire|CombinedStages.MomentsFitted'
heavy+='|TireProgramme.TunedTire|TireProgramme.MilitaryTire|CombinedImportOfProgrammes|CombinedImport.HeldOut'
heavy+='|Programme.RunsRoutedToTheirStages'
# Every thread count on every channel: the same fits as the single-thread tests.
heavy+='|FitThreads.EveryThreadCountGivesTheSerialResult|MorvexFitCommand.ThreadCountChangesNothingButTheTime'
# The report and programme commands on whole fits: the report's own tests and
# one command-line report take the same code here.
heavy+='|ReportTool.TheCommandLineWritesTheReport|ReportTool.NamesTheImportedRun|ReportTool.FitsByTheTrustRegion'
heavy+='|ReportTool.ASessionAlone|ReportTool.PoorCoefficients|TirTool.LessThanAProgramme'
heavy+='|IsoLateral.StartValuesWrittenBackUnchangedArePoor'
# Verdicts that run a comparison fit, a whole programme's stage modes, and
# reports built around a fit: the verdict's, the programme's and the
# report's smaller tests take the same paths here.
heavy+='|IsoLateral.NeighbouringValleyIsAMisfit|IsoLateral.WrongSignStartWithTheLevenbergMarquardtFitter'
heavy+='|IsoLateral.CurvatureAboveOneOnMostPointsIsANote|IsoLateral.SlopeOfTheWrongSignIsNamed'
heavy+='|TireProgramme.ModeFollowsTheStagesFitted|ReportTool.PdfOfPublishedCoefficients'
heavy+='|ValidationReport.GathersTheFitOfEveryCurve|ValidationReport.ChartsShowEachLoad'
heavy+='|ReportFiles.WritesOnlyPdfOrHtml|SessionToolTest.ChangedSourceAndChangedEmbeddedData'
# A tire's whole programme fitted for its report and its session: the
# session file's programme records are read here by their own tests and
# the session fuzz target, the report's pages by the channel reports.
heavy+='|TirReport.WritesTheProgrammesReport|ProgrammeReport\.|ProgrammeReportOfLess\.|TirSession\.|ProgrammeSession\.'
# Kills an export at random moments drawn for the optimised build; under
# the sanitizers an export outlasts them all.
heavy+='|ExportCoefficients.KilledAtRandomMoments'
# ctest starts the longest tests first when it knows their times from an
# earlier run; a new folder borrows them from the normal build's run.
costs=Testing/Temporary/CTestCostData.txt
if [ ! -f "$build/$costs" ] && [ -f "build/$costs" ]; then
  mkdir -p "$(dirname "$build/$costs")"
  cp "build/$costs" "$build/$costs"
fi
ctest --test-dir "$build" --output-on-failure -j"$jobs" -E "$heavy"

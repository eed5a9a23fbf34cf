#!/usr/bin/env bash
# Line and branch coverage of src/ and tools/ by the whole CTest suite
# (integration and crash tests included, so the real updater's runs count).
# Builds the `coverage` preset (GCC --coverage, Debug, no sanitizers) in
# build/coverage, clears old counts, runs every test, and prints the per-file
# tables and the totals; the tables are also kept in build/coverage/
# (coverage.txt: lines, coverage-branches.txt: branches).
#   tests/coverage.sh               build, test and report
#   tests/coverage.sh --report-only report the counts of the last run again
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${VEUPD_JOBS:-2}
build=build/coverage

if ! command -v gcovr >/dev/null; then
  mapfile -t packages < <(grep -v '^#' .ci/packages-coverage.txt)
  .ci/install-packages.sh "${packages[@]}"
fi

if [ "${1:-}" != "--report-only" ]; then
  cmake --preset coverage
  cmake --build --preset coverage -j "$jobs"
  find "$build" -name '*.gcda' -delete
  # A failing test still leaves its counts; the report comes first, then the
  # failure.
  status=0
  ctest --preset coverage -j "$jobs" || status=$?
fi

# Branches the compiler adds for exceptions and for code it proved dead are
# left out: no test can choose them, and they would only add noise. gcov runs
# once into a JSON file; the line and branch tables are read from it.
gcovr --root . --object-directory "$build" -j "$jobs" \
  --filter 'src/' --filter 'tools/' \
  --exclude-unreachable-branches --exclude-throw-branches \
  --json "$build/coverage.json"
report() { gcovr --root . --add-tracefile "$build/coverage.json" "$@"; }
report --txt "$build/coverage.txt"
report --branches --txt "$build/coverage-branches.txt"
cat "$build/coverage.txt" "$build/coverage-branches.txt"
report --print-summary | tail -n 3
exit "${status:-0}"

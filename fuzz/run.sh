#!/usr/bin/env bash
# Builds the fuzz targets (preset `fuzz`, clang) and runs each for SECONDS
# (default 20) on a copy of its seed corpus in fuzz/corpus/. Fails on the
# first crash, hang, leak or sanitizer report; the input that caused it is
# kept in the work folder that is printed. Usage: fuzz/run.sh [SECONDS]
# Extra libFuzzer options can be given in VEUPD_FUZZ_ARGS (e.g. "-jobs=2").
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
jobs=${VEUPD_JOBS:-2}

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs"

# The targets write their inputs to files; a memory-backed folder keeps
# each iteration fast and spares the disk.
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi
work=$(mktemp -d "${TMPDIR:-/tmp}/veupd-fuzz-run.XXXXXX")
failed=()
for corpus in fuzz/corpus/*/; do
  target=$(basename "$corpus")
  exe=build/fuzz/fuzz/$target
  if [ ! -x "$exe" ]; then echo "fuzz/run.sh: no target $target" >&2; failed+=("$target"); continue; fi
  # A copy, so that what a run finds never grows the checked-in corpus.
  mkdir -p "$work/$target/corpus" "$work/$target/tmp"
  cp "$corpus"* "$work/$target/corpus/"
  printf '%-22s ' "$target"
  status=0
  # shellcheck disable=SC2086
  # The target's scratch folder lands in the work folder, which a failure keeps.
  TMPDIR="$work/$target/tmp" "$exe" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2560 -print_final_stats=1 \
    -artifact_prefix="$work/$target/" ${VEUPD_FUZZ_ARGS:-} "$work/$target/corpus" \
    > "$work/$target/log" 2>&1 || status=$?
  if [ $status -eq 0 ]; then
    grep -E '^stat::number_of_executed_units' "$work/$target/log" | awk '{printf "%s runs, ", $2}'
    grep -E '^#[0-9]+.*DONE' "$work/$target/log" | tail -1 | sed -E 's/.*(cov: [0-9]+).*/\1/'
  else
    echo "FAILED (exit $status)"
    grep -E -A20 'ERROR|runtime error|check failed|SUMMARY' "$work/$target/log" | head -40 || true
    ls "$work/$target/" | grep -E '^(crash|leak|timeout|oom|slow-unit)-' || true
    failed+=("$target")
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz/run.sh: failed: ${failed[*]} (inputs and logs in $work)" >&2
  exit 1
fi
rm -rf "$work"
echo "fuzz/run.sh: no crashes"

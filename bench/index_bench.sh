#!/bin/sh
# Index building against reading the data file once, in one run: the
# table_bench cases on the 100 MB data file, repetitions in random
# interleaved order, medians, and the ratios of the medians.
# Usage: bench/index_bench.sh [TABLE_BENCH] [REPETITIONS]
#   TABLE_BENCH  a Release build of table_bench (default: build/release/bench/table_bench)
#   REPETITIONS  default 7
set -eu

here=$(cd "$(dirname "$0")" && pwd)
bench=${1:-$here/../build/release/bench/table_bench}
reps=${2:-7}
[ -x "$bench" ] || { echo "no table_bench at $bench (build the release preset)" >&2; exit 2; }

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg) ($(nproc) cores)"
csv=$("$bench" --benchmark_filter='ReadDataFileOnce|IndexDataFile|IndexSortedDataFile' \
  --benchmark_repetitions="$reps" --benchmark_enable_random_interleaving=true \
  --benchmark_format=csv 2>/dev/null)
echo "load average after:  $(cut -d' ' -f1-3 /proc/loadavg)"

# "wall cpu" of a benchmark's median row, in ms.
medians() { printf '%s\n' "$csv" | awk -F, -v n="\"BM_$1/real_time_median\"" '$1 == n { print $3, $4 }'; }
read -r read_wall read_cpu <<EOF
$(medians ReadDataFileOnce)
EOF
printf '%-28s %10s %10s %12s %12s\n' "medians of $reps" "wall ms" "cpu ms" "wall / read" "cpu / read"
for name in ReadDataFileOnce IndexDataFileList IndexDataFileTree IndexSortedDataFileList; do
  medians "$name" | awk -v name="$name" -v rw="$read_wall" -v rc="$read_cpu" \
    '{ printf "%-28s %10.1f %10.1f %12.2f %12.2f\n", name, $1, $2, $1 / rw, $2 / rc }'
done
echo "target: indexing within 2 times reading the file once"

#!/usr/bin/env bash
# Copy benchmark: the copy command (opcode 1, CRC-checked, run by the real
# updater from a parameter file) against coreutils in the same run:
#   - one file of SIZE_MIB MiB, onto a fresh target and onto an existing one,
#     against  cksum src && cp src tmp && cksum tmp && mv tmp dst
#   - FILES files of 4 KiB in 100 folders, onto a fresh tree and onto an
#     existing one, against  cp -r
# Onto an existing target the chain is also timed with "sync tmp" added,
# for scale against a copy that reaches the disk before the rename.
# The contenders take turns in every round; each time is the median of RUNS
# rounds, and each ratio the median of the rounds' own ratios (so that a
# burst of load from elsewhere hits both sides of a ratio alike). Memory is
# the highest peak seen. The load average is printed before and after.
# Page cache stays warm for every contender alike.
#
# usage: bench/copy_bench.sh [OUT_DIR] [SIZE_MIB] [FILES] [RUNS]
#   OUT_DIR  folder with veupd and MSG.STR of a Release build
#            (default: build/release/out)
# COPY_BENCH_DIR=DIR keeps the test files in DIR for a later run.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
out_dir=$(cd "${1:-$here/../build/release/out}" && pwd)
size_mib=${2:-1024}
files=${3:-10000}
runs=${4:-3}
folders=100

veupd=$out_dir/veupd
for f in "$veupd" "$out_dir/MSG.STR"; do
  [ -e "$f" ] || { echo "copy_bench: $f is missing (build the release preset)" >&2; exit 2; }
done
[ -x /usr/bin/time ] || { echo "copy_bench: /usr/bin/time is missing" >&2; exit 2; }

if [ -n "${COPY_BENCH_DIR:-}" ]; then
  mkdir -p "$COPY_BENCH_DIR"
  work=$(cd "$COPY_BENCH_DIR" && pwd)
else
  work=$(mktemp -d "${TMPDIR:-/tmp}/copy_bench.XXXXXX")
  trap 'rm -rf "$work"' EXIT
fi
rm -f "$work"/*.times

# measure NAME CMD...: appends "elapsed user sys peak_kib" to NAME.times.
measure() {
  local name=$1
  shift
  /usr/bin/time -f "%e %U %S %M" -o "$work/$name.one" "$@" >/dev/null
  cat "$work/$name.one" >>"$work/$name.times"
}
# mid: the median of the numbers on standard input, one a line.
mid() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
# median NAME: "elapsed cpu peak_mib": medians of the runs, peak over all.
median() {
  local f=$work/$1.times
  printf '%.2f %.2f %.1f\n' "$(awk '{ print $1 }' "$f" | mid)" "$(awk '{ print $2 + $3 }' "$f" | mid)" \
    "$(awk '{ if ($4 > m) m = $4 } END { print m / 1024 }' "$f")"
}
# ratio_median A B: median over the rounds of A's time / B's time.
ratio_median() {
  paste -d' ' "$work/$1.times" "$work/$2.times" | awk '{ print ($5 > 0 ? $1 / $5 : 0) }' | mid |
    awk '{ printf "%.2f", $1 }'
}
loadavg() { cut -d' ' -f1-3 /proc/loadavg; }

# One level whose only line copies $1 into folder $2.
level() {
  local name=$1 source=$2 target=$3
  printf '#1%s\t%s\r\n' "$source" "$target" >"$work/$name.ctrl"
  printf '[UPDATE]\r\nMsg=%s\r\nLanguage=E\r\nFile=%s\r\nLogFileDir=%s\r\nLogFileName=%s.log\r\n' \
    "$out_dir/MSG.STR" "$work/$name.ctrl" "$work" "$name" >"$work/$name.ini"
}
check_level() {
  grep -q "^OK - Copying $2 file(s)" "$work/$1.log" || { cat "$work/$1.log" >&2; exit 1; }
}

# ---- test data
stamp="$size_mib $files"
if [ -f "$work/stamp" ] && [ "$(cat "$work/stamp")" = "$stamp" ]; then
  echo "Reusing the test files in $work"
else
  rm -rf "$work/src" "$work/tree" "$work/stamp"
  mkdir -p "$work/src"
  echo "Making a ${size_mib} MiB file and $files files of 4 KiB in $folders folders..."
  head -c $((size_mib << 20)) /dev/urandom >"$work/src/big.bin"
  head -c $((files * 4096)) /dev/urandom >"$work/pool"
  per=$((files / folders))
  for ((d = 0; d < folders; d++)); do
    mkdir -p "$work/tree/d$d"
    for ((f = 0; f < per; f++)); do
      n=$((d * per + f))
      dd if="$work/pool" of="$work/tree/d$d/f$f.dat" bs=4096 skip=$n count=1 status=none
    done
  done
  rm -f "$work/pool"
  echo "$stamp" >"$work/stamp"
fi

level big_fresh "$work/src/big.bin" "$work/big_fresh"
level big_exist "$work/src/big.bin" "$work/big_exist"
level tree_fresh "$work/tree/*.*" "$work/tree_fresh"
level tree_exist "$work/tree/*.*" "$work/tree_exist"
chain() { cksum "$1" >/dev/null && cp "$1" "$2.tmp" && cksum "$2.tmp" >/dev/null && mv "$2.tmp" "$2"; }
chain_sync() { cksum "$1" >/dev/null && cp "$1" "$2.tmp" && cksum "$2.tmp" >/dev/null && sync "$2.tmp" && mv "$2.tmp" "$2"; }
export -f chain chain_sync

echo "load average before: $(loadavg) ($(nproc) cores)"
echo "Single file ($runs rounds)..."
mkdir -p "$work/chain_exist"
cp "$work/src/big.bin" "$work/chain_exist/big.bin"
cp "$work/src/big.bin" "$work/big_exist.seed"
for ((i = 0; i < runs; i++)); do
  rm -rf "$work/big_fresh" "$work/chain_fresh"
  mkdir -p "$work/chain_fresh"
  measure veupd_big_fresh "$veupd" "$work/big_fresh.ini"
  check_level big_fresh 1
  measure chain_fresh bash -c 'chain "$0" "$1"' "$work/src/big.bin" "$work/chain_fresh/big.bin"

  mkdir -p "$work/big_exist"
  [ -f "$work/big_exist/big.bin" ] || cp "$work/big_exist.seed" "$work/big_exist/big.bin"
  sync
  measure veupd_big_exist "$veupd" "$work/big_exist.ini"
  check_level big_exist 1
  measure chain_exist bash -c 'chain "$0" "$1"' "$work/src/big.bin" "$work/chain_exist/big.bin"
  sync
  measure chain_exist_sync bash -c 'chain_sync "$0" "$1"' "$work/src/big.bin" "$work/chain_exist/big.bin"
done
cmp -s "$work/src/big.bin" "$work/big_fresh/big.bin" || { echo "copy_bench: fresh copy differs" >&2; exit 1; }
cmp -s "$work/src/big.bin" "$work/big_exist/big.bin" || { echo "copy_bench: replaced copy differs" >&2; exit 1; }
rm -f "$work/big_exist.seed"

echo "Tree ($runs rounds)..."
for ((i = 0; i < runs; i++)); do
  rm -rf "$work/tree_fresh" "$work/cp_fresh"
  sync
  measure veupd_tree_fresh "$veupd" "$work/tree_fresh.ini"
  check_level tree_fresh "$files"
  measure cp_fresh cp -r "$work/tree" "$work/cp_fresh"

  [ -d "$work/tree_exist" ] || cp -r "$work/tree" "$work/tree_exist"
  [ -d "$work/cp_exist" ] || cp -r "$work/tree" "$work/cp_exist"
  sync
  measure veupd_tree_exist "$veupd" "$work/tree_exist.ini"
  check_level tree_exist "$files"
  measure cp_exist cp -rT "$work/tree" "$work/cp_exist"
done
diff -r "$work/tree" "$work/tree_fresh" >/dev/null || { echo "copy_bench: tree copy differs" >&2; exit 1; }
diff -r "$work/tree" "$work/tree_exist" >/dev/null || { echo "copy_bench: replaced tree differs" >&2; exit 1; }

load_after=$(loadavg)
verdict() { awk -v v="$1" -v t="$2" 'BEGIN { print (v <= t ? "met" : "MISSED") }'; }
row() { printf '%-44s %8s %8s %9s\n' "$@"; }

echo
echo "medians of $runs rounds; load average after: $load_after"
row "case" "time s" "cpu s" "peak MiB"
for name in veupd_big_fresh chain_fresh veupd_big_exist chain_exist chain_exist_sync \
            veupd_tree_fresh cp_fresh veupd_tree_exist cp_exist; do
  read -r t c m <<<"$(median $name)"
  row "$name" "$t" "$c" "$m"
done
peak=$(for name in veupd_big_fresh veupd_big_exist veupd_tree_fresh veupd_tree_exist; do
         median $name | cut -d' ' -f3; done | sort -g | tail -n 1)

echo
r1=$(ratio_median veupd_big_fresh chain_fresh)
r2=$(ratio_median veupd_tree_fresh cp_fresh)
echo "${size_mib} MiB copy, fresh target / chain:      $r1 (target <= 1.1: $(verdict "$r1" 1.1))"
echo "${size_mib} MiB copy, existing target / chain:   $(ratio_median veupd_big_exist chain_exist) (with sync in the chain: $(ratio_median veupd_big_exist chain_exist_sync))"
echo "tree of $files, fresh / cp -r:              $r2 (target <= 1.5: $(verdict "$r2" 1.5))"
echo "tree of $files, existing / cp -rT:          $(ratio_median veupd_tree_exist cp_exist)"
echo "peak memory of veupd:                        $peak MiB (target <= 8: $(verdict "$peak" 8))"

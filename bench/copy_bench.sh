#!/usr/bin/env bash
# Copy benchmark: the copy command (opcode 1, CRC-checked, run by the real
# updater from a parameter file) against coreutils in the same run:
#   - one file of SIZE_MIB MiB, onto a fresh target and onto an existing one,
#     against  cksum src && cp src tmp && cksum tmp && mv tmp dst
#   - FILES files of 4 KiB in 100 folders, onto a fresh tree and onto an
#     existing one, against  cp -r
# Onto an existing target the updater flushes each verified copy to disk
# before it replaces the target; the chain is also timed with "sync tmp"
# added, and the flush cost is shown as existing minus fresh.
# Times are the best of RUNS runs (the tools alternate), memory the highest
# peak seen. Page cache stays warm for every contender alike.
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
# best NAME: "elapsed cpu peak_mib" of the fastest run, peak over all runs.
best() {
  awk '{ cpu = $2 + $3; if (NR == 1 || $1 < e) { e = $1; c = cpu } if ($4 > m) m = $4 }
       END { printf "%.2f %.2f %.1f\n", e, c, m / 1024 }' "$work/$1.times"
}

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

echo "Single file ($runs runs)..."
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

echo "Tree ($runs runs)..."
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

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }
verdict() { awk -v v="$1" -v t="$2" 'BEGIN { print (v <= t ? "met" : "MISSED") }'; }
row() { printf '%-44s %8s %8s %9s\n' "$@"; }

echo
row "case" "time s" "cpu s" "peak MiB"
for name in veupd_big_fresh chain_fresh veupd_big_exist chain_exist chain_exist_sync \
            veupd_tree_fresh cp_fresh veupd_tree_exist cp_exist; do
  read -r t c m <<<"$(best $name)"
  row "$name" "$t" "$c" "$m"
done
read -r vbf _ mbf <<<"$(best veupd_big_fresh)"
read -r cf _ _ <<<"$(best chain_fresh)"
read -r vbe _ mbe <<<"$(best veupd_big_exist)"
read -r ce _ _ <<<"$(best chain_exist)"
read -r ces _ _ <<<"$(best chain_exist_sync)"
read -r vtf _ mtf <<<"$(best veupd_tree_fresh)"
read -r cpf _ _ <<<"$(best cp_fresh)"
read -r vte _ mte <<<"$(best veupd_tree_exist)"
read -r cpe _ _ <<<"$(best cp_exist)"
peak=$(printf '%s\n' "$mbf" "$mbe" "$mtf" "$mte" | sort -g | tail -n 1)

echo
r1=$(ratio "$vbf" "$cf")
r2=$(ratio "$vtf" "$cpf")
echo "${size_mib} MiB copy, fresh target / chain:      $r1 (target <= 1.1: $(verdict "$r1" 1.1))"
echo "${size_mib} MiB copy, existing target / chain:   $(ratio "$vbe" "$ce") (with sync in the chain: $(ratio "$vbe" "$ces"))"
echo "tree of $files, fresh / cp -r:              $r2 (target <= 1.5: $(verdict "$r2" 1.5))"
echo "tree of $files, existing / cp -r:           $(ratio "$vte" "$cpe")"
echo "peak memory of veupd:                        $peak MiB (target <= 8: $(verdict "$peak" 8))"
echo "flush cost, ${size_mib} MiB (existing - fresh):   $(awk -v a="$vbe" -v b="$vbf" 'BEGIN { printf "%.2f s", a - b }')"
echo "flush cost, tree (existing - fresh):         $(awk -v a="$vte" -v b="$vtf" -v n="$files" 'BEGIN { printf "%.2f s, %.2f ms per file", a - b, (a - b) * 1000 / n }')"

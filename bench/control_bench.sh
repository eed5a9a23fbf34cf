#!/usr/bin/env bash
# Control file benchmark: the real updater on large control files of bad
# lines, and on a level whose log folder is missing.
#   - control files of 1 MiB and SIZE_MIB MiB of lines "#4" + 60 characters
#     (Fix-Update without its other parameters: error 4 and a failed step,
#     two log entries per line); the time should grow with the size, not with
#     its square. Against: wc -l and grep -c on the same file, the reference
#     for one pass over the text.
#   - LINES such lines with the log folder present and missing; a missing
#     folder must not cost a wait for every entry.
# Times are the best of RUNS runs.
#
# usage: bench/control_bench.sh [OUT_DIR] [SIZE_MIB] [LINES] [RUNS]
#   OUT_DIR  folder with veupd, dodudav.dll and MSG.STR (default: build/release/out)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
out_dir=$(cd "${1:-$here/../build/release/out}" && pwd)
size_mib=${2:-10}
lines=${3:-250}
runs=${4:-1}

for f in veupd dodudav.dll MSG.STR; do
  [ -e "$out_dir/$f" ] || { echo "control_bench: $out_dir/$f is missing" >&2; exit 2; }
done
work=$(mktemp -d "${TMPDIR:-/tmp}/control_bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

line="#4$(printf 'x%.0s' $(seq 60))"
make_control() {  # FILE MIB|-LINES
  local n
  if [ "${2:0:1}" = "-" ]; then n=${2:1}; else n=$(( $2 * 1048576 / (${#line} + 2) )); fi
  awk -v l="$line" -v n="$n" 'BEGIN { for (i = 0; i < n; i++) printf "%s\r\n", l }' > "$1"
}

# Best wall time of RUNS runs of a command, in seconds.
best() {
  local t b=""
  for _ in $(seq "$runs"); do
    local s e
    s=$(date +%s.%N)
    "$@" > /dev/null 2>&1 || true
    e=$(date +%s.%N)
    t=$(echo "$e - $s" | bc)
    if [ -z "$b" ] || [ "$(echo "$t < $b" | bc)" = 1 ]; then b=$t; fi
  done
  printf '%.2f' "$b"
}

run_level() {  # CONTROL LOGDIR
  printf '[UPDATE]\r\nMsg=%s\r\nLanguage=E\r\nFile=%s\r\nLogFileDir=%s\r\nLevel=1\r\n' \
    "$out_dir/MSG.STR" "$1" "$2" > "$work/upd.ini"
  rm -f "$work/logs/DedozUdu.log"
  "$out_dir/veupd" "$work/upd.ini"
}

mkdir -p "$work/logs"
printf '%-34s %10s %10s %10s\n' "control file" "veupd s" "wc -l s" "grep -c s"
for mib in 1 "$size_mib"; do
  make_control "$work/ctrl$mib.txt" "$mib"
  t_upd=$(best run_level "$work/ctrl$mib.txt" "$work/logs")
  t_wc=$(best wc -l "$work/ctrl$mib.txt")
  t_grep=$(best grep -c '^#4' "$work/ctrl$mib.txt")
  entries=$(grep -c 'Failed' "$work/logs/DedozUdu.log" || true)
  printf '%-34s %10s %10s %10s   (%s failed steps logged)\n' \
    "$mib MiB, $(wc -l < "$work/ctrl$mib.txt") lines" "$t_upd" "$t_wc" "$t_grep" "$entries"
done

make_control "$work/short.txt" "-$lines"
t_present=$(best run_level "$work/short.txt" "$work/logs")
t_missing=$(best run_level "$work/short.txt" "$work/no_such_folder")
printf '\n%s lines, log folder present: %s s; log folder missing: %s s\n' "$lines" "$t_present" "$t_missing"

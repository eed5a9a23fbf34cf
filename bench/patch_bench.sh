#!/usr/bin/env bash
# Patch benchmark: a random file of SIZE_MIB MiB and a copy with EDITS
# scattered inserts, deletes and replacements of 1 to 200 bytes. Makes the
# update with veupd-tool diff, xdelta3 -e and bsdiff, then applies it through
# the real updater (a Fix-Update control line with CRC verification, run by
# veupd from a parameter file) next to xdelta3 -d and bspatch, all in one run.
# Every result is compared with the new file. Times are the best of RUNS runs
# (the runs of the three tools alternate), memory the highest peak seen.
#
# usage: bench/patch_bench.sh [OUT_DIR] [SIZE_MIB] [EDITS] [RUNS]
#   OUT_DIR  folder with veupd, veupd-tool and the message tables of a
#            Release build (default: build/release/out)
# Needs xdelta3, bsdiff (benchmark only) and python3. bsdiff needs about
# 17 times the file size in memory and a few minutes at 256 MiB.
# PATCH_BENCH_DIR=DIR keeps the files in DIR; a later run with the same
# size and edit count reuses the test files and the bsdiff patch.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
out_dir=$(cd "${1:-$here/../build/release/out}" && pwd)
size_mib=${2:-256}
edits=${3:-1000}
runs=${4:-3}

for tool in xdelta3 bsdiff bspatch python3; do
  command -v "$tool" >/dev/null || { echo "patch_bench: $tool is missing" >&2; exit 2; }
done
veupd=$out_dir/veupd
[ -x "$veupd" ] || veupd=$out_dir/VeUpd
tool=$out_dir/veupd-tool
for f in "$veupd" "$tool" "$out_dir/MSG.STR"; do
  [ -e "$f" ] || { echo "patch_bench: $f is missing (build the release preset)" >&2; exit 2; }
done

if [ -n "${PATCH_BENCH_DIR:-}" ]; then
  mkdir -p "$PATCH_BENCH_DIR"
  work=$(cd "$PATCH_BENCH_DIR" && pwd)
else
  work=$(mktemp -d "${TMPDIR:-/tmp}/patch_bench.XXXXXX")
  trap 'rm -rf "$work"' EXIT
fi
mkdir -p "$work/target"
rm -f "$work"/*.times

# measure NAME CMD...: runs CMD with stdout to $work/NAME.out and appends
# "elapsed user sys peak_kib" to $work/NAME.times.
measure() {
  local name=$1
  shift
  local one=$work/$name.one
  if [ -x /usr/bin/time ]; then
    /usr/bin/time -f "%e %U %S %M" -o "$one" "$@" >"$work/$name.out"
  else
    python3 - "$one" "$work/$name.out" "$@" <<'EOF'
import resource, subprocess, sys, time
start = time.monotonic()
with open(sys.argv[2], "wb") as out:
    code = subprocess.run(sys.argv[3:], stdout=out).returncode
elapsed = time.monotonic() - start
r = resource.getrusage(resource.RUSAGE_CHILDREN)
with open(sys.argv[1], "w") as f:
    f.write(f"{elapsed:.2f} {r.ru_utime:.2f} {r.ru_stime:.2f} {r.ru_maxrss}\n")
sys.exit(code)
EOF
  fi
  cat "$one" >>"$work/$name.times"
}

# best NAME: "elapsed cpu peak_mib" of the fastest run, peak over all runs.
best() {
  awk '{ cpu = $2 + $3; if (NR == 1 || $1 < e) { e = $1; c = cpu } if ($4 > m) m = $4 }
       END { printf "%.2f %.2f %.1f\n", e, c, m / 1024 }' "$work/$1.times"
}

same() {
  cmp -s "$1" "$work/new.bin" || { echo "patch_bench: $2 did not give the new file" >&2; exit 1; }
}

stamp="$size_mib $edits"
if [ -f "$work/stamp" ] && [ "$(head -n 1 "$work/stamp")" = "$stamp" ]; then
  echo "Reusing the ${size_mib} MiB test files in $work"
  edit_list=$(tail -n 1 "$work/stamp")
else
  echo "Making a ${size_mib} MiB file and $edits scattered edits..."
  rm -f "$work/stamp" "$work/bsdiff.patch"
  edit_list=$(python3 "$here/patch_bench_edits.py" "$work/old.bin" "$work/new.bin" $((size_mib << 20)) "$edits")
  printf '%s\n%s\n' "$stamp" "$edit_list" >"$work/stamp"
fi

echo "Diffing ($runs runs each; bsdiff once)..."
for ((i = 0; i < runs; i++)); do
  measure our_diff "$tool" diff "$work/old.bin" "$work/new.bin" -o "$work/our.upd" --print-line --target "$work/target"
  measure xdelta_e xdelta3 -e -f -s "$work/old.bin" "$work/new.bin" "$work/xdelta.vcdiff"
done
if [ -f "$work/bsdiff.patch" ]; then
  echo "0 0 0 0" >"$work/bsdiff.times"  # kept from an earlier run: not timed
else
  measure bsdiff bsdiff "$work/old.bin" "$work/new.bin" "$work/bsdiff.patch.part"
  mv "$work/bsdiff.patch.part" "$work/bsdiff.patch"
fi

# The control line that veupd-tool printed: Fix-Update into $work/target.
cp "$work/our_diff.out" "$work/control.txt"
printf '[UPDATE]\r\nMsg=%s\r\nLanguage=E\r\nFile=%s\r\nLogFileDir=%s\r\n' \
  "$out_dir/MSG.STR" "$work/control.txt" "$work" >"$work/params.ini"

echo "Applying ($runs runs each)..."
for ((i = 0; i < runs; i++)); do
  rm -f "$work/target/old.bin" "$work/DedozUdu.log"
  measure veupd "$veupd" "$work/params.ini"
  grep -q "^OK - Fix-Update" "$work/DedozUdu.log" || { cat "$work/DedozUdu.log" >&2; exit 1; }
  same "$work/target/old.bin" "veupd Fix-Update"
  measure xdelta_d xdelta3 -d -f -s "$work/old.bin" "$work/xdelta.vcdiff" "$work/xdelta.out"
  same "$work/xdelta.out" "xdelta3 -d"
  measure bspatch bspatch "$work/old.bin" "$work/bspatch.out" "$work/bsdiff.patch"
  same "$work/bspatch.out" "bspatch"
  rm -f "$work/xdelta.out" "$work/bspatch.out"
done

size() { wc -c <"$1" | tr -d ' '; }
our_size=$(size "$work/our.upd")
xd_size=$(size "$work/xdelta.vcdiff")
bs_size=$(size "$work/bsdiff.patch")

read -r ap_t ap_c ap_m <<<"$(best veupd)"
read -r xd_t xd_c xd_m <<<"$(best xdelta_d)"
read -r bp_t bp_c bp_m <<<"$(best bspatch)"
read -r od_t od_c od_m <<<"$(best our_diff)"
read -r xe_t xe_c xe_m <<<"$(best xdelta_e)"
read -r bd_t bd_c bd_m <<<"$(best bsdiff)"

echo
echo "${size_mib} MiB file, $edits edits; exact edit list in the update format: $edit_list bytes"
printf '%-32s %9s %9s %10s %12s\n' "step" "time s" "cpu s" "peak MiB" "update B"
printf '%-32s %9s %9s %10s %12s\n' "veupd Fix-Update (CRC checked)" "$ap_t" "$ap_c" "$ap_m" ""
printf '%-32s %9s %9s %10s %12s\n' "xdelta3 -d" "$xd_t" "$xd_c" "$xd_m" ""
printf '%-32s %9s %9s %10s %12s\n' "bspatch" "$bp_t" "$bp_c" "$bp_m" ""
printf '%-32s %9s %9s %10s %12s\n' "veupd-tool diff" "$od_t" "$od_c" "$od_m" "$our_size"
printf '%-32s %9s %9s %10s %12s\n' "xdelta3 -e" "$xe_t" "$xe_c" "$xe_m" "$xd_size"
printf '%-32s %9s %9s %10s %12s\n' "bsdiff" "$bd_t" "$bd_c" "$bd_m" "$bs_size"
echo
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }
verdict() { awk -v v="$1" -v t="$2" 'BEGIN { print (v <= t ? "met" : "MISSED") }'; }
r_apply=$(ratio "$ap_t" "$xd_t")
r_diff=$(ratio "$od_t" "$xe_t")
r_size=$(ratio "$our_size" "$xd_size")
echo "Fix-Update time / xdelta3 -d time:   $r_apply (target <= 0.5: $(verdict "$r_apply" 0.5))"
echo "Fix-Update peak memory:              $ap_m MiB (target <= 8: $(verdict "$ap_m" 8))"
echo "diff time / xdelta3 -e time:         $r_diff (target < 1: $(verdict "$r_diff" 0.999))"
echo "update size / xdelta3 -e size:       $r_size (target <= 1.3: $(verdict "$r_size" 1.3))"

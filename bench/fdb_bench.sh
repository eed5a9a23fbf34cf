#!/bin/sh
# Merge benchmark of the FDB update: 1,000 files (8 MiB) into a database of
# 8,000 records (256 MiB), CRC check included, timed next to the chain that
# reads, writes and checksums the same bytes once:
#   cat DATA.FDB new/* > OUT && cksum OUT
# Usage: bench/fdb_bench.sh [VEUPD_TOOL] [RUNS]
#   VEUPD_TOOL  a Release build of veupd-tool (default: build/release/out/veupd-tool)
#   RUNS        timed runs of each side, alternating (default 5); medians are reported
# Environment: RECORDS (8000), RECORD_BYTES (33554), NEW_FILES (1000),
# NEW_BYTES (8388), SCRATCH (a folder for about 1.2 GiB; default: mktemp -d).
set -eu

here=$(cd "$(dirname "$0")" && pwd)
tool=${1:-$here/../build/release/out/veupd-tool}
runs=${2:-5}
records=${RECORDS:-8000}
record_bytes=${RECORD_BYTES:-33554}
new_files=${NEW_FILES:-1000}
new_bytes=${NEW_BYTES:-8388}
[ -x "$tool" ] || { echo "no veupd-tool at $tool" >&2; exit 2; }
tool=$(cd "$(dirname "$tool")" && pwd)/$(basename "$tool")
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (GNU time) for the peak memory" >&2; exit 2; }

work=${SCRATCH:-$(mktemp -d)}
trap 'rm -rf "$work"' EXIT
cd "$work"

# Old records R0000000.DAT, R0000002.DAT, ... (even numbers); the new files
# replace every 16th old record and insert as many new keys between them.
python3 - "$records" "$record_bytes" "$new_files" "$new_bytes" <<'EOF'
import os, sys
records, record_bytes, new_files, new_bytes = map(int, sys.argv[1:])
os.makedirs("src"); os.makedirs("new")
for i in range(records):
    with open("src/R%07d.DAT" % (2 * i), "wb") as f: f.write(os.urandom(record_bytes))
step = max(2, 2 * records // (new_files // 2 + 1)) // 2 * 2
for j in range(new_files):
    key = (j // 2) * step + (j % 2)  # even: replaces a record, odd: a new key
    with open("new/R%07d.DAT" % key, "wb") as f: f.write(os.urandom(new_bytes))
EOF

echo "creating the database ($records records of $record_bytes bytes)"
/usr/bin/time -f "create: %e s, peak RSS %M KiB" "$tool" fdb create ORIG.FDB src
rm -rf src
"$tool" fdb check ORIG.FDB

# The CRC the merged database must have, from one untimed merge.
cp ORIG.FDB DATA.FDB && cp ORIG.FDX DATA.FDX
"$tool" fdb update DATA.FDB 0 'new/*.DAT'
crc=$("$tool" fdb check DATA.FDB | sed -n 's/.*CRC \([0-9A-F]*\).*/\1/p')
cp DATA.FDX FIRST.FDX
echo "merged database: $("$tool" fdb check DATA.FDB)"

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
cpu() { awk '{ printf "%.2f\n", $2 + $3 }'; }
: > merge.txt; : > chain.txt; : > chain_sync.txt; : > merge_rss.txt; : > merge_cpu.txt; : > chain_cpu.txt
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg) ($(nproc) cores)"
i=0
while [ "$i" -lt "$runs" ]; do
  cp ORIG.FDB DATA.FDB && cp ORIG.FDX DATA.FDX && rm -f OUT && sync
  /usr/bin/time -o t.txt -f "%e %U %S %M" "$tool" fdb update DATA.FDB "$crc" 'new/*.DAT'
  "$tool" fdb check DATA.FDB | grep -q "CRC $crc" || { echo "merge result differs" >&2; exit 1; }
  cmp -s DATA.FDX FIRST.FDX || { echo "merge index differs" >&2; exit 1; }
  cut -d' ' -f1 t.txt >> merge.txt; cut -d' ' -f4 t.txt >> merge_rss.txt; cpu < t.txt >> merge_cpu.txt
  sync
  /usr/bin/time -o t.txt -f "%e %U %S" sh -c 'cat DATA.FDB new/* > OUT && cksum OUT > /dev/null'
  cut -d' ' -f1 t.txt >> chain.txt; cpu < t.txt >> chain_cpu.txt
  rm -f OUT && sync
  # For scale only: the same chain when OUT must reach the disk, as the
  # merge's new database does before the old one is deleted.
  /usr/bin/time -o t.txt -f "%e" sh -c 'cat DATA.FDB new/* > OUT && sync OUT && cksum OUT > /dev/null'
  cat t.txt >> chain_sync.txt
  i=$((i + 1))
done
baseline=$(/usr/bin/time -f "%M" "$tool" help 2>&1 >/dev/null | tail -1)
index_kib=$(( $(wc -c < ORIG.FDX) / 1024 ))

merge=$(median < merge.txt); chain=$(median < chain.txt); chain_sync=$(median < chain_sync.txt)
rss=$(median < merge_rss.txt)
echo "runs: $runs; load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "  merge (s):          $(tr '\n' ' ' < merge.txt)"
echo "  cat+cksum (s):      $(tr '\n' ' ' < chain.txt)"
echo "  cat+sync+cksum (s): $(tr '\n' ' ' < chain_sync.txt)"
echo "  CPU merge (s):      $(tr '\n' ' ' < merge_cpu.txt)"
echo "  CPU cat+cksum (s):  $(tr '\n' ' ' < chain_cpu.txt)"
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
# The median of the rounds' own ratios: load from elsewhere hits both sides alike.
round_ratio() { paste -d' ' "$1" "$2" | awk '{ print $1 / $2 }' | median | awk '{ printf "%.2f", $1 }'; }
echo "median merge $merge s; cat+cksum $chain s (ratio $(ratio "$merge" "$chain"));" \
     "cat+sync+cksum $chain_sync s (ratio $(ratio "$merge" "$chain_sync"))"
echo "median of the per-round ratios: merge / cat+cksum $(round_ratio merge.txt chain.txt);" \
     "merge / cat+sync+cksum $(round_ratio merge.txt chain_sync.txt)"
echo "median CPU: merge $(median < merge_cpu.txt) s, cat+cksum $(median < chain_cpu.txt) s"
echo "peak RSS of the merge $rss KiB; of 'veupd-tool help' $baseline KiB; old index $index_kib KiB;" \
     "beyond index and program: $((rss - baseline - index_kib)) KiB"

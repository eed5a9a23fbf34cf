#!/bin/sh
# Runs the demonstration level. Usage: run.sh [OUT_DIR]
# OUT_DIR holds veupd, veupd-tool, dodudav.dll and the message tables of a
# build; without it the updater is built first (Release, into build/demo).
# The script plays the vendor: it authors level 1 with veupd-tool from the
# text sources in vendor/ and update/, fills the CRC values into level1.txt,
# runs the level on a copy of installation/ and shows what it did.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)

if [ $# -ge 1 ]; then
  out=$(cd "$1" && pwd)
else
  build="${VEUPD_DEMO_BUILD:-$root/build/demo}"
  jobs="${VEUPD_JOBS:-2}"
  echo "== building into $build"
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
  cmake --build "$build" --target veupd veupd-tool dodudav message_tables -j"$jobs" >/dev/null
  out="$build/out"
fi
for f in veupd veupd-tool dodudav.dll MSG.STR; do
  if [ ! -f "$out/$f" ]; then echo "run.sh: $out/$f is missing; build the updater first" >&2; exit 2; fi
done
tool="$out/veupd-tool"

work=$(mktemp -d "${TMPDIR:-/tmp}/veupd-demo.XXXXXX")
inst="$work/installation"   # update directory 0 (%0)
upd="$work/update"          # update directory 1 (%1)
vendor="$work/vendor"       # the vendor's authoring folder, not part of the level
cp -R "$here/installation" "$inst"
cp -R "$here/update" "$upd"
mkdir -p "$vendor/new"
chmod +x "$upd/PROG/setup.exe"

# The installed state that the vendor's tools would find at a customer's:
# the article table (language E) and the help database.
"$tool" table build "$here/vendor/articles.table" "$here/vendor/articles-v1.tsv" "$inst/DATA/ART.STR" E
"$tool" fdb create "$inst/DATA/HELP.FDB" "$here/vendor/help-v1" >/dev/null

echo "== authoring level 1 (the vendor's side)"
# Fix-Update: byte-level edits turning the installed manual into the new one.
printf 'PROG/manual.upd: '
"$tool" diff "$inst/PROG/manual.txt" "$here/vendor/manual-v2.txt" -o "$upd/PROG/manual.upd" -v 2>&1
crc_manual=$("$tool" crc "$here/vendor/manual-v2.txt" | cut -c1-8)
# FDT-Update: whole-record edits between the old and the new article data.
"$tool" table build "$here/vendor/articles.table" "$here/vendor/articles-v2.tsv" "$vendor/new/ART.STR" E
printf 'DATA/ARTE.UPD:   '
"$tool" diff "$inst/DATA/ARTE.DAT" "$vendor/new/ARTE.DAT" -o "$upd/DATA/ARTE.UPD" --records -v 2>&1
crc_articles=$("$tool" crc "$vendor/new/ARTE.DAT" | cut -c1-8)
# Update FDB: the CRC of the database after the merge, found by making the
# same merge on a copy.
cp "$inst/DATA/HELP.FDB" "$inst/DATA/HELP.FDX" "$vendor/"
"$tool" fdb update "$vendor/HELP.FDB" 0 "$upd/HELP/*.TXT"
crc_help=$("$tool" crc "$vendor/HELP.FDB" | cut -c1-8)
echo "CRC manual.txt $crc_manual, ARTE.DAT $crc_articles, HELP.FDB after merge $crc_help"
sed -e "s/@CRC_MANUAL@/$crc_manual/" -e "s/@CRC_ARTICLES@/$crc_articles/" -e "s/@CRC_HELP@/$crc_help/" \
    "$here/level1.txt" > "$upd/CTRL.TXT"
echo
echo "== control file ($upd/CTRL.TXT, TABs shown as ' | ')"
sed 's/	/ | /g' "$upd/CTRL.TXT"

# Parameter files are INI files with CR LF line ends.
crlf() { printf '%s\r\n' "$@"; }
crlf '[UPDATE]' "Msg=$out/MSG.STR" 'Language=E' "File=$upd/CTRL.TXT" \
     "UpdDir0=$inst" "UpdDir1=$upd" 'Level=1' 'Marke=ve' \
     "ParentParams=$work/caller.ini" > "$work/update.ini"
crlf '[UPDATE]' 'ServerAutomation=0' > "$work/caller.ini"

echo
echo "== dry run: veupd-tool check $work/update.ini (last line; the whole report is in $work/check.txt)"
"$tool" check "$work/update.ini" > "$work/check.txt" || true
tail -n 1 "$work/check.txt"

echo
echo "== running: veupd $work/update.ini"
status=0
"$out/veupd" "$work/update.ini" || status=$?

echo
echo "== level log ($upd/DedozUdu.log)"
if [ -f "$upd/DedozUdu.log" ]; then tr -d '\r' < "$upd/DedozUdu.log"; else echo "(none)"; fi
echo
echo "== result"
echo "exit status: $status"
grep -a 'DedozUduResult' "$work/caller.ini" | tr -d '\r' || echo "DedozUduResult not written"

echo
echo "== built in the update folder by Fix-Update and FDT-Update (with its pointer step)"
for f in PROG/manual.txt DATA/ARTE.DAT DATA/ARTE.IDX; do
  if [ -f "$upd/$f" ]; then printf '%s (%s bytes)\n' "$f" "$(wc -c < "$upd/$f" | tr -d ' ')"; else echo "$f missing"; fi
done
echo
echo "== installation after the level"
(cd "$inst" && find . -type f | sort | while read -r f; do printf '%s (%s bytes)\n' "$f" "$(wc -c < "$f" | tr -d ' ')"; done)
echo
echo "== PROG/app.ini"
tr -d '\r' < "$inst/PROG/app.ini"
echo
echo "== PROG/manual.txt (changed lines against the installed version)"
tr -d '\r' < "$here/installation/PROG/manual.txt" > "$vendor/manual-old.txt"
tr -d '\r' < "$inst/PROG/manual.txt" > "$vendor/manual-now.txt"
diff "$vendor/manual-old.txt" "$vendor/manual-now.txt" | grep '^[<>]' || echo "(unchanged)"
echo
echo "== PROG/setup.log (written by the program call)"
cat "$inst/PROG/setup.log" 2>/dev/null || echo "(none)"
echo
echo "== article table: veupd-tool table dump DATA/ART.STR E"
"$tool" table dump "$inst/DATA/ART.STR" E || true
echo "-- looked up through the rebuilt index: table get DATA/ART.STR 1005 E"
"$tool" table get "$inst/DATA/ART.STR" 1005 E || true
echo
echo "== help database: veupd-tool fdb list DATA/HELP.FDB"
"$tool" fdb list "$inst/DATA/HELP.FDB" || true
"$tool" fdb check "$inst/DATA/HELP.FDB" || true
echo
echo "(work folder kept: $work)"
exit "$status"

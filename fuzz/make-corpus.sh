#!/usr/bin/env bash
# Writes the seed corpus fuzz/corpus/<target>/ from the demonstration data
# and a few hand-made inputs; table, database and update data seeds are made
# by veupd-tool. Usage: fuzz/make-corpus.sh PATH/TO/veupd-tool
# Keep the seeds few and small: they are checked in and every CI run starts
# from them.
set -euo pipefail
tool=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
here=$(cd "$(dirname "$0")" && pwd)
demo="$here/../examples/demo"
corpus="$here/corpus"
work=$(mktemp -d "${TMPDIR:-/tmp}/veupd-corpus.XXXXXX")
trap 'rm -rf "$work"' EXIT
rm -rf "$corpus"
mkdir -p "$corpus"

marker=$'\n--8<--\n'
# seed TARGET NAME PART... : the parts joined by the marker
seed() {
  local target=$1 name=$2
  shift 2
  mkdir -p "$corpus/$target"
  {
    local first=1
    for part in "$@"; do
      [ $first -eq 1 ] || printf '%s' "$marker"
      first=0
      cat "$part"
    done
  } > "$corpus/$target/$name"
}
text() { printf "$1" > "$work/$2"; echo "$work/$2"; }

# ---- control lines: update directories, then the control file
seed control_line_fuzz demo "$(text 'C:\\VELA\n\\\\server\\upd\n' dirs1)" "$demo/level1.txt"
seed control_line_fuzz nested "$(text 'C:\\%%1\nX%%0Y\n%%2\n' dirs2)" \
  "$(text '#1%%1\\DATA\\*.DAT\t%%0\\DATA\r\n=3%%0\\PROG\\app.ini\tA\tVERSION\tLevel\t%%L\r\n-9\t\t%%\r\n?8\n' ctrl2)"
long=$(printf 'x%.0s' $(seq 300))
seed control_line_fuzz long "$(text 'D\n' dirs3)" "$(text "#C%%0\\\\$long\tNEW\n#2a\000b\tc\n" ctrl3)"

# ---- INI: "section TAB key TAB value", then the file
printf '[UPDATE]\r\nMsg=/opt/vela/MSG.STR\r\nLanguage=E\r\nFile=/upd/CTRL.TXT\r\nUpdDir0=/opt/vela\r\nLevel=1\r\n' > "$work/update.ini"
seed ini_file_fuzz params "$(text 'UPDATE\tFile\t/upd/NEW.TXT' ini1)" "$work/update.ini"
seed ini_file_fuzz app "$(text 'VERSION\tLevel\t2' ini2)" "$demo/installation/PROG/app.ini"
seed ini_file_fuzz nocr "$(text 'b\tnew\t x ' ini3)" "$(text '[a]\nk=v\n [b] \nz = 1\r\n[B]\r\nnew=old\r\nnoequals\r\n' ini3f)"

# ---- delimited files: the delimiter, then the file
printf '%s\t%s\t%s\r\n' /vela/DATA/HELP.FDB 1A2B3C4D '/upd/HELP/*.TXT' /vela/DATA/HELP.FDB DELETE FAXES.TXT \
  /vela/DATA/HELP.FDB LIST_DELETE /upd/del.lst > "$work/fdb.lst"
seed delimited_file_fuzz tabs "$(text '\t' d1)" "$work/fdb.lst"
seed delimited_file_fuzz semicolons "$(text ';;' d2)" "$(text 'a;;b;;;c\n;;\n\nx;;;;y\r\nlast' d2f)"
printf 'y%.0s' $(seq 900) > "$work/d3f"
seed delimited_file_fuzz long "$(text ', ' d3)" "$work/d3f"

# ---- FDT tables and the message dictionary: structure, data, index, keys
"$tool" table build "$demo/vendor/articles.table" "$demo/vendor/articles-v1.tsv" "$work/ART.STR" E >/dev/null
seed fdt_fuzz articles "$work/ART.STR" "$work/ARTE.DAT" "$work/ARTE.IDX" "$(text '\351\003\000\000\n\000\000\000\000' k1)"
cat > "$work/lists.table" <<'TABLE'
data  L.DAT
index L.IDX
flags bitmap tree nearest
field KY single 6 fixed -- Key
field NM single 20 -- Name
field TG list8 8 max=4 -- Tags
field LN list16 40 max=3 type=6 -- Lines
TABLE
printf 'AAAAAA\tfirst\tred|blue\tone|two\nBBBBBB\t\t\tthree\nCCCCCC\tthird\tgreen\nDDDDDD\nEEEEEE\tfifth\ta|b|c|d\tx|y|z\n' > "$work/lists.tsv"
"$tool" table build "$work/lists.table" "$work/lists.tsv" "$work/L.STR" >/dev/null
seed fdt_fuzz lists_tree "$work/L.STR" "$work/L.DAT" "$work/L.IDX" "$(text 'CCCCCC\nB\nZZZZZZ' k2)"

"$tool" table build "$here/../data/messages/messages.table" "$here/../data/messages/texts_E.tsv" "$work/MSG.STR" E >/dev/null
seed message_dict_fuzz messages "$work/MSG.STR" "$work/MSGE.DAT" "$work/MSGE.IDX" "$(text '70\n118\n4' n1)"
printf '1\t%%s is %%d%%%% done\n2\tfile %%-20s, code %%08X, %%c\n3\t%%5.3d %%lu %%p %%n %%\n' > "$work/formats.tsv"
"$tool" table build "$here/../data/messages/messages.table" "$work/formats.tsv" "$work/F.STR" E >/dev/null
seed message_dict_fuzz formats "$work/F.STR" "$work/MSGE.DAT" "$work/MSGE.IDX" "$(text '1\n2\n3' n2)"

# ---- file databases: "KEYLENGTH OP LEFTOUT", .FDB, .FDX, names
mkdir -p "$work/help"
cp "$demo"/vendor/help-v1/* "$work/help/"
"$tool" fdb create "$work/HELP.FDB" "$work/help" >/dev/null
seed fdb_fuzz merge "$(text '9 U 0' f1)" "$work/HELP.FDB" "$work/HELP.FDX" "$(text 'FAXES.TXT\nORDER.TXT\nZZZZZ.TXT' f1n)"
seed fdb_fuzz sorted "$(text '9 S 0' f5)" "$work/HELP.FDB" "$work/HELP.FDX" "$(text 'ZZZZZ.TXT\nORDER.TXT\nFAXES.TXT' f5n)"
seed fdb_fuzz delete "$(text '9 D 0' f2)" "$work/HELP.FDB" "$work/HELP.FDX" "$(text 'INTRO.TXT' f2n)"
seed fdb_fuzz mask "$(text '9 U 4' f3)" "$work/HELP.FDB" "$work/HELP.FDX" "$(text 'EMPTY.TXT\nPRICE.TXT' f3n)"
seed fdb_fuzz reindex "$(text '9 I 0' f4)" "$work/HELP.FDB" "$(text '' f4x)"

# ---- update data: edits of the fuzz target's fixed old files
for i in $(seq 0 40); do printf 'line %d of the old file\r\n' "$i"; done > "$work/lines.txt"
head -c 600 "$work/lines.txt" > "$work/old.txt"
sed -e 's/line 3 /LINE three /' -e '/line 20 /d' "$work/old.txt" > "$work/new.txt"
printf 'appended\r\n' >> "$work/new.txt"
"$tool" diff "$work/old.txt" "$work/new.txt" -o "$work/fix.upd" >/dev/null
mkdir -p "$corpus/update_data_fuzz"
cp "$work/fix.upd" "$corpus/update_data_fuzz/fix"
for i in $(seq 0 29); do r="record $i.................."; printf '\022\000%s' "${r:0:18}"; done > "$work/old.dat"
for i in $(seq 0 29); do
  [ "$i" = 7 ] && continue
  r="record $i.................."; [ "$i" = 12 ] && r="changed 12........"
  printf '\022\000%s' "${r:0:18}"
done > "$work/new.dat"
printf '\004\000new!' >> "$work/new.dat"
"$tool" diff "$work/old.dat" "$work/new.dat" -o "$work/fdt.upd" --records >/dev/null
cp "$work/fdt.upd" "$corpus/update_data_fuzz/records"

du -sh "$corpus"

#!/bin/sh
# Builds the updater and runs the demonstration level: a copy of
# installation/ is updated from update/ by level1.txt, with the bundled
# English message table. Shows the level log, the result and the files.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build="${VEUPD_DEMO_BUILD:-$root/build/demo}"
jobs="${VEUPD_JOBS:-2}"

echo "== building into $build"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" --target veupd -j"$jobs" >/dev/null
out="$build/out"

work=$(mktemp -d "${TMPDIR:-/tmp}/veupd-demo.XXXXXX")
cp -R "$here/installation" "$work/installation"
cp -R "$here/update" "$work/update"
cp "$here/level1.txt" "$work/update/CTRL.TXT"

# Parameter files are INI files with CR LF line ends.
crlf() { printf '%s\r\n' "$@"; }
crlf '[UPDATE]' "Msg=$out/MSG.STR" 'Language=E' "File=$work/update/CTRL.TXT" \
     "UpdDir0=$work/installation" "UpdDir1=$work/update" 'Level=1' 'Marke=ve' \
     "ParentParams=$work/caller.ini" > "$work/update.ini"
crlf '[UPDATE]' 'ServerAutomation=0' > "$work/caller.ini"

echo "== running: veupd $work/update.ini"
status=0
"$out/veupd" "$work/update.ini" || status=$?

echo
echo "== level log ($work/update/DedozUdu.log)"
if [ -f "$work/update/DedozUdu.log" ]; then tr -d '\r' < "$work/update/DedozUdu.log"; else echo "(none)"; fi
echo
echo "== result"
echo "exit status: $status"
grep -a 'DedozUduResult' "$work/caller.ini" | tr -d '\r' || echo "DedozUduResult not written"
echo
echo "== installation after the level"
(cd "$work/installation" && find . -type f | sort | while read -r f; do printf '%-22s %s\n' "$f" "$(head -n 1 "$f" | tr -d '\r')"; done)
echo
echo "== PROG/app.ini after the level"
tr -d '\r' < "$work/installation/PROG/app.ini"
echo
echo "(work folder kept: $work)"
exit "$status"

#!/usr/bin/env bash
# Builds the program (release), installs it with its papers and its help
# document into the ready folder it runs from, makes the empty notes table
# there when there is none, and starts it from there.
#
# The ready folder is $JW_READY_DIR, by default $XDG_DATA_HOME/jotterwick
# (~/.local/share/jotterwick). It lies outside the build tree and holds the
# notes (data/) and the settings (jotterwick.INI), so neither a rebuild nor a
# clean build ever touches them; this script never writes over a notes table.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh"
build="$top/build/release"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DJW_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)"

ready=${JW_READY_DIR:-${XDG_DATA_HOME:-$HOME/.local/share}/jotterwick}
mkdir -p "$ready/data" "$ready/paper"
# A new copy beside the old one, then a rename: a program that is running
# keeps the executable it started from.
cp "$build/jotterwick/jotterwick" "$ready/.jotterwick.new"
mv -f "$ready/.jotterwick.new" "$ready/jotterwick"
cp "$build/jotterwick/paper/"*.bmp "$ready/paper/"
cp "$build/jotterwick/jotterwick.html" "$ready/"
if [ ! -e "$ready/data/scraps.DAT" ]; then
  for part in scraps.IDX scraps.BLB; do
    if [ -e "$ready/data/$part" ]; then
      echo "$ready/data holds $part but no scraps.DAT; left as it is, nothing started." >&2
      exit 1
    fi
  done
  "$build/app/notes_table/jw_make_notes_table" "$ready/data"
fi

exec "$ready/jotterwick" "$@"

#!/usr/bin/env bash
# End-to-end check that notes keep their places under a window manager:
# Xvfb with openbox, which takes every note into a frame of its own. The
# program starts with 100 notes on a grid, ends on SIGTERM, which saves every
# note, and starts again: each note must come back where the first run showed
# it, read from the server with the window's place on the root window.
#
#   run_positions_e2e.sh <jotterwick> <jw_make_notes_table> <jw_x_probe> <paper folder>
#
# Exits 77 (skipped) when a tool it needs is not installed. With JW_E2E_KEEP
# set, the work folder stays for a look.
set -euo pipefail

program=$1
make_notes_table=$2
probe=$3
papers=$4
support=${0%/*}/../../support/e2e
count=100

# shellcheck source=../../support/e2e/x_session.sh
. "$support/x_session.sh"
need_tools Xvfb openbox xprop

ready=$work/ready
mkdir -p "$ready/data" "$ready/paper"
cp "$program" "$ready/jotterwick"
cp "$papers"/*.bmp "$ready/paper/"
"$make_notes_table" "$ready/data" "$count"
printf '[Tips]\nShowAtStart=0\n' >"$ready/jotterwick.INI"

start_x_session

# run <n>: starts the program, waits for every note to be mapped and to keep
# still, writes the notes' places to $work/places<n>, and ends the program
# with SIGTERM.
places=
previous=
settled() {
  [ "$("$probe" shaped-windows jotterwick)" = "$count" ] || return 1
  "$probe" shaped-places jotterwick | sort -n >"$places"
  [ "$(md5sum <"$places")" = "$previous" ] && return 0
  previous=$(md5sum <"$places")
  sleep 0.5
  return 1
}
run() {
  local pid status=0
  places=$work/places$1
  previous=
  HOME=$work "$ready/jotterwick" >"$work/program$1.out" 2>"$work/program$1.err" &
  pid=$!
  started "$pid"
  wait_for 60 "$count notes to be mapped and keep still (run $1)" settled
  kill -TERM "$pid"
  wait "$pid" || status=$?
  finished "$pid"
  [ "$status" -eq 0 ] || fail "run $1 ended with status $status"
}

run 1
[ "$(sort -u "$work/places1" | wc -l)" = "$count" ] ||
  fail "the first run did not show $count notes at distinct places: $(sort "$work/places1" | uniq -d | head)"
run 2
diff "$work/places1" "$work/places2" >"$work/places.diff" ||
  fail "$(grep -c '^>' "$work/places.diff") of $count notes came back elsewhere: $(head -n 12 "$work/places.diff")"

echo "passed: $count notes back at their places under openbox"

#!/usr/bin/env bash
# End-to-end check of the program's end when it cannot end as usual, on a
# real X server with openbox: when the X server goes away, the notes are
# saved as a signal would save them (text typed just before is on the note
# at the next start, on a new server), and in a ready folder that cannot be
# written (a read-only bind mount in a mount namespace of its own), answering
# Yes to "Exit anyway?" after a signal ends the program.
#
#   run_program_end_e2e.sh <jotterwick> <jw_make_notes_table> <jw_x_probe> <paper folder>
#
# Exits 77 (skipped) when a tool it needs is not installed; without a mount
# namespace the read-only part alone is left out. With JW_E2E_KEEP set, the
# work folder (logs, screenshots) stays for a look.
set -euo pipefail

program=$1
make_notes_table=$2
probe=$3
papers=$4
support=${0%/*}/../../support/e2e
python=/usr/bin/python3
background=206040

# shellcheck source=../../support/e2e/x_session.sh
. "$support/x_session.sh"
# shellcheck source=../../support/e2e/program_windows.sh
. "$support/program_windows.sh"
need_tools Xvfb openbox xdotool xprop xwininfo import compare convert "$python"

# --- the ready folder: the program, its papers and one note, "Note 0"
ready=$work/ready
mkdir -p "$ready/data" "$ready/paper"
cp "$program" "$ready/jotterwick"
cp "$papers"/*.bmp "$ready/paper/"
"$make_notes_table" "$ready/data" 1
printf '[Tips]\nShowAtStart=0\n' >"$ready/jotterwick.INI"

program_pid=
# start_program <run> [<launcher...>]: starts the program from the ready
# folder, through the launcher when one is given.
start_program() {
  local run=$1
  shift
  HOME=$work "$@" "$ready/jotterwick" >"$work/program$run.out" 2>"$work/program$run.err" &
  program_pid=$!
  started "$program_pid"
}
# end_program <status>: the program has ended with that status, and the
# sanitizers found nothing on the way.
end_program() {
  local status=0
  wait "$program_pid" || status=$?
  finished "$program_pid"
  [ "$status" -eq "$1" ] || fail "the program ended with status $status, not $1"
  ! grep -q 'Sanitizer\|runtime error' "$work"/program*.err || fail "the sanitizers reported"
}
ended() { ! alive "$program_pid"; }

note=
left= top= width= height=
# Waits for the note and reads its place and outline.
wait_for_note() {
  wait_for 30 "the note to show" find_window Scrap
  note=$window
  wait_for 10 "the note to be mapped" viewable "$note"
  read -r left top width height < <(window_geometry "$note")
  "$probe" shape "$note" >"$work/note.rects"
}
# note_shot <name>: the note alone, cut from a shot of the screen, in
# $work/<name>.ppm.
note_shot() {
  shot screen && convert "$work/screen.ppm" -crop "${width}x$height+$left+$top" +repage "$work/$1.ppm"
}
snapshot=
# Two shots in a row agree and differ from $work/<name>.ppm.
changed_from() {
  local previous=$snapshot
  note_shot now || return 1
  snapshot=$(md5sum <"$work/now.ppm")
  [ "$snapshot" = "$previous" ] &&
    [ "$(compare -metric AE "$work/$1.ppm" "$work/now.ppm" null: 2>&1)" != 0 ]
}
looks_like() {
  note_shot now && [ "$(compare -metric AE "$work/$1.ppm" "$work/now.ppm" null: 2>&1)" = 0 ]
}

# ------------------------------------------- the X server goes away
start_x_session
"$probe" root-colour "$background"
start_program 1
wait_for_note
note_shot loaded
read -r grab_x grab_y < <(awk '$1 == "rect" && $4 - $2 > w { w = $4 - $2; x = int(($2 + $4) / 2); y = $3 }
  END { print x, y }' "$work/note.rects")
wait_for 10 "the clicked note to take the keyboard focus" click_to_focus "$note" "$grab_x" "$grab_y"
typed_at=$(date +%s%N)
xdotool type --delay 20 " typed"
wait_for 10 "the typed text to show on the note" changed_from loaded
cp "$work/now.ppm" "$work/typed.ppm"
# Well before the note is saved a few seconds after its change.
took_ms=$((($(date +%s%N) - typed_at) / 1000000))
[ "$took_ms" -lt 2000 ] || fail "typing took $took_ms ms, too close to the note's own save to tell"
kill "$x_server_pid"
wait "$x_server_pid" || true
finished "$x_server_pid"
wait_for 10 "the end of the X server to end the program" ended
end_program 1

start_x_session
"$probe" root-colour "$background"
start_program 2
wait_for_note
wait_for 10 "the note to come back with the text typed before the X server went away" \
  looks_like typed

# ------------------------------------------- a ready folder that cannot be written
# The settings as the program writes them at exit, so the read-only run has
# nothing of its own to write but its notes.
kill -TERM "$program_pid"
wait_for 10 "SIGTERM to end the program" ended
end_program 0
read_only=
if unshare --mount true 2>/dev/null; then
  read_only=1
  # read_only.sh <folder> <command...>: runs the command with the folder
  # mounted read-only.
  cat >"$work/read_only.sh" <<'END'
folder=$1
shift
mount --bind "$folder" "$folder" && mount -o remount,bind,ro "$folder" && exec "$@"
END
  start_program 3 unshare --mount sh "$work/read_only.sh" "$ready"
  wait_for_note
  kill -TERM "$program_pid"
  wait_for 10 "the program to ask whether to exit without its notes" find_window Confirm
  xdotool windowactivate --sync "$window" key Return
  wait_for 10 "Yes to end the program" ended
  end_program 0
fi

echo "passed: the notes saved when the X server went away${read_only:+, and Yes to \"Exit anyway?\" ends the program in a read-only ready folder}"

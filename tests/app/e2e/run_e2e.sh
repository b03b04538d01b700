#!/usr/bin/env bash
# End-to-end check of a note window on a real X server: starts Xvfb and
# openbox, shows a note with jw_show_note and checks with the server's own
# answers (the SHAPE rectangles, screenshots, the window's position and its
# properties) that the note is shaped, painted, typed into and dragged.
#
#   run_e2e.sh <jw_show_note> <jw_x_probe> <paper file>
#
# Exits 77 (skipped) when a tool it needs is not installed. With JW_E2E_KEEP
# set, the work folder (logs, screenshot, shapes) stays for a look.
set -euo pipefail

show_note=$1
probe=$2
paper=$3
support=${0%/*}/../../support/e2e
python=/usr/bin/python3
background=206040
# Where the note asks to be put; openbox honours a position the program chose.
note_left=100
note_top=80

# shellcheck source=../../support/e2e/x_session.sh
. "$support/x_session.sh"
need_tools Xvfb openbox xdotool xprop xwininfo import "$python"

# --- the X server and the window manager
start_x_session
"$probe" root-colour "$background"

# --- the note; it reads commands from a pipe so that it can quit cleanly.
# Opened for reading and writing here, the pipe never blocks either side.
mkfifo "$work/commands"
exec 3<>"$work/commands"
"$show_note" "$paper" "$note_left" "$note_top" <"$work/commands" >"$work/note.out" \
  2>"$work/note.err" 3>&- &
note_pid=$!
started "$note_pid"
note_ready() { alive "$note_pid" && grep -qx ready "$work/note.out"; }
wait_for 30 "jw_show_note to show its note" note_ready

window=$(awk '$1 == "window" { print $2 }' "$work/note.out")
grep '^rect ' "$work/note.out" >"$work/note.rects" || fail "the note printed no shape"
read -r probe_x probe_y paper_colour < <(awk '$1 == "paper" { print $2, $3, $4 }' "$work/note.out") ||
  fail "the note printed no paper point"
[ -n "$window" ] || fail "the note printed no window id"

viewable() { xwininfo -id "$window" | grep -q 'Map State: IsViewable'; }
wait_for 10 "the note's window to be mapped" viewable

# Absolute position and size of the note's window.
geometry() { window_geometry "$window"; }
read -r left top width height < <(geometry)
[ "$left $top" = "$note_left $note_top" ] ||
  fail "the note is at $left,$top instead of $note_left,$note_top"

# --- 1. the window's X shape is the region the note computed
"$probe" shape "$window" >"$work/x.rects"
diff "$work/note.rects" "$work/x.rects" >"$work/shape.diff" ||
  fail "the X shape differs from the note's region (< note, > X server):
$(head -n 20 "$work/shape.diff")"

# --- 2. the screen shows the background outside the shape and paper inside
shot() { import -window root -depth 8 "$work/shot.ppm"; }
screen() { "$python" "$support/screen_check.py" "$@"; }
paper_shown() {
  shot && [ "$(screen pixel "$work/shot.ppm" $((left + probe_x)) $((top + probe_y)))" = "$paper_colour" ]
}
wait_for 10 "the paper colour $paper_colour at the note's point $probe_x,$probe_y" paper_shown
counts=$(screen note "$work/shot.ppm" "$work/note.rects" "$left" "$top" "$width" "$height" \
  "$background")
[ "$counts" = "outside_not_background=0 inside_background=0 dark_inside=0" ] ||
  fail "before typing, the screen around and inside the note shows: $counts"

# --- 3a. a press moved 5 pixels stays a click: the window keeps its place
grab_x=$((left + probe_x))
grab_y=$((top + probe_y))
xdotool mousemove "$grab_x" "$grab_y" mousedown 1
xdotool mousemove $((grab_x + 5)) $((grab_y + 5)) mouseup 1
focused() { [ "$(xdotool getwindowfocus)" = "$((window))" ]; }
wait_for 10 "the clicked note to take the keyboard focus" focused

# --- 2, continued: typed text shows dark pixels inside the outline
xdotool type --delay 20 "hello world"
# answered <n>: the note has printed more than n messages.
answered() { [ "$(grep -c '^message ' "$work/note.out")" -gt "$1" ]; }
# The note's text as the note has it now: asks, and waits for the answer.
note_message() {
  local before
  before=$(grep -c '^message ' "$work/note.out" || true)
  echo message >&3
  wait_for 10 "jw_show_note to tell its text" answered "$before"
  grep '^message ' "$work/note.out" | tail -n1 | cut -c9-
}
typed() { [ "$(note_message)" = "hello world" ]; }
wait_for 10 "the note to receive \"hello world\"" typed
# The note has handled every key; the screen settles once its last paint is
# flushed: two screenshots in a row agree.
dark=-1
text_settled() {
  local previous=$dark
  shot && counts=$(screen note "$work/shot.ppm" "$work/note.rects" "$left" "$top" "$width" \
    "$height" "$background") || return 1
  dark=${counts##*dark_inside=}
  [ "$dark" -gt 0 ] && [ "$dark" = "$previous" ]
}
wait_for 10 "the typed text to show on the note" text_settled
# The keys were handled after the 5-pixel drag's events, so had that drag
# moved the window, the move would show by now.
[ "$(geometry)" = "$left $top $width $height" ] ||
  fail "a 5-pixel drag moved the note from $left,$top to $(geometry)"
case $counts in
  "outside_not_background=0 inside_background=0 dark_inside="*) ;;
  *) fail "after typing, the screen around and inside the note shows: $counts" ;;
esac
[ "${counts##*dark_inside=}" -ge 40 ] ||
  fail "after typing, only ${counts##*dark_inside=} dark pixels inside the note"

# --- 3b. a 6-pixel drag moves the window with the pointer. It grabs 20
# pixels above the first press (the note's point has that much room around
# it), so that the press cannot count as the second click of a double click.
grab_y=$((grab_y - 20))
xdotool mousemove "$grab_x" "$grab_y" mousedown 1
xdotool mousemove $((grab_x + 6)) "$grab_y" mouseup 1
moved() { [ "$(geometry)" != "$left $top $width $height" ]; }
wait_for 10 "a 6-pixel drag to move the note" moved
[ "$(geometry)" = "$((left + 6)) $top $width $height" ] ||
  fail "a 6-pixel drag moved the note from $left,$top to $(geometry)"

# --- 4. a frameless utility window, transient for the program's leader
# window, which taskbars leave out
types=$(xprop -id "$window" _NET_WM_WINDOW_TYPE)
case $types in
  *"= _NET_WM_WINDOW_TYPE_UTILITY"*) ;;
  *) fail "the note's window type is not utility first: $types" ;;
esac
xprop -id "$window" WM_TRANSIENT_FOR | grep -q 'window id' ||
  fail "the note is not transient for the program's leader window"
frame=$(xprop -id "$window" _NET_FRAME_EXTENTS)
[ "$frame" = "_NET_FRAME_EXTENTS(CARDINAL) = 0, 0, 0, 0" ] ||
  fail "openbox gives the note a frame: $frame"

# --- 5. notes shown together keep the focus where it was and stack in the
# order given, the last on top
echo "stack 3" >&3
stacked_out() { grep -q '^stacked ' "$work/note.out"; }
wait_for 10 "jw_show_note to show three more notes" stacked_out
read -r -a stacked < <(grep '^stacked ' "$work/note.out" | cut -c9-)
all_viewable() {
  local id
  for id in "${stacked[@]}"; do
    xwininfo -id "$id" | grep -q 'Map State: IsViewable' || return 1
  done
}
wait_for 10 "the three notes to be mapped" all_viewable
focused ||
  fail "showing notes together took the focus from $window to $(printf '0x%x' "$(xdotool getwindowfocus)")"
# openbox lists the managed windows bottom to top.
order=$(xprop -root _NET_CLIENT_LIST_STACKING | tr -d ',' | tr ' ' '\n' | grep '^0x' |
  while read -r id; do echo $((id)); done | tr '\n' ' ')
expected=""
for id in "$window" "${stacked[@]}"; do expected+="$((id)) "; done
[ "$order" = "$expected" ] ||
  fail "the notes stack as $order instead of $expected (bottom to top)"

# --- the program quits cleanly (the sanitizers report at exit) with the text
echo quit >&3
exec 3>&-
ended() { ! alive "$note_pid"; }
wait_for 30 "jw_show_note to quit" ended
status=0
wait "$note_pid" || status=$?
finished "$note_pid"
[ "$status" -eq 0 ] || fail "jw_show_note ended with status $status"
message=$(grep '^message ' "$work/note.out" | tail -n1 | cut -c9-)
[ "$message" = "hello world" ] || fail "the note holds \"$message\" instead of \"hello world\""

echo "passed: shape, paint, typing, drag tolerance, window type and stacked showing of notes on $paper"

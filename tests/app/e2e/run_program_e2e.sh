#!/usr/bin/env bash
# End-to-end check of the whole program on a real X server with a tray
# host: Xvfb, openbox and trayer, driven by xdotool. It installs the program
# and its papers in a ready folder of its own with an empty notes table and
# checks, with the server's own answers (the window tree, window properties,
# the SHAPE rectangles, screenshots), that the tray menu's "New Scrap..."
# shows a shaped note centred on the screen, that typed text shows on it,
# that left clicks on the tray icon hide and show every note, that "Exit"
# ends the program within a second having written its settings, that no
# window of the program has a taskbar entry, and that the note comes back at
# the next start as it was left; a signal ends that run the way "Exit" does.
#
#   run_program_e2e.sh <jotterwick> <jw_make_notes_table> <jw_x_probe> <paper folder>
#
# Exits 77 (skipped) when a tool it needs is not installed. With JW_E2E_KEEP
# set, the work folder (logs, screenshots) stays for a look.
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
need_tools Xvfb openbox trayer xdotool xprop xwininfo import compare convert "$python"

# --- the ready folder: the program, its papers and an empty notes table
ready=$work/ready
mkdir -p "$ready/data" "$ready/paper"
cp "$program" "$ready/jotterwick"
cp "$papers"/*.bmp "$ready/paper/"
"$make_notes_table" "$ready/data"
# The tips would show at the first start.
printf '[Tips]\nShowAtStart=0\n' >"$ready/jotterwick.INI"

# --- the X server, the window manager and the tray host, which is ready once
# it owns the tray selection
start_x_session
"$probe" root-colour "$background"
HOME=$work trayer --edge top --align right --widthtype request --height 24 \
  >"$work/trayer.log" 2>&1 &
started $!
tray_owned() { [ "$("$probe" owner _NET_SYSTEM_TRAY_S0)" != none ]; }
wait_for 10 "trayer to own the tray selection" tray_owned

program_pid=
# start_program <run>: starts the program from the ready folder.
start_program() {
  HOME=$work "$ready/jotterwick" >"$work/program$1.out" 2>"$work/program$1.err" &
  program_pid=$!
  started "$program_pid"
}
# end_program: the program has ended with status 0 (the sanitizers report
# at exit).
end_program() {
  local status=0
  wait "$program_pid" || status=$?
  finished "$program_pid"
  [ "$status" -eq 0 ] || fail "the program ended with status $status"
}
ended() { ! alive "$program_pid"; }

# The program's windows on the screen, as decimal ids.
program_windows() { xdotool search --onlyvisible --class jotterwick; }
parent_of() { xwininfo -children -id "$1" | awk '/Parent window id:/ { print $4 }'; }
in_trayer() {
  local w=$1
  while w=$(parent_of "$w") && [ -n "$w" ] && [ "$((w))" != 0 ]; do
    xprop -id "$w" WM_CLASS | grep -q '"trayer"' && return 0
  done
  return 1
}
override_redirect() { xwininfo -id "$1" | grep -q 'Override Redirect State: yes'; }

icon=
find_icon() {
  local w
  for w in $(program_windows); do
    if in_trayer "$w"; then
      icon=$w
      return 0
    fi
  done
  return 1
}
# The notes: the program's windows outside the tray that the window manager
# manages (menus are left alone by it).
notes() {
  local w
  for w in $(program_windows); do
    in_trayer "$w" || override_redirect "$w" || echo "$w"
  done
}
menu=
find_menu() {
  local w
  for w in $(program_windows); do
    if override_redirect "$w" && ! in_trayer "$w"; then
      menu=$w
      return 0
    fi
  done
  return 1
}
no_menu() { ! find_menu; }

icon_x=
icon_y=
wait_for_icon() {
  wait_for 30 "the program's tray icon" find_icon
  local left top width height
  read -r left top width height < <(window_geometry "$icon")
  icon_x=$((left + width / 2))
  icon_y=$((top + height / 2))
}
# Opens the tray menu with a right click. A pause first keeps the click from
# counting as the second click of a double click.
open_tray_menu() {
  sleep 0.5
  xdotool mousemove "$icon_x" "$icon_y" click 3
  wait_for 10 "the tray menu to open" find_menu
}
left_click_icon() {
  sleep 0.5
  xdotool mousemove "$icon_x" "$icon_y" click 1
}

# No window the window manager manages for the program may be one a taskbar
# lists: each is a utility window, transient for the program's leader, or
# asks to be skipped.
check_no_taskbar_entry() {
  local id types
  for id in $(xprop -root _NET_CLIENT_LIST | tr -d ',' | tr ' ' '\n' | grep '^0x'); do
    xprop -id "$id" WM_CLASS | grep -qi '"jotterwick"' || continue
    types=$(xprop -id "$id" _NET_WM_WINDOW_TYPE _NET_WM_STATE WM_TRANSIENT_FOR)
    case $types in
      *_NET_WM_STATE_SKIP_TASKBAR* | *"= _NET_WM_WINDOW_TYPE_UTILITY"* | *"window id # 0x"*) ;;
      *) fail "the program's window $id would have a taskbar entry: $types" ;;
    esac
  done
}

note=
one_note() {
  local found
  found=$(notes) || return 1
  [ "$(wc -w <<<"$found")" = 1 ] || return 1
  note=$found
}
viewable() { xwininfo -id "$1" | grep -q 'Map State: IsViewable'; }
hidden() { ! viewable "$1"; }
shot() { import -window root -depth 8 "$work/$1.ppm"; }

# ---------------------------------------------------------------- first run
start_program 1
wait_for_icon
[ -z "$(notes)" ] || fail "an empty notes table showed notes: $(notes)"
check_no_taskbar_entry

# --- "New Scrap..." shows one shaped note, centred on the screen
open_tray_menu
xdotool key Down Return
wait_for 10 "\"New Scrap...\" to show a note" one_note
wait_for 10 "the note to be mapped" viewable "$note"
"$probe" shape "$note" >"$work/note.rects"
grep -q '^rect ' "$work/note.rects" || fail "the new note is not shaped: $(cat "$work/note.rects")"
read -r left top width height < <(window_geometry "$note")
read -r screen_width screen_height < <(xdotool getdisplaygeometry)
[ "$left $top" = "$(((screen_width - width) / 2)) $(((screen_height - height) / 2))" ] ||
  fail "the ${width}x$height note is at $left,$top, not centred on the ${screen_width}x$screen_height screen"
check_no_taskbar_entry

# --- typed text shows dark pixels inside the outline. The click lands in
# the middle of the outline's widest rectangle.
read -r grab_x grab_y < <(awk '$1 == "rect" && $4 - $2 > w { w = $4 - $2; x = int(($2 + $4) / 2); y = $3 }
  END { print x, y }' "$work/note.rects")
xdotool mousemove $((left + grab_x)) $((top + grab_y)) click 1
focused() { [ "$(xdotool getwindowfocus)" = "$note" ]; }
wait_for 10 "the clicked note to take the keyboard focus" focused
xdotool type --delay 20 "hello world"
dark=-1
text_settled() {
  local previous=$dark counts
  shot typed && counts=$("$python" "$support/screen_check.py" note "$work/typed.ppm" \
    "$work/note.rects" "$left" "$top" "$width" "$height" "$background") || return 1
  dark=${counts##*dark_inside=}
  [ "$dark" -ge 40 ] && [ "$dark" = "$previous" ]
}
wait_for 10 "the typed text to show on the note" text_settled
convert "$work/typed.ppm" -crop "${width}x$height+$left+$top" +repage "$work/note1.ppm"

# --- a left click on the icon hides every note, a second shows them again
left_click_icon
wait_for 10 "a left click on the tray icon to hide the note" hidden "$note"
left_click_icon
wait_for 10 "a second left click on the tray icon to show the note" viewable "$note"
[ "$(window_geometry "$note")" = "$left $top $width $height" ] ||
  fail "the note came back at $(window_geometry "$note") instead of $left $top $width $height"
check_no_taskbar_entry

# --- "Exit" ends the program within a second, the settings written
open_tray_menu
xdotool key Down Down Down Down
started_at=$(date +%s%N)
xdotool key Return
wait_for 10 "\"Exit\" to end the program" ended
took_ms=$((($(date +%s%N) - started_at) / 1000000))
end_program
[ "$took_ms" -le 1000 ] || fail "\"Exit\" took $took_ms ms to end the program"
grep -qi '^\[Main\]' "$ready/jotterwick.INI" || fail "no settings were written at exit"

# --------------------------------------------------------------- second run
# The note is back where it was, with its shape, text, paper and font.
start_program 2
wait_for_icon
wait_for 30 "the note to come back" one_note
wait_for 10 "the note to be mapped" viewable "$note"
[ "$(window_geometry "$note")" = "$left $top $width $height" ] ||
  fail "the note came back at $(window_geometry "$note") instead of $left $top $width $height"
"$probe" shape "$note" | diff "$work/note.rects" - >"$work/shape.diff" ||
  fail "the note came back with another shape: $(head -n 20 "$work/shape.diff")"
note_restored() {
  shot restored && convert "$work/restored.ppm" -crop "${width}x$height+$left+$top" +repage \
    "$work/note2.ppm" && [ "$(compare -metric AE "$work/note1.ppm" "$work/note2.ppm" null: 2>&1)" = 0 ]
}
wait_for 10 "the note to look as it was left" note_restored
check_no_taskbar_entry

# --- a signal closes the program as "Exit" does
kill -TERM "$program_pid"
wait_for 10 "SIGTERM to end the program" ended
end_program

echo "passed: tray menu, a new shaped note centred, typing, hiding and showing, Exit within a second, no taskbar entry, and the note back at the next start"

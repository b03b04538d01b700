#!/usr/bin/env bash
# End-to-end check of the whole program on a real X server with a tray
# host: Xvfb, openbox and trayer, driven by xdotool. It installs the program
# and its papers in a ready folder of its own with an empty notes table and
# checks, with the server's own answers (the window tree, window properties,
# the SHAPE rectangles, screenshots), that the tray menu's "New Scrap..."
# shows a shaped note centred on the screen, that typed text shows on it,
# that left clicks on the tray icon hide and show every note, that an alarm
# set a few seconds ahead through the note's alarm dialog shows the hidden
# note when it fires (its sound finds no sound device), that "Exit" ends the
# program within a second having written its settings, that no window of the
# program has a taskbar entry, and that the note comes back at the next start
# as it was left, its alarm with it; a signal ends that run the way "Exit"
# does. While it runs, a second start from the same ready folder says the
# program is already running and ends without opening the notes table, and a
# start from another ready folder runs beside it. Text typed on the note is in
# the table a few seconds later: after SIGKILL the next start shows it. A last
# run starts with 200 notes in the table and shows them all.
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
# shellcheck source=../../support/e2e/program_windows.sh
. "$support/program_windows.sh"
need_tools Xvfb openbox trayer xdotool xprop xwininfo import compare convert "$python"

# --- the ready folder: the program, its papers and an empty notes table
ready=$work/ready
mkdir -p "$ready/data" "$ready/paper"
cp "$program" "$ready/jotterwick"
cp "$papers"/*.bmp "$ready/paper/"
"$make_notes_table" "$ready/data"
# The tips would show at the first start. The alarm plays a short tone twice,
# on a sound system without any device.
"$python" -c 'import sys, wave
w = wave.open(sys.argv[1], "wb"); w.setnchannels(1); w.setsampwidth(2); w.setframerate(8000)
w.writeframes(b"\x00\x10\x00\xf0" * 2000)' "$work/tone.wav"
printf '[Tips]\nShowAtStart=0\n[Main]\nAlarmFileName=%s\nAlarmReps=2\n' "$work/tone.wav" \
  >"$ready/jotterwick.INI"
: >"$work/alsa.conf"
export ALSA_CONFIG_PATH=$work/alsa.conf

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

# The notes: the program's windows outside the tray that the window manager
# manages (menus are left alone by it).
notes() {
  local w
  for w in $(program_windows); do
    in_trayer "$w" || override_redirect "$w" || echo "$w"
  done
}

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
  wait_for 10 "the tray menu to open" find_popup
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
hidden() { ! viewable "$1"; }
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
wait_for 10 "the clicked note to take the keyboard focus" click_to_focus "$note" "$grab_x" "$grab_y"
xdotool type --delay 20 "hello world"
wait_for 10 "the typed text to show on the note" text_settled typed
convert "$work/typed.ppm" -crop "${width}x$height+$left+$top" +repage "$work/typed_note.ppm"

# --- a left click on the icon hides every note, a second shows them again
left_click_icon
wait_for 10 "a left click on the tray icon to hide the note" hidden "$note"
left_click_icon
wait_for 10 "a second left click on the tray icon to show the note" viewable "$note"
[ "$(window_geometry "$note")" = "$left $top $width $height" ] ||
  fail "the note came back at $(window_geometry "$note") instead of $left $top $width $height"
check_no_taskbar_entry

# --- an alarm a few seconds ahead, set on the note's alarm dialog, shows the
# note hidden meanwhile when it fires, not before
# set_alarm <quantity> <unit row>: sets the note's alarm on the dialog's
# "Timer" page, the unit's row counted from "Seconds" (0) to "Days" (3), and
# notes in alarm_set_at when OK was pressed. Places are in the dialog's own
# layout.
set_alarm() {
  sleep 0.5
  xdotool mousemove $((left + grab_x)) $((top + grab_y)) click 3
  wait_for 10 "the note's menu to open" find_popup
  # "Set Alarm..." is second from the bottom.
  xdotool key Up Up Return
  wait_for 10 "the alarm dialog to open" find_window "Alarm Setting Dialog"
  local alarm_dialog=$window
  xdotool mousemove --window "$alarm_dialog" 174 38 click 1 \
    mousemove --window "$alarm_dialog" 242 73 click 1 \
    mousemove --window "$alarm_dialog" 39 $((159 + 25 * $2)) click 1 \
    mousemove --window "$alarm_dialog" 188 110 click 1 key ctrl+a type "$1"
  alarm_set_at=$(date +%s%N)
  xdotool mousemove --window "$alarm_dialog" 123 316 click 1
  wait_for 10 "the alarm dialog to close" no_window "Alarm Setting Dialog"
}
alarm_seconds=8
set_alarm "$alarm_seconds" 0
left_click_icon
wait_for 10 "a left click on the tray icon to hide the note before its alarm" hidden "$note"
hidden_ms=$((($(date +%s%N) - alarm_set_at) / 1000000))
[ "$hidden_ms" -lt $((alarm_seconds * 1000 - 1000)) ] ||
  fail "hiding the note took $hidden_ms ms, too close to its alarm to tell the alarm showed it"
wait_for $((alarm_seconds + 20)) "the alarm to show the note" viewable "$note"
fired_ms=$((($(date +%s%N) - alarm_set_at) / 1000000))
[ "$fired_ms" -ge $((alarm_seconds * 1000 - 1000)) ] ||
  fail "the note came back after $fired_ms ms, before its alarm"
alive "$program_pid" || fail "the program ended while its alarm sounded"
[ "$(window_geometry "$note")" = "$left $top $width $height" ] ||
  fail "the alarm showed the note at $(window_geometry "$note") instead of $left $top $width $height"

# --- an alarm a day ahead marks the note; the note as left is what the next
# start must show
set_alarm 1 3
snapshot=
note_settled() {
  local previous=$snapshot
  shot alarmed && convert "$work/alarmed.ppm" -crop "${width}x$height+$left+$top" +repage \
    "$work/note1.ppm" || return 1
  snapshot=$(md5sum <"$work/note1.ppm")
  [ "$snapshot" = "$previous" ]
}
wait_for 10 "the note with its alarm to settle" note_settled
[ "$(compare -metric AE "$work/typed_note.ppm" "$work/note1.ppm" null: 2>&1)" != 0 ] ||
  fail "the note looks the same with an alarm set as without"

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
# The note is back where it was, with its shape, text, paper, font and alarm.
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

# --- a second start from the same ready folder only says that the program
# runs: no second icon, no second note, the notes table never opened
icons() {
  local w
  for w in $(program_windows); do
    in_trayer "$w" && echo "$w"
  done
}
# end_other <pid> <what>: another process of the program ends with status 0
# within ten seconds.
end_other() {
  local pid=$1 status=0
  other_ended() { ! alive "$pid"; }
  wait_for 10 "$2" other_ended
  wait "$pid" || status=$?
  finished "$pid"
  [ "$status" -eq 0 ] || fail "$2: it ended with status $status"
}
HOME=$work "$ready/jotterwick" >"$work/second.out" 2>"$work/second.err" &
second_pid=$!
started "$second_pid"
wait_for 30 "the second start to say that the program runs" find_window Jotterwick
ls -l "/proc/$second_pid/fd" | grep -q scraps && fail "the second start opened the notes table"
[ "$(icons | wc -w)" = 1 ] || fail "a second start added a tray icon: $(icons)"
[ "$("$probe" shaped-windows jotterwick)" = 1 ] || fail "a second start showed the notes again"
xdotool windowactivate --sync "$window" key Return
end_other "$second_pid" "the second start to end once told"

# --- a copy of the program in another ready folder is a program of its own
other=$work/other
cp -r "$ready" "$other"
HOME=$work "$other/jotterwick" >"$work/other.out" 2>"$work/other.err" &
other_pid=$!
started "$other_pid"
two_icons() { [ "$(icons | wc -w)" = 2 ]; }
wait_for 30 "the program from another ready folder to show its icon" two_icons
kill -TERM "$other_pid"
end_other "$other_pid" "SIGTERM to end the program from the other ready folder"

# --- typed text reaches the table a few seconds later: a kill after that
# loses nothing
wait_for 10 "the clicked note to take the keyboard focus" click_to_focus "$note" "$grab_x" "$grab_y"
xdotool type --delay 20 " again"
dark=-1
wait_for 10 "the added text to show on the note" text_settled typed_again
convert "$work/typed_again.ppm" -crop "${width}x$height+$left+$top" +repage "$work/note1.ppm"
[ "$(compare -metric AE "$work/note2.ppm" "$work/note1.ppm" null: 2>&1)" != 0 ] ||
  fail "the added text did not change the note"
sleep 5
kill -KILL "$program_pid"
wait "$program_pid" || true
finished "$program_pid"
start_program 2k
wait_for_icon
wait_for 30 "the note to come back after SIGKILL" one_note
wait_for 10 "the note to be mapped after SIGKILL" viewable "$note"
wait_for 10 "the note to come back after SIGKILL with the text typed before" note_restored

# --- a signal closes the program as "Exit" does
kill -TERM "$program_pid"
wait_for 10 "SIGTERM to end the program" ended
end_program

# ---------------------------------------------------------------- 200 notes
rm -f "$ready"/data/scraps.*
"$make_notes_table" "$ready/data" 200
start_program 3
all_shown() { [ "$("$probe" shaped-windows jotterwick)" = 200 ]; }
wait_for 60 "200 shaped notes to be mapped" all_shown
kill -TERM "$program_pid"
wait_for 30 "SIGTERM to end the program with 200 notes" ended
end_program

echo "passed: tray menu, a new shaped note centred, typing, hiding and showing, an alarm showing its note, Exit within a second, no taskbar entry, the note and its alarm back at the next start, one program per ready folder, typed text kept through SIGKILL, and 200 notes shown"

#!/usr/bin/env bash
# End-to-end check of mailing a note through the whole program on a real X
# server (Xvfb, openbox, trayer, driven by xdotool) to a real SMTP server on
# loopback (aiosmtpd), configured through the program's own INI file. It
# makes a note from the tray menu, types on it and chooses "Email scrap..."
# from the note's pop-up menu twice:
# - to an address-book entry the server refuses: the server's answer shows
#   in a message box and nothing arrives;
# - then to another address-book entry, picked from the recipient box's
#   drop-down list, with the subject "Grüße" and one attached file: Python's
#   e-mail parser reads the subject back, the inline picture (Content-ID
#   <jotterwick>) is the snapshot file the program wrote, of the note's size,
#   showing what the screen shows inside the note's outline and white
#   outside it, and the attachment is byte-equal.
# The program goes on after the refusal and ends cleanly on a signal.
#
#   run_mail_e2e.sh <jotterwick> <jw_make_notes_table> <jw_x_probe> <paper folder>
#
# The program sends to the standard SMTP port. The check runs in a network
# namespace of its own, where the server may take that port without
# privileges and never meets another run's server. Exits 77 (skipped) when a
# tool it needs is not installed or no such namespace may be made. With
# JW_E2E_KEEP set, the work folder (logs, screenshots, mail) stays for a look.
set -euo pipefail

if [ -z "${JW_MAIL_E2E_PRIVATE_NET:-}" ]; then
  for tool in unshare ip; do
    command -v "$tool" >/dev/null || {
      echo "skipped: not installed: $tool"
      exit 77
    }
  done
  unshare --user --map-root-user --net true 2>/dev/null || {
    echo "skipped: this system does not allow a network namespace of the check's own"
    exit 77
  }
  JW_MAIL_E2E_PRIVATE_NET=1 exec unshare --user --map-root-user --net "$0" "$@"
fi
ip link set lo up

program=$1
make_notes_table=$2
probe=$3
papers=$4
support=${0%/*}/../../support/e2e
mail_tests=${0%/*}/../../mail
python=/usr/bin/python3
background=206040
refused=nobody@y.example

# shellcheck source=../../support/e2e/x_session.sh
. "$support/x_session.sh"
# shellcheck source=../../support/e2e/program_windows.sh
. "$support/program_windows.sh"
need_tools Xvfb openbox trayer xdotool xprop xwininfo xclip import convert "$python"
"$python" -c 'import aiosmtpd' 2>/dev/null || {
  echo "skipped: not installed: python3-aiosmtpd"
  exit 77
}

# --- the SMTP server on the standard port
mkdir "$work/mail"
"$python" "$mail_tests/smtp_server.py" "$work/mail" "$refused" 25 \
  >"$work/server.out" 2>"$work/server.err" &
started $!
server_ready() { [ "$(cat "$work/server.out")" = 25 ]; }
wait_for 20 "the SMTP server to listen on port 25" server_ready

# --- the ready folder: the program, its papers, an empty notes table and
# the settings naming the server, the return address and the address book
ready=$work/ready
mkdir -p "$ready/data" "$ready/paper"
cp "$program" "$ready/jotterwick"
cp "$papers"/*.bmp "$ready/paper/"
"$make_notes_table" "$ready/data"
cat >"$ready/jotterwick.INI" <<EOF
[Tips]
ShowAtStart=0
[Main]
SMTPHostName=127.0.0.1
ReturnAddress=Jotter Tester <tester@here.example>
[Email]
EmailLines0=Anna|anna@x.example
EmailLines1=Bob|bob@y.example
EmailLines2=Nobody|$refused
EOF
attachment=$work/attach.bin
head -c 3000 /dev/urandom >"$attachment"

# --- the X server, the window manager and the tray host
start_x_session
"$probe" root-colour "$background"
HOME=$work trayer --edge top --align right --widthtype request --height 24 \
  >"$work/trayer.log" 2>&1 &
started $!
tray_owned() { [ "$("$probe" owner _NET_SYSTEM_TRAY_S0)" != none ]; }
wait_for 10 "trayer to own the tray selection" tray_owned

HOME=$work "$ready/jotterwick" >"$work/program.out" 2>"$work/program.err" &
program_pid=$!
started "$program_pid"

# The notes: the program's windows outside the tray that the window manager
# manages.
note=
one_note() {
  local w found=()
  for w in $(program_windows); do
    in_trayer "$w" || override_redirect "$w" || found+=("$w")
  done
  [ ${#found[@]} = 1 ] && note=${found[0]}
}
# --- a new note from the tray menu, with text typed on it
wait_for 30 "the program's tray icon" find_icon
read -r _ _ icon_width icon_height < <(window_geometry "$icon")
sleep 0.5
click "$icon" $((icon_width / 2)) $((icon_height / 2)) 3
wait_for 10 "the tray menu to open" find_popup
xdotool key Down Return
wait_for 10 "\"New Scrap...\" to show a note" one_note
wait_for 10 "the note to be mapped" viewable "$note"
"$probe" shape "$note" >"$work/note.rects"
read -r left top width height < <(window_geometry "$note")
# Clicks land in the middle of the outline's widest rectangle.
read -r grab_x grab_y < <(awk '$1 == "rect" && $4 - $2 > w { w = $4 - $2; x = int(($2 + $4) / 2); y = $3 }
  END { print x, y }' "$work/note.rects")
wait_for 10 "the clicked note to take the keyboard focus" click_to_focus "$note" "$grab_x" "$grab_y"
xdotool type --delay 20 "Mail me"
# The pointer leaves the note, so no hint covers it on the screenshot.
xdotool mousemove 1 $(($(xdotool getdisplaygeometry | cut -d' ' -f2) - 1))
wait_for 10 "the typed text to show on the note" text_settled note

# email_note <address-book entry>: "Email scrap..." from the note's pop-up
# menu (its last item), and in the dialog that entry picked from the
# recipient box's drop-down list, whose first entry shows at the start.
email_note() {
  local entry=$1 i
  click "$note" "$grab_x" "$grab_y" 3
  wait_for 10 "the note's pop-up menu to open" find_popup
  xdotool key Up Return
  wait_for 10 "the e-mail dialog to open" find_window "Email Settings"
  dialog=$window
  wait_for 10 "the e-mail dialog to take the keyboard focus" focused "$dialog"
  # The recipient box spans 104..412 at 8..32; its arrow is at the right.
  click "$dialog" 402 20
  wait_for 10 "the address book's drop-down list to open" find_popup
  for ((i = 0; i < entry; i++)); do xdotool key Down; done
  xdotool key Return
  wait_for 10 "the drop-down list to close" no_popup
}
# The dialog's "Send" button (224..314 at 230..255). On a busy machine the
# first click after the file dialog closed is at times lost and the dialog
# stays; Send is then clicked again while the same dialog is still there.
# Pressing it twice cannot send twice: the dialog's answer is read once.
# The dialog is watched by its own window: a search by title can miss it
# while other windows of the program are being destroyed.
send_mail() {
  local clicks tries
  for ((clicks = 5; clicks > 0; clicks--)); do
    viewable "$dialog" || return 0
    click "$dialog" 269 242
    for ((tries = 80; tries > 0; tries--)); do
      viewable "$dialog" || return 0
      sleep 0.05
    done
  done
  fail "timed out waiting for the e-mail dialog to close"
}

# --- a refused recipient: the server's answer in a message box
email_note 2
send_mail
wait_for 20 "the refusal to show in a message box" find_window Jotterwick
box=$window
wait_for 10 "the message box to take the keyboard focus" focused "$box"
# The text beside the icon may be selected with the mouse: a triple click
# on its line selects all of it, which makes it the primary selection.
read -r _ _ box_width _ < <(window_geometry "$box")
click "$box" $((box_width / 2 + 10)) 20
xdotool click --repeat 2 --delay 50 1
selected() { xclip -o -selection primary >"$work/box.txt" && grep -q . "$work/box.txt"; }
wait_for 10 "the message box's text to be selected" selected
grep -qxF 'Error: need RCPT command.' "$work/box.txt" ||
  fail "the message box does not show the server's answer: $(cat "$work/box.txt")"
xdotool key Return
wait_for 10 "the message box to close" no_window Jotterwick
[ -z "$(ls "$work/mail")" ] || fail "a mail to the refused recipient arrived: $(ls "$work/mail")"
alive "$program_pid" || fail "the program ended after the refusal"

# --- a mail with a non-ASCII subject and an attachment
email_note 1
# The subject edit spans 104..412 at 40..64. xdotool types a letter the
# keyboard map lacks by remapping a spare key for a moment; on a busy machine
# the program can read that key after the map went back, and the letter is
# lost. The subject is selected, read back from the primary selection, and
# typed again until it is whole.
subject_typed() {
  click "$dialog" 258 52
  xdotool key ctrl+a
  xdotool type --delay 30 "Grüße"
  xdotool key ctrl+a
  [ "$(xclip -o -selection primary)" = "Grüße" ]
}
wait_for 5 "the subject to be typed whole" subject_typed
# "Add item" (322..412 at 96..121) opens the file dialog, whose file name
# edit has the focus.
click "$dialog" 367 108
wait_for 10 "the file dialog to open" find_window Open
open_dialog=$window
wait_for 10 "the file dialog to take the keyboard focus" focused "$open_dialog"
xdotool type --delay 10 "$attachment"
xdotool key Return
wait_for 10 "the file dialog to close" no_window Open
wait_for 10 "the e-mail dialog to take the keyboard focus back" focused "$dialog"
send_mail
arrived() { [ -s "$work/mail/message-1.eml" ]; }
wait_for 20 "the mail to arrive" arrived
[ "$(cat "$work/mail/message-1.env")" = "tester@here.example
bob@y.example" ] || fail "the mail's envelope is $(cat "$work/mail/message-1.env")"

snapshot=$ready/emailImage.jpg
"$python" "$mail_tests/mime_check.py" "$work/mail/message-1.eml" "$snapshot" "$attachment" \
  >"$work/found.txt"
expect_line() {
  grep -qxF -- "$1" "$work/found.txt" || fail "the mail lacks \"$1\": $(cat "$work/found.txt")"
}
expect_line "defects 0"
expect_line "subject 'Grüße'"
expect_line "from 'Jotter Tester' tester@here.example"
expect_line "to '' bob@y.example"
expect_line "structure multipart/mixed(multipart/related(text/html,image/jpeg),application/octet-stream)"
expect_line "part image/jpeg inline 'EmailImage.jpg' <jotterwick> base64 params=[('filename', 'EmailImage.jpg')] file=0 bytes=$(stat -c %s "$snapshot")"
expect_line "part application/octet-stream attachment 'attach.bin' None base64 params=[('filename', 'attach.bin')] file=1 bytes=3000"

# The inline picture is the snapshot file: the note as the screen shows it
# inside the outline, white outside.
convert "$snapshot" "$work/picture.ppm"
"$python" "$support/screen_check.py" picture "$work/note.ppm" "$work/note.rects" "$left" "$top" \
  "$work/picture.ppm" >"$work/picture.txt"
read -r size mean far inside not_white outside < <(sed 's/[a-z_]*=//g' "$work/picture.txt")
[ "$size" = "${width}x$height" ] || fail "the picture is $size, the note ${width}x$height"
awk -v mean="$mean" -v far="$far" -v inside="$inside" -v not_white="$not_white" -v outside="$outside" \
  'BEGIN { exit !(mean < 6 && far * 200 < inside && not_white * 200 < outside) }' ||
  fail "the picture differs from the note on the screen: $(cat "$work/picture.txt")"

# --- the program goes on, and a signal ends it cleanly
alive "$program_pid" || fail "the program ended after mailing"
[ "$(ls "$work/mail")" = "message-1.eml
message-1.env" ] || fail "not exactly one mail arrived: $(ls "$work/mail")"
kill -TERM "$program_pid"
ended() { ! alive "$program_pid"; }
wait_for 10 "SIGTERM to end the program" ended
status=0
wait "$program_pid" || status=$?
finished "$program_pid"
[ "$status" -eq 0 ] || fail "the program ended with status $status"

echo "passed: a refused recipient shown as the server's answer, then a mail picked from the address book with the subject Grüße, the note's picture inline and the file attached"

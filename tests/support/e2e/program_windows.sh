# shellcheck shell=bash disable=SC2034  # icon and window are the sourcing script's
# Sourced after x_session.sh by the end-to-end scripts that drive the whole
# program: how its windows are found and worked on the private X server.
#
#   program_windows           the program's visible windows, as decimal ids
#   in_trayer <window>        the window sits in the tray host (the icon)
#   override_redirect <window>  the window manager leaves it alone (menus,
#                             drop-down lists)
#   find_icon                 sets $icon to the program's tray icon
#   find_popup, no_popup      a menu or drop-down list of the program is open
#   find_window <title>       sets $window to the visible window with exactly
#                             this title; no_window <title>
#   shot <name>               the whole screen into $work/<name>.ppm
#   text_settled <name>       a shot of the note ($left $top $width $height
#                             over $background, outline in $work/note.rects)
#                             shows typed text that stopped changing
#   viewable <window>, focused <window>
#   click <window> <x> <y> [button]  a click at a point of the window
#   click_to_focus <window> <x> <y>  a click there, and the window has the
#                             keyboard focus within two seconds

program_windows() { xdotool search --onlyvisible --class jotterwick; }

in_trayer() {
  local w=$1
  while w=$(xwininfo -children -id "$w" | awk '/Parent window id:/ { print $4 }') &&
    [ -n "$w" ] && [ "$((w))" != 0 ]; do
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

find_popup() {
  local w
  for w in $(program_windows); do
    override_redirect "$w" && ! in_trayer "$w" && return 0
  done
  return 1
}
no_popup() { ! find_popup; }

window=
find_window() {
  local w
  for w in $(xdotool search --onlyvisible --name "^$1\$"); do
    in_trayer "$w" && continue
    window=$w
    return 0
  done
  return 1
}
no_window() { ! find_window "$1"; }

viewable() { xwininfo -id "$1" | grep -q 'Map State: IsViewable'; }
focused() { [ "$(xdotool getwindowfocus)" = "$1" ]; }

click() {
  local left top
  read -r left top _ _ < <(window_geometry "$1")
  xdotool mousemove $((left + $2)) $((top + $3)) click "${4:-1}"
}

# A click that comes while the window manager still takes the window in is
# lost: run under wait_for, it clicks again until the window has the focus.
click_to_focus() {
  local tries
  click "$1" "$2" "$3"
  for ((tries = 40; tries > 0; tries--)); do
    focused "$1" && return 0
    sleep 0.05
  done
  return 1
}

shot() { import -window root -depth 8 "$work/$1.ppm"; }

dark=-1
text_settled() {
  local previous=$dark counts
  shot "$1" && counts=$("$python" "$support/screen_check.py" note "$work/$1.ppm" \
    "$work/note.rects" "$left" "$top" "$width" "$height" "$background") || return 1
  dark=${counts##*dark_inside=}
  [ "$dark" -ge 40 ] && [ "$dark" = "$previous" ]
}

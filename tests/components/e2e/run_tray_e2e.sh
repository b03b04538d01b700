#!/usr/bin/env bash
# End-to-end check of the tray icon on a real X server: starts Xvfb and
# openbox, with the trayer tray host or with none, shows an icon with
# jw_show_tray and checks with the server's own answers (the window tree,
# screenshots) and xdotool clicks that the icon sits in trayer's window (or,
# with no tray host, in a window of its own), that a left click reaches the
# component, that a right click opens the icon's menu and that the icon can
# be removed from its own menu.
#
#   run_tray_e2e.sh <jw_show_tray> <jw_x_probe> trayer|none
#
# Exits 77 (skipped) when a tool it needs is not installed. With JW_E2E_KEEP
# set, the work folder (logs, screenshots) stays for a look.
set -euo pipefail

show_tray=$1
probe=$2
host=$3
support=${0%/*}/../../support/e2e
python=/usr/bin/python3
# The colour jw_show_tray paints its icon in.
icon_colour=c02030

case $host in
  trayer) expected=tray ;;
  none) expected=fallback ;;
  *)
    echo "usage: $0 <jw_show_tray> <jw_x_probe> trayer|none" >&2
    exit 2
    ;;
esac

# shellcheck source=../../support/e2e/x_session.sh
. "$support/x_session.sh"
tools=(Xvfb openbox xdotool xprop xwininfo import "$python")
[ "$host" = none ] || tools+=("$host")
need_tools "${tools[@]}"

# --- the X server, the window manager and the tray host, which is ready once
# it owns the tray selection that programs look for
start_x_session
if [ "$host" = trayer ]; then
  HOME=$work trayer --edge top --align right --widthtype request --height 24 \
    >"$work/trayer.log" 2>&1 &
  started $!
  tray_owned() { [ "$("$probe" owner _NET_SYSTEM_TRAY_S0)" != none ]; }
  wait_for 10 "trayer to own the tray selection" tray_owned
fi

# --- the program with its icon
"$show_tray" >"$work/tray.out" 2>"$work/tray.err" &
tray_pid=$!
started "$tray_pid"
shown() { alive "$tray_pid" && grep -q '^shown ' "$work/tray.out"; }
wait_for 30 "jw_show_tray to show its icon" shown
place=$(grep '^shown ' "$work/tray.out" | head -n1 | cut -c7-)
[ "$place" = "$expected" ] || fail "the icon is shown in the $place instead of the $expected"

# The program's windows on the screen, as decimal ids.
program_windows() { xdotool search --onlyvisible --class jw_show_tray; }
parent_of() { xwininfo -children -id "$1" | awk '/Parent window id:/ { print $4 }'; }
# Whether one of the window's ancestors is trayer's.
in_trayer() {
  local w=$1
  while w=$(parent_of "$w") && [ -n "$w" ] && [ "$((w))" != 0 ]; do
    xprop -id "$w" WM_CLASS | grep -q '"trayer"' && return 0
  done
  return 1
}
# The window showing the icon: inside trayer's window with trayer, else the
# program's only window.
icon=
find_icon() {
  local windows w
  windows=$(program_windows) || return 1
  if [ "$host" = trayer ]; then
    for w in $windows; do
      if in_trayer "$w"; then
        icon=$w
        return 0
      fi
    done
    return 1
  fi
  [ "$(wc -w <<<"$windows")" = 1 ] || return 1
  in_trayer "$windows" && return 1
  icon=$windows
}
wait_for 30 "the icon's window to appear" find_icon

shot() { import -window root -depth 8 "$work/shot.ppm"; }
pixel() { "$python" "$support/screen_check.py" pixel "$work/shot.ppm" "$1" "$2"; }
read -r left top width height < <(window_geometry "$icon")
x=$((left + width / 2))
y=$((top + height / 2))
icon_shown() { shot && [ "$(pixel "$x" "$y")" = "$icon_colour" ]; }
wait_for 10 "the icon's colour $icon_colour at $x,$y" icon_shown

# What the program printed since the last mark.
mark=0
set_mark() { mark=$(wc -l <"$work/tray.out"); }
since() { tail -n +$((mark + 1)) "$work/tray.out"; }
printed() { since | grep -qx "$1"; }

# left_click: clicks 1 on the icon and checks what reaches the component.
left_click() {
  set_mark
  xdotool mousemove "$x" "$y" click 1
  wait_for 10 "the left click to reach the component" printed "up left"
  local events
  events=$(since)
  [ "$events" = "down left $x,$y
click
up left" ] || fail "a left click at $x,$y gave:
$events"
}

# --- 1. a left click on the icon reaches the component
left_click

# The menu: a window of the program that the window manager leaves alone.
menu=
find_menu() {
  local windows w
  windows=$(program_windows) || return 1
  for w in $windows; do
    [ "$w" != "$icon" ] || continue
    if xwininfo -id "$w" | grep -q 'Override Redirect State: yes'; then
      menu=$w
      return 0
    fi
  done
  return 1
}
no_menu() { ! find_menu; }
# right_click: clicks 3 on the icon and checks that its menu opens at the
# pointer.
right_click() {
  set_mark
  xdotool click 3
  wait_for 10 "the right click to reach the component" printed menu
  wait_for 10 "the menu's window to appear" find_menu
  local menu_left menu_top
  read -r menu_left menu_top _ _ < <(window_geometry "$menu")
  # Near the screen's right edge the menu moves left to stay on the screen.
  [ "$menu_top" = "$y" ] && [ "$menu_left" -le "$x" ] ||
    fail "the menu opened at $menu_left,$menu_top for a click at $x,$y"
}

# --- 2. a right click opens the menu at the pointer; once the menu is
# closed the release follows
right_click
xdotool key Escape
wait_for 10 "the menu to close" no_menu
wait_for 10 "the release of the right button" printed "up right"
right_events=$(since)
[ "$right_events" = "down right $x,$y
popup
menu
click
up right" ] || fail "a right click at $x,$y and Escape in the menu gave:
$right_events"

# --- 3. the icon still takes a left click once its menu has closed (this
# click also keeps the next right click from counting as a double click)
left_click

# --- 4. "Exit" in the menu removes the icon while its click is still being
# handled; the program ends cleanly (the sanitizers report at exit), and the
# removed icon reports nothing more
right_click
xdotool key Down Down Return
ended() { ! alive "$tray_pid"; }
wait_for 30 "jw_show_tray to exit from its menu" ended
status=0
wait "$tray_pid" || status=$?
finished "$tray_pid"
[ "$status" -eq 0 ] || fail "jw_show_tray ended with status $status"
exit_events=$(since)
[ "$exit_events" = "down right $x,$y
popup
menu
item Exit" ] || fail "a right click at $x,$y and Exit in the menu gave:
$exit_events"
[ "$(grep -c '^shown ' "$work/tray.out")" = 1 ] ||
  fail "the icon changed its place: $(grep '^shown ' "$work/tray.out" | tr '\n' ' ')"

echo "passed: the icon in the $expected takes left clicks, opens its menu on a right click and exits from it"

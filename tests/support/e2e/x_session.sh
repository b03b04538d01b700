# shellcheck shell=bash
# Sourced by the end-to-end scripts: a private X server with a window
# manager, the helpers the checks share, and a trap that stops every
# process the script started, whichever way it ends.
#
#   need_tools <tool...>      exits 77 (skipped) when one is not installed
#   start_x_session           Xvfb on a display it picks itself, then openbox;
#                             $x_server_pid is the server's process
#   started <pid>             stops the process at the end (last started,
#                             first stopped)
#   finished <pid>            the process ended and was waited for
#   wait_for <seconds> <what> <command...>
#   fail <message>            prints the message and every *.err in $work
#   alive <pid>
#   window_geometry <window>  its absolute left, top, width and height
#
# $work is the script's work folder; with JW_E2E_KEEP set it stays for a look.

work=$(mktemp -d)
running=()
x_server_pid=

stop() {
  set +e
  local i pid
  for ((i = ${#running[@]} - 1; i >= 0; i--)); do
    pid=${running[i]}
    [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  done
  [ -n "${JW_E2E_KEEP:-}" ] || rm -rf "$work"
}
trap 'stop' EXIT
trap 'exit 2' INT TERM HUP

started() { running+=("$1"); }

# A process that was waited for is not killed at the end: its number may
# belong to another process by then.
finished() {
  local i
  for i in "${!running[@]}"; do
    [ "${running[i]}" = "$1" ] && running[i]=
  done
  return 0
}

need_tools() {
  local tool missing=()
  for tool in "$@"; do
    command -v "$tool" >/dev/null || missing+=("$tool")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "skipped: not installed: ${missing[*]}"
    exit 77
  fi
}

fail() {
  local err
  echo "FAIL: $*" >&2
  for err in "$work"/*.err; do
    [ -s "$err" ] || continue
    echo "--- ${err##*/}:" >&2
    cat "$err" >&2
  done
  exit 1
}

# Runs the command every 50 ms until it succeeds; fails the check after the
# given time.
wait_for() {
  local tries=$(($1 * 20)) what=$2
  shift 2
  while ! "$@" 2>/dev/null; do
    tries=$((tries - 1))
    [ "$tries" -gt 0 ] || fail "timed out waiting for $what"
    sleep 0.05
  done
}

alive() { kill -0 "$1" 2>/dev/null; }

window_geometry() {
  xwininfo -id "$1" | awk '
    /Absolute upper-left X:/ { x = $4 } /Absolute upper-left Y:/ { y = $4 }
    /^ *Width:/ { w = $2 } /^ *Height:/ { h = $2 }
    END { print x, y, w, h }'
}

start_x_session() {
  local openbox_pid
  : >"$work/display"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
  x_server_pid=$!
  started "$x_server_pid"
  display_ready() { alive "$x_server_pid" && [ -s "$work/display" ]; }
  wait_for 30 "Xvfb to report its display" display_ready
  DISPLAY=:$(head -n1 "$work/display")
  export DISPLAY
  export QT_QPA_PLATFORM=xcb
  # The private display has no session bus; without an address the bus
  # library would try to launch one for it.
  export DBUS_SESSION_BUS_ADDRESS=disabled:
  # Qt wants a private runtime folder and complains on stderr without one.
  export XDG_RUNTIME_DIR=$work/runtime
  mkdir -p -m 700 "$XDG_RUNTIME_DIR"

  HOME=$work openbox --sm-disable >"$work/openbox.log" 2>&1 &
  openbox_pid=$!
  started "$openbox_pid"
  wm_ready() { alive "$openbox_pid" && xprop -root _NET_SUPPORTING_WM_CHECK | grep -q 'window id'; }
  wait_for 30 "openbox to manage the screen" wm_ready
}

# shellcheck shell=bash
# Shell pieces for running the real TarvoAdmin on a virtual display of its
# own against the development server: sourced by tests/xvfb/program_test.sh
# and scripts/tour.sh (bash, set -euo pipefail).
#
# Set before use: XS_WORK (an empty folder of the caller's) and XS_LIMIT
# (seconds to wait for a window, an answer or a paint). Everything started
# here is ended by xs_stop_all.

XS_TITLE='Quorvi管理系统'
XS_APP='' XS_SERVER='' XS_XVFB=''

xs_fail() {
  echo "FAIL: $*" >&2
  exit 1
}
xs_step() { echo "-- $*"; }

xs_need_tools() {
  local tool
  for tool in Xvfb xdotool xprop import stream od cmp; do
    command -v "$tool" >/dev/null || xs_fail "$tool is missing (scripts/install-deps.sh installs it)"
  done
}

xs_stop_all() {
  local pid
  for pid in $XS_APP $XS_SERVER $XS_XVFB; do
    kill "$pid" 2>/dev/null || true
  done
  wait 2>/dev/null || true
}

# A display of its own; the program's environment kept away from the
# desktop's (its session bus, session manager, runtime and temporary folders).
xs_start_display() {
  coproc XS_XVFB_PROC { exec Xvfb -displayfd 1 -screen 0 1280x1024x24 -nolisten tcp 2>"$XS_WORK/xvfb.log"; }
  XS_XVFB=$XS_XVFB_PROC_PID
  local display
  read -r -t 30 display <&"${XS_XVFB_PROC[0]}" || xs_fail "Xvfb did not start: $(cat "$XS_WORK/xvfb.log")"
  export DISPLAY=":$display"
  unset WAYLAND_DISPLAY SESSION_MANAGER
  export QT_QPA_PLATFORM=xcb
  mkdir -m 700 "$XS_WORK/run" "$XS_WORK/tmp"
  export XDG_RUNTIME_DIR="$XS_WORK/run" TMPDIR="$XS_WORK/tmp"
  export DBUS_SESSION_BUS_ADDRESS="unix:path=$XS_WORK/no-bus"
  export TARVO_LOG_FILE="$XS_WORK/tarvo.log"
}

# xs_start_server SERVER [ARG...]: the development server with the demo data
# on port 8041 (the program's port) of a loopback address of its own, so that
# runs side by side do not meet; XS_ADDRESS is that address. Its request log
# goes to $XS_WORK/server.log.
xs_start_server() {
  local server=$1
  shift
  for _ in $(seq 20); do
    XS_ADDRESS="127.$((RANDOM % 254 + 1)).$((RANDOM % 254 + 1)).$((RANDOM % 254 + 1))"
    "$server" --demo --db "$XS_WORK/store.db" --listen "$XS_ADDRESS:8041" "$@" \
      >"$XS_WORK/server.out" 2>"$XS_WORK/server.log" &
    XS_SERVER=$!
    until grep -q '^listening on' "$XS_WORK/server.out" || ! kill -0 "$XS_SERVER" 2>/dev/null; do
      sleep 0.05
    done
    grep -q '^listening on' "$XS_WORK/server.out" && return 0
    wait "$XS_SERVER" || true
    XS_SERVER=''
    rm -f "$XS_WORK/store.db"
  done
  xs_fail "the development server did not start: $(cat "$XS_WORK/server.log")"
}

# xs_make_tree PROGRAM READER_FOLDER: the program in a folder tree of its
# own, $XS_WORK/T/Bin beside T/Conf with a Tarvo.conf that names the server
# and the card reader's folder. The libraries beside the program come along
# (an installed program finds them there); a built one finds them through
# its RUNPATH.
xs_make_tree() {
  local program=$1 reader=$2 lib
  XS_TREE="$XS_WORK/T"
  mkdir -p "$XS_TREE/Bin" "$XS_TREE/Conf"
  cp "$program" "$XS_TREE/Bin/TarvoAdmin"
  for lib in "$(dirname "$program")"/lib*.so*; do
    [ -e "$lib" ] && cp -P "$lib" "$XS_TREE/Bin/"
  done
  cp -rL "$reader" "$XS_TREE/Conf/DKQ-116D"
  printf '[default]\nTarvoSWHost=http://%s\n' "$XS_ADDRESS" >"$XS_TREE/Conf/Tarvo.conf"
}

xs_start_program() {
  "$XS_TREE/Bin/TarvoAdmin" >"$XS_WORK/program.out" 2>&1 &
  XS_APP=$!
}

xs_program_alive() { kill -0 "$XS_APP" 2>/dev/null; }

# xs_wait_exit: waits for the program's end; its exit code in XS_EXIT.
# shellcheck disable=SC2034 # XS_EXIT is for the caller
xs_wait_exit() {
  local end=$((SECONDS + XS_LIMIT))
  while xs_program_alive; do
    ((SECONDS < end)) || xs_fail "the program did not end within ${XS_LIMIT}s"
    sleep 0.1
  done
  XS_EXIT=0
  wait "$XS_APP" || XS_EXIT=$?
  XS_APP=''
}

# The title pattern of a window captioned CAPTION: the program's own title
# alone, or CAPTION, which Qt may follow with " — " and the program's title.
xs_title() {
  if [ "$1" = "$XS_TITLE" ]; then
    printf '^%s$' "$1"
  else
    printf '^%s( — %s)?$' "$1" "$XS_TITLE"
  fi
}

# xs_visible_window CAPTION [WxH]: the id of a mapped window with that
# caption (and size); fails when there is none.
xs_visible_window() {
  local id
  for id in $(xdotool search --onlyvisible --name "$(xs_title "$1")" 2>/dev/null); do
    if [ -z "${2:-}" ] ||
      [ "$(xdotool getwindowgeometry "$id" 2>/dev/null | awk '/Geometry:/ {print $2}')" = "$2" ]; then
      echo "$id"
      return 0
    fi
  done
  return 1
}

# xs_await_window WHAT CAPTION [WxH] [NOT_ID]: the window's id once it is
# mapped (another than NOT_ID).
xs_await_window() {
  local end=$((SECONDS + XS_LIMIT)) id
  while :; do
    if id=$(xs_visible_window "$2" "${3:-}") && [ "$id" != "${4:-}" ]; then
      echo "$id"
      return 0
    fi
    xs_program_alive || xs_fail "the program ended before $1 appeared"
    ((SECONDS < end)) || xs_fail "$1 (\"$2\" ${3:-}) did not appear within ${XS_LIMIT}s"
    sleep 0.1
  done
}

# xs_await_gone WHAT ID: waits until window ID is no longer mapped.
xs_await_gone() {
  local end=$((SECONDS + XS_LIMIT))
  while xdotool search --onlyvisible --name '.' 2>/dev/null | grep -qx "$2"; do
    ((SECONDS < end)) || xs_fail "$1 is still shown after ${XS_LIMIT}s"
    sleep 0.1
  done
}

# How often the server answered PATH, and waiting until it has N times.
xs_requests() { grep -c "^POST $1 200 " "$XS_WORK/server.log" || true; }
xs_await_requests() {
  local end=$((SECONDS + XS_LIMIT))
  until [ "$(xs_requests "$1")" -ge "$2" ]; do
    ((SECONDS < end)) || xs_fail "the server did not answer $1 $2 time(s): $(cat "$XS_WORK/server.log")"
    sleep 0.1
  done
}

# xs_pixels FILE WxH+X+Y: a region of a PNG as lines of "rr gg bb".
xs_pixels() {
  stream -map rgb -storage-type char -extract "$2" "$1" - | od -An -v -tx1 -w3
}

# Student rows drawn in a screenshot of the main window: the bands of the
# row-number column's colour down the grid.
xs_grid_rows() {
  xs_pixels "$1" 1x470+14+130 | awk '
    $0 == " ce dd f0" { run++; next }
    { if (run >= 5) rows++; run = 0 }
    END { if (run >= 5) rows++; print rows + 0 }'
}

# xs_shot WINDOW FILE: a screenshot once the window has settled (two in a
# row alike).
xs_shot() {
  local end=$((SECONDS + XS_LIMIT))
  import -window "$1" "$2"
  while :; do
    import -window "$1" "$2.next.png"
    if cmp -s <(xs_raw "$2") <(xs_raw "$2.next.png"); then
      rm -f "$2.next.png"
      return 0
    fi
    mv "$2.next.png" "$2"
    ((SECONDS < end)) || xs_fail "window $1 did not settle for its screenshot"
    sleep 0.1
  done
}

# A PNG's pixels, raw.
xs_raw() { stream -map rgb -storage-type char "$1" -; }

# xs_await_rows WINDOW FILE MIN [MAX]: screenshots the main window into FILE
# until its grid shows MIN to MAX rows (MAX defaults to MIN); the paint
# follows the server's answer.
xs_await_rows() {
  local end=$((SECONDS + XS_LIMIT)) rows
  while :; do
    import -window "$1" "$2"
    rows=$(xs_grid_rows "$2")
    ((rows >= $3 && rows <= ${4:-$3})) && return 0
    ((SECONDS < end)) || xs_fail "the grid shows $rows rows, expected $3 to ${4:-$3} ($2)"
    sleep 0.1
  done
}

# xs_click WINDOW X Y: a left click at the window's client coordinates.
xs_click() { xdotool mousemove --window "$1" "$2" "$3" click 1; }

# xs_keys WINDOW KEY...: keys to WINDOW once it has the input focus.
xs_keys() {
  local window=$1
  shift
  timeout 20 xdotool windowfocus --sync "$window" || xs_fail "window $window took no focus"
  xdotool key "$@"
}

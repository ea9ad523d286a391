#!/usr/bin/env bash
# The real TarvoAdmin on a virtual display of its own, against the
# development server with the demo data: the login window, a second start,
# the login by keyboard, two pages of students, and closing the main window.
#
# Usage: program_test.sh TARVOADMIN DEVSERVER XPROBE READER_FOLDER
# TARVO_XVFB_WAIT: seconds to wait for each window, answer or paint (60).
set -euo pipefail
# shellcheck source-path=SCRIPTDIR source=xsession.sh
source "$(dirname "$0")/xsession.sh"

program=$1 server=$2 probe=$3 reader=$4
account=13800138000
password=tarvo123
XS_LIMIT=${TARVO_XVFB_WAIT:-60}

xs_need_tools
XS_WORK=$(mktemp -d "${TMPDIR:-/tmp}/tarvo-xvfb.XXXXXX")
finish() {
  local rc=$?
  xs_stop_all
  if [ "$rc" -eq 0 ]; then
    rm -rf "$XS_WORK"
  else
    echo "screenshots and logs kept in $XS_WORK" >&2
  fi
}
trap finish EXIT

xs_start_display
xs_start_server "$server"
xs_make_tree "$program" "$reader"

xs_step "start: the login window, frameless"
xs_start_program
login=$(xs_await_window "the login window" "$XS_TITLE" 400x295)
# Motif hints: the decorations field is in use and names none.
hints=$(xprop -id "$login" _MOTIF_WM_HINTS)
read -r flags _ decorations _ <<<"$(sed 's/.*= //; s/,//g' <<<"$hints")"
(((flags & 2) != 0 && decorations == 0)) || xs_fail "the login window has a frame: $hints"
import -window "$login" "$XS_WORK/login.png"

xs_step "a second start ends at once with exit code 0 and maps no window"
second=$(TARVO_LOG_FILE="$XS_WORK/second.log" "$probe" maps "$XS_LIMIT" "$XS_TREE/Bin/TarvoAdmin")
[ "$(head -1 <<<"$second")" = "exit=0 maps=0" ] || xs_fail "second start: $second"
xs_program_alive || xs_fail "the first instance ended at the second start"
[ "$(xs_visible_window "$XS_TITLE" 400x295)" = "$login" ] ||
  xs_fail "the login window is gone after the second start"

xs_step "login by keyboard: account, Enter, password, Enter, Enter"
xs_click "$login" $((158 + 70)) $((140 + 9))
xdotool type --delay 20 "$account"
xdotool key Return
xdotool type --delay 20 "$password"
xdotool key Return
xdotool key Return
main=$(xs_await_window "the main window" "$XS_TITLE" 894x646)
! xs_visible_window "$XS_TITLE" 400x295 >/dev/null || xs_fail "the login window is still shown"
grep -q "DoLogin: 登陆成功：FUserName: $account; FGUID：" "$TARVO_LOG_FILE" ||
  xs_fail "no login line in the log: $(cat "$TARVO_LOG_FILE")"
[ "$(xs_requests /alogin)" -eq 1 ] || xs_fail "not one /alogin: $(cat "$XS_WORK/server.log")"

xs_step "page 1: the grid full"
xs_await_requests /astulist 1
xs_await_rows "$main" "$XS_WORK/page1.png" 22 99

# The page label, to tell the pages' screenshots apart.
label=46x17+327+623

xs_step "下一页: page 2 with the other 15 of the 45 students"
xs_click "$main" $((426 + 22)) $((616 + 11))
xs_await_requests /astulist 2
xs_await_rows "$main" "$XS_WORK/page2.png" 15
! cmp -s <(xs_pixels "$XS_WORK/page1.png" $label) <(xs_pixels "$XS_WORK/page2.png" $label) ||
  xs_fail "the page label did not change"

xs_step "上一页: page 1 again"
xs_click "$main" $((375 + 22)) $((616 + 11))
xs_await_requests /astulist 3
xs_await_rows "$main" "$XS_WORK/page1-again.png" 22 99
cmp -s <(xs_pixels "$XS_WORK/page1.png" $label) <(xs_pixels "$XS_WORK/page1-again.png" $label) ||
  xs_fail "the page label is not page 1's again"

xs_step "closing the main window: logout, end-of-program line, exit code 0"
"$probe" close "$main"
xs_wait_exit
[ "$XS_EXIT" -eq 0 ] || xs_fail "exit code $XS_EXIT: $(tail -20 "$XS_WORK/program.out")"
[ "$(xs_requests /alogout)" -eq 1 ] || xs_fail "the server saw no /alogout: $(cat "$XS_WORK/server.log")"
tail -1 "$XS_WORK/server.log" | grep -q '^POST /alogout 200 ' || xs_fail "/alogout was not the last call"
grep -q "FormDestroy: 结束程序，FUserName: $account; FGUID：" "$TARVO_LOG_FILE" ||
  xs_fail "no end-of-program line: $(cat "$TARVO_LOG_FILE")"
echo "PASS"

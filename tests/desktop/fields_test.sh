#!/bin/bash
# A value refused with the range message stays in its field, selected, for correcting.
. "$(dirname "$0")/desktop.sh"
start_desktop

start_vxconf --sim-option=--mode --sim-option=2
xdotool key alt+c
MODE2=$(wait_active_name '^Mode 2 Configuration$') || fail "no Mode 2 dialog"
# Address, then the lead-in check box and its field, then the timeout.
xdotool key Tab Tab Tab
xdotool type 70000
xdotool key Return
wait_active_name '^vxconf$' >/dev/null || fail "no range message"
xdotool key Return
wait_active "$MODE2" || fail "after the message the active window is '$(active_name)'"
text=$(field_text)
[ "$text" = 70000 ] || fail "the timeout field holds '$text' after the range message, not 70000"
xdotool key Escape
wait_active "$MAIN" || fail "after Mode 2 closed the active window is '$(active_name)'"

# The same in ADE Timing over Mode 1.
exit_vxconf
start_vxconf --sim-option=--mode --sim-option=1
xdotool key alt+c
wait_active_name '^Mode 1 Configuration$' >/dev/null || fail "no Mode 1 dialog"
xdotool key alt+t
TIMING=$(wait_active_name '^Mode 1 ADE Timing$') || fail "no ADE Timing dialog"
xdotool type 4294967306
xdotool key Return
wait_active_name '^vxconf$' >/dev/null || fail "no range message for 4294967306"
xdotool key Return
wait_active "$TIMING" || fail "after the message the active window is '$(active_name)'"
text=$(field_text)
[ "$text" = 4294967306 ] || fail "the 9600 baud row holds '$text' after the range message"
xdotool key Escape Escape
exit_vxconf
echo "PASS: refused values stay in their fields"

#!/bin/bash
# After each nested question closes, the window below it has the keyboard: Mode 2's
# keep-changes question 20 times, then the ADE Timing dialog's over Mode 1.
. "$(dirname "$0")/desktop.sh"
start_desktop

start_vxconf --sim-option=--mode --sim-option=2
mode2_question_rounds 20
exit_vxconf

start_vxconf --sim-option=--mode --sim-option=1
for try in $(seq 10); do
    xdotool key alt+c
    MODE1=$(wait_active_name '^Mode 1 Configuration$') || fail "try $try: no Mode 1 dialog"
    xdotool key alt+t
    wait_active_name '^Mode 1 ADE Timing$' >/dev/null || fail "try $try: no ADE Timing dialog"
    xdotool key alt+d Return
    # Set Defaults asks only when the delays differ from the defaults.
    NEXT=$(wait_active_name '^(vxconf|Mode 1 Configuration)$') || fail "try $try: nothing after ADE Timing"
    if [ "$NEXT" != "$MODE1" ]; then
        xdotool key Return
    fi
    wait_active "$MODE1" || fail "try $try: after ADE Timing closed, the active window is '$(active_name)', not Mode 1 Configuration"
    xdotool key Escape
    wait_active "$MAIN" || fail "try $try: after Mode 1 closed, the active window is '$(active_name)'"
done
exit_vxconf
echo "PASS: the window below every closed question and dialog has the keyboard"

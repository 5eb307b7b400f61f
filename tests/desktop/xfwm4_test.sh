#!/bin/bash
# The key checks under XFCE's xfwm4, a window manager unlike openbox (it keeps the active
# window as two values, and frames and focuses windows its own way): the keyboard back after
# a nested question, help beside a modal dialog, and the position over two runs.
. "$(dirname "$0")/desktop.sh"
on_session_bus "$@"
VX_WM=xfwm4 start_desktop

printf '[FormPos]\nLeftPos=300\nTopPos=150\n' >"$XDG_CONFIG_HOME/vxconf.ini"
start_vxconf --sim-option=--mode --sim-option=2
mode2_question_rounds 5
xdotool key alt+c
MODE2=$(wait_active_name '^Mode 2 Configuration$') || fail "no Mode 2 dialog"
xdotool key alt+h
HELP=$(wait_active_name '^VXCONF Help$') || fail "help does not have the keyboard beside Mode 2"
xdotool key alt+F4
wait_active "$MODE2" || fail "after help closed the active window is '$(active_name)', not Mode 2"
xdotool key Escape
wait_active "$MAIN" || fail "after Mode 2 closed the active window is '$(active_name)'"
for run in 1 2; do
    x=$(xwininfo -id "$MAIN" | awk '/Absolute upper-left X/ {print $NF}')
    y=$(xwininfo -id "$MAIN" | awk '/Absolute upper-left Y/ {print $NF}')
    [ "$x,$y" = "300,150" ] || fail "run $run: the window is at $x,$y"
    exit_vxconf
    grep -q '^LeftPos=300' "$XDG_CONFIG_HOME/vxconf.ini" &&
        grep -q '^TopPos=150' "$XDG_CONFIG_HOME/vxconf.ini" ||
        fail "run $run wrote $(grep -E 'Pos=' "$XDG_CONFIG_HOME/vxconf.ini" | tr '\n' ' ')"
    [ "$run" = 2 ] || start_vxconf --sim-option=--mode --sim-option=2
done
echo "PASS: focus, help and the position under xfwm4"

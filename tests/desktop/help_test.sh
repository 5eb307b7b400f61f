#!/bin/bash
# Help opens in front of a modal dialog, takes the keyboard, fits on the screen and closes
# again, giving the keyboard back; Exit closes it with the program.
. "$(dirname "$0")/desktop.sh"
# Under another window manager than openbox (VX_WM), on a D-Bus session of its own.
[ "${VX_WM:-openbox}" = openbox ] || on_session_bus "$@"
start_desktop "${1:-1366x768}"

on_screen() {
    local info x y w h sw sh
    info=$(xwininfo -id "$1")
    x=$(awk '/Absolute upper-left X/ {print $NF}' <<<"$info")
    y=$(awk '/Absolute upper-left Y/ {print $NF}' <<<"$info")
    w=$(awk '/Width:/ {print $NF}' <<<"$info")
    h=$(awk '/Height:/ {print $NF}' <<<"$info")
    read -r sw sh < <(xwininfo -root | awk '/Width:/ {w=$NF} /Height:/ {h=$NF} END {print w, h}')
    [ "$x" -ge 0 ] && [ "$y" -ge 8 ] && [ $((x + w)) -le "$sw" ] && [ $((y + h)) -le "$sh" ] ||
        fail "the help window ($w x $h at $x,$y) is not wholly on the ${sw}x${sh} screen"
}

start_vxconf --sim-option=--mode --sim-option=2
xdotool key alt+c
MODE2=$(wait_active_name '^Mode 2 Configuration$') || fail "no Mode 2 dialog"
xdotool key alt+h
HELP=$(wait_active_name '^VXCONF Help$') ||
    fail "the help window does not have the keyboard beside the Mode 2 dialog: '$(active_name)' has"
on_screen "$HELP"
# It takes input while the dialog is open: its own shortcut for the index (Alt+I) answers.
xdotool key alt+i
sleep 0.5
xdotool type "Lead-in"
xdotool key Return
sleep 0.5
[ "$(active_window)" = "$HELP" ] || fail "the help window lost the keyboard while used"
xdotool key alt+F4
wait_active "$MODE2" || fail "after help closed the active window is '$(active_name)', not Mode 2"
xdotool key Escape
wait_active "$MAIN" || fail "after Mode 2 closed the active window is '$(active_name)'"

# Help Topics from the menu, then Exit: the help window goes with the program.
# Help Topics is the Help menu's first item (its H is shared with Show Hints).
menu alt+h Return
HELP=$(wait_active_name '^VXCONF Help$') || fail "Help Topics opened no help window"
xdotool windowactivate --sync "$MAIN"
exit_vxconf
for i in $(seq "$WAIT_STEPS"); do
    xdotool search --name '^VXCONF Help$' >/dev/null 2>&1 || break
    sleep 0.05
done
xdotool search --name '^VXCONF Help$' >/dev/null 2>&1 && fail "the help window stayed after Exit"

# On the same small screen at scale 2 the help window still fits wholly.
QT_SCALE_FACTOR=2 start_vxconf
menu alt+h Return
HELP=$(wait_active_name '^VXCONF Help$') || fail "Help Topics opened no help window at scale 2"
sleep 0.5
on_screen "$HELP"
xdotool windowactivate --sync "$MAIN"
exit_vxconf
echo "PASS: help beside a modal dialog"

#!/bin/bash
# What a screen reader finds, read through AT-SPI: every control of the main window and the
# dialogs has a name, with hints shown and hidden; a hint stays the control's description
# when hints are hidden; a read's status and progress are announced as they change.
. "$(dirname "$0")/desktop.sh"
on_session_bus "$@"
start_accessibility_bus
start_desktop
trap 'stop_accessibility_bus; cleanup' EXIT

# Waits until the checker passes (the tree fills in a moment after a window shows).
check_named() {
    local i out
    for i in $(seq 40); do
        out=$($CHECK check "$@") && return 0
        sleep 0.25
    done
    fail "unnamed controls: $out"
}

start_vxconf --sim-option=--mode --sim-option=2
for hints in shown hidden; do
    check_named 'VX310 Configuration'
    xdotool key alt+c
    wait_active_name '^Mode 2 Configuration$' >/dev/null || fail "no Mode 2 dialog"
    check_named 'Mode 2 Configuration'
    [ "$($CHECK describe 'Lead-in byte value')" = \
        "Optional byte sent before the address byte, in decimal" ] ||
        fail "hints $hints: the lead-in value's description is '$($CHECK describe 'Lead-in byte value')'"
    xdotool key Escape
    wait_active "$MAIN" || fail "Mode 2 did not close"
    # Save Config File: a name, then the description dialog.
    menu alt+f s
    wait_active_name '^Save' >/dev/null || fail "no file dialog"
    xdotool type "a11y-$hints.vxc"
    xdotool key Return
    wait_active_name '^Saving VX310 configuration$' >/dev/null || fail "no description dialog"
    check_named 'Saving VX310 configuration'
    xdotool key alt+n  # No: Escape would be Reselect
    wait_active "$MAIN" || fail "the description dialog did not close"
    # Help, Show Hints (the second item: its H is shared with Help Topics).
    menu alt+h Down Return
done

# The connection dialog, from Port, Select PC COM Port.
menu alt+p s
wait_active_name '^Reading configuration from VX310$' >/dev/null || fail "no connection dialog"
check_named 'Reading configuration from VX310'
# Escape there is Exit: the program ends.
xdotool key Escape
for i in $(seq "$WAIT_STEPS"); do
    kill -0 "$APP_PID" 2>/dev/null || break
    sleep 0.05
done
kill -0 "$APP_PID" 2>/dev/null && fail "Escape in the connection dialog did not end the program"
APP_PID=

# Mode 1 and its ADE Timing dialog.
start_vxconf --sim-option=--mode --sim-option=1
xdotool key alt+c
wait_active_name '^Mode 1 Configuration$' >/dev/null || fail "no Mode 1 dialog"
check_named 'Mode 1 Configuration'
xdotool key alt+t
wait_active_name '^Mode 1 ADE Timing$' >/dev/null || fail "no ADE Timing dialog"
check_named 'Mode 1 ADE Timing'
xdotool key Escape
wait_active_name '^Mode 1 Configuration$' >/dev/null || fail "ADE Timing did not close"
xdotool key Escape
wait_active "$MAIN" || fail "Mode 1 did not close"
exit_vxconf

# The read at the start announces its status and progress as they change.
$CHECK listen 8 >"$WORK/events" &
LISTEN=$!
for i in $(seq "$WAIT_STEPS"); do
    grep -qx ready "$WORK/events" 2>/dev/null && break
    sleep 0.05
done
start_vxconf --sim-option=--mode --sim-option=2
wait "$LISTEN"
grep -Eq $'^progress bar\tReading progress\tobject:(value-changed|property-change:accessible-value)' \
    "$WORK/events" || fail "the read's progress was not announced: $(cut -f1-3 "$WORK/events" | sort -u)"
grep -Eq $'^label\tReading configuration from VX310 on COM255\tobject:property-change:accessible-name' \
    "$WORK/events" || fail "the read's status was not announced: $(cut -f1-3 "$WORK/events" | sort -u)"
exit_vxconf
echo "PASS: every control is named, with hints shown and hidden, and a read is announced"

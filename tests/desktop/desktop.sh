# The real program on an X server under a real window manager (Xvfb and openbox), driven
# from the keyboard with xdotool, the way a user meets it. Sourced by each desktop test.
#
# Needs: Xvfb, openbox, xdotool, xprop, xwininfo, xclip; VXCONF (the program) and
# VX310SIM in the environment. Each test runs in a folder of its own with its own settings.
set -u

# Every wait is for an event, with a deadline generous enough for a loaded machine: a step
# that passes returns at once, and only a fault waits the whole time.
WAIT_STEPS=${WAIT_STEPS:-400}  # of 0.05 s: 20 s

fail() {
    echo "FAIL: $*" >&2
    shot
    exit 1
}

# A screenshot of the whole screen beside the test's log, when ImageMagick is there.
shot() {
    if command -v import >/dev/null 2>&1; then
        import -window root "$WORK/screen.png" 2>/dev/null && echo "screenshot: $WORK/screen.png" >&2
    fi
}

cleanup() {
    [ -n "${APP_PID:-}" ] && kill "$APP_PID" 2>/dev/null
    [ -n "${WM_PID:-}" ] && kill "$WM_PID" 2>/dev/null
    [ -n "${X_PID:-}" ] && kill "$X_PID" 2>/dev/null
    wait 2>/dev/null
    [ "${KEEP:-0}" = 1 ] || rm -rf "$WORK"
}

# Starts Xvfb (SIZE, default 1366x768) and the window manager VX_WM (openbox, or xfwm4 or
# mutter, which want a D-Bus session: see on_session_bus), and waits until it manages
# windows.
start_desktop() {
    local size=${1:-1366x768}
    local wm=${VX_WM:-openbox}
    WORK=$(mktemp -d /tmp/vxdesktopXXXXXX)
    trap cleanup EXIT
    for tool in Xvfb "$wm" xdotool xprop xwininfo xclip; do
        command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
    done
    exec 5>"$WORK/display"
    Xvfb -displayfd 5 -screen 0 "${size}x24" -nolisten tcp >"$WORK/xvfb.log" 2>&1 &
    X_PID=$!
    exec 5>&-
    local i
    for i in $(seq "$WAIT_STEPS"); do
        [ -s "$WORK/display" ] && break
        sleep 0.05
    done
    export DISPLAY=:$(tr -d '\n' <"$WORK/display")
    [ "$DISPLAY" != ":" ] || fail "Xvfb did not start"
    case $wm in
        openbox) openbox --sm-disable >"$WORK/wm.log" 2>&1 & ;;
        xfwm4) xfwm4 --compositor=off --sm-client-disable >"$WORK/wm.log" 2>&1 & ;;
        mutter) mutter --x11 --replace >"$WORK/wm.log" 2>&1 & ;;
        *) fail "no such window manager: $wm" ;;
    esac
    WM_PID=$!
    for i in $(seq "$WAIT_STEPS"); do
        xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
        sleep 0.05
    done
    xprop -root _NET_SUPPORTING_WM_CHECK | grep -q 'window id' || fail "$wm did not start"
    export XDG_CONFIG_HOME=$WORK/config XDG_DATA_HOME=$WORK/data XDG_CACHE_HOME=$WORK/cache
    mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME"
    unset QT_QPA_PLATFORM
}

# Starts VXCONF against the simulated VX310 (extra arguments go to the program) and waits
# for its main window.
start_vxconf() {
    "$VXCONF" --simulate "$@" >"$WORK/vxconf.log" 2>&1 &
    APP_PID=$!
    MAIN=$(wait_window '^VX310 Configuration$') || fail "no main window"
    wait_active "$MAIN" || fail "the main window did not get the keyboard at start"
}

# Ends VXCONF with File, Exit, from the keyboard.
exit_vxconf() {
    menu alt+f x
    local i
    for i in $(seq "$WAIT_STEPS"); do
        kill -0 "$APP_PID" 2>/dev/null || { APP_PID=; return 0; }
        sleep 0.05
    done
    fail "VXCONF did not end with File, Exit"
}

# Mode 2's keep-changes question the given number of times over: each time the question and
# then the dialog close, the main window has the keyboard again.
mode2_question_rounds() {
    local try
    for try in $(seq "$1"); do
        xdotool key alt+c
        wait_active_name '^Mode 2 Configuration$' >/dev/null || fail "try $try: no Mode 2 dialog"
        xdotool type "$((try % 200 + 20))"
        xdotool key Return
        wait_active_name '^vxconf$' >/dev/null || fail "try $try: no keep-changes question"
        xdotool key Return
        wait_active "$MAIN" ||
            fail "try $try: after the question and the dialog closed, the active window is '$(active_name)', not the main window"
    done
}

# The program's windows on the screen, one id a line (a menu's popup is one of them).
shown_windows() {
    xdotool search --onlyvisible --pid "$APP_PID" 2>/dev/null | sort
}

# Opens a menu with its key (alt+f) and, once its popup is on the screen, presses the item's
# keys; then waits until that popup has gone, so that the next key reaches the window.
menu() {
    local before popup="" i
    before=$(shown_windows)
    xdotool key --clearmodifiers "$1"
    for i in $(seq "$WAIT_STEPS"); do
        popup=$(comm -13 <(echo "$before") <(shown_windows))
        [ -n "$popup" ] && break
        sleep 0.05
    done
    shift
    xdotool key "$@"
    [ -n "$popup" ] || return 0
    for i in $(seq "$WAIT_STEPS"); do
        shown_windows | grep -qxF "$popup" || break
        sleep 0.05
    done
}

# The id of the first window whose name matches, once there is one.
wait_window() {
    local i id
    for i in $(seq "$WAIT_STEPS"); do
        id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1)
        [ -n "$id" ] && { echo "$id"; return 0; }
        sleep 0.05
    done
    return 1
}

# The window the window manager calls active (_NET_ACTIVE_WINDOW), as a decimal id.
active_window() {
    local id
    # The first value: some window managers (xfwm4) keep two, "0x600027, 0x0".
    id=$(xprop -root _NET_ACTIVE_WINDOW 2>/dev/null | sed -n 's/.*# \(0x[0-9a-fA-F]*\).*/\1/p')
    case $id in 0x*) echo $((id)) ;; *) echo 0 ;; esac
}

active_name() {
    xdotool getactivewindow getwindowname 2>/dev/null || echo "(none)"
}

# Waits until the window with this id is the active one.
wait_active() {
    local i
    for i in $(seq "$WAIT_STEPS"); do
        [ "$(active_window)" = "$1" ] && return 0
        sleep 0.05
    done
    return 1
}

# Waits until a window whose name matches is the active one, and gives its id.
wait_active_name() {
    local i id
    for i in $(seq "$WAIT_STEPS"); do
        id=$(active_window)
        if [ "$id" != 0 ] && xdotool getwindowname "$id" 2>/dev/null | grep -Eq "$1"; then
            echo "$id"
            return 0
        fi
        sleep 0.05
    done
    return 1
}

# The text of the field that has the keyboard: selected and copied as a user would.
field_text() {
    printf '' | xclip -selection clipboard
    xdotool key ctrl+a ctrl+c
    sleep 0.2
    xclip -o -selection clipboard 2>/dev/null
}

# The accessibility bus, for what a screen reader finds: CHECK runs a11y.py. Call after
# on_session_bus and before start_desktop; the bus and its registry go with the desktop.
start_accessibility_bus() {
    CHECK="/usr/bin/python3 $(dirname "${BASH_SOURCE[0]}")/a11y.py"
    [ -x /usr/libexec/at-spi-bus-launcher ] || { echo "SKIP: at-spi2-core is not installed"; exit 77; }
    /usr/bin/python3 -c 'import pyatspi' 2>/dev/null ||
        { echo "SKIP: python3-pyatspi is not installed"; exit 77; }
    # Its socket in a folder of this test's own: a bus of an earlier test that is still
    # going away must not take this one's socket with it.
    XDG_RUNTIME_DIR=$(mktemp -d /tmp/vxa11yXXXXXX)
    export XDG_RUNTIME_DIR
    /usr/libexec/at-spi-bus-launcher --launch-immediately >/dev/null 2>&1 &
    BUS_PID=$!
    export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
}

# Stops the accessibility bus and what it started.
stop_accessibility_bus() {
    pkill -P "$BUS_PID" 2>/dev/null
    kill "$BUS_PID" 2>/dev/null
    rm -rf "$XDG_RUNTIME_DIR"
}

# Runs this script again on a D-Bus session of its own (xfwm4 and the accessibility bus want
# one). What the bus's services leave running must not hold the test's output open, so the
# output goes through a file. Call before anything else; returns only inside the session.
on_session_bus() {
    [ -n "${VX_SESSION_BUS:-}" ] && return 0
    command -v dbus-run-session >/dev/null || { echo "SKIP: dbus-run-session is not installed"; exit 77; }
    local log status
    log=$(mktemp)
    VX_SESSION_BUS=1 dbus-run-session -- bash "$0" "$@" >"$log" 2>&1
    status=$?
    grep -v '^dbus-daemon' "$log"
    rm -f "$log"
    exit $status
}

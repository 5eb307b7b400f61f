#!/bin/bash
# Natively on Wayland under GNOME's mutter, run headless: help asked for beside the modal
# Mode 2 dialog starts a viewer that stays and shows its window. Keys come through mutter's
# RemoteDesktop D-Bus interface; windows are seen in the Wayland protocol's own log.
. "$(dirname "$0")/desktop.sh"
command -v mutter >/dev/null || { echo "SKIP: mutter is not installed"; exit 77; }
ls /usr/lib/*/qt6/plugins/platforms/libqwayland-generic.so >/dev/null 2>&1 ||
    { echo "SKIP: qt6-wayland is not installed"; exit 77; }
/usr/bin/python3 -c 'from gi.repository import Gio' 2>/dev/null ||
    { echo "SKIP: python3-gi is not installed"; exit 77; }
on_session_bus "$@"

WORK=$(mktemp -d /tmp/vxmutterXXXXXX)
PIDS=()
cleanup() {
    exec 7>&- 2>/dev/null
    for pid in "${PIDS[@]}"; do
        pkill -P "$pid" 2>/dev/null
        kill "$pid" 2>/dev/null
    done
    wait 2>/dev/null
    [ "${KEEP:-0}" = 1 ] || rm -rf "$WORK"
}
trap cleanup EXIT
shot() { :; }  # no X server to take a picture of

mkdir -p "$WORK/run" "$WORK/config" "$WORK/cache" "$WORK/data"
chmod 700 "$WORK/run"
export XDG_RUNTIME_DIR=$WORK/run XDG_CONFIG_HOME=$WORK/config XDG_CACHE_HOME=$WORK/cache
export XDG_DATA_HOME=$WORK/data
mutter --wayland --no-x11 --headless --virtual-monitor 1366x768 --wayland-display=vxmutter \
    >"$WORK/mutter.log" 2>&1 &
PIDS+=($!)
for i in $(seq "$WAIT_STEPS"); do
    [ -S "$WORK/run/vxmutter" ] && break
    sleep 0.05
done
[ -S "$WORK/run/vxmutter" ] || fail "mutter did not start: $(tail -n 3 "$WORK/mutter.log")"
export WAYLAND_DISPLAY=vxmutter QT_QPA_PLATFORM=wayland
unset DISPLAY

# Waits until the program's window titled $1 has the keyboard, as the protocol log shows: the
# keyboard's latest enter is into that window's surface.
wait_keyboard() {
    local i
    for i in $(seq "$WAIT_STEPS"); do
        /usr/bin/python3 - "$1" "$WORK/vxconf.log" <<'PY' && return 0
import re, sys
surface_of, toplevel_of, focused = {}, {}, None
for line in open(sys.argv[2], errors="replace"):
    if m := re.search(r"get_xdg_surface\(new id xdg_surface@(\d+), wl_surface@(\d+)\)", line):
        surface_of[m[1]] = m[2]
    elif m := re.search(r"xdg_surface@(\d+)\.get_toplevel\(new id xdg_toplevel@(\d+)\)", line):
        toplevel_of[m[2]] = surface_of.get(m[1])
    elif m := re.search(r"xdg_toplevel@(\d+)\.set_title\(\"(.*)\"\)", line):
        if m[2] == sys.argv[1]:
            wanted = toplevel_of.get(m[1])
    elif m := re.search(r"wl_keyboard@\d+\.enter\(\d+, wl_surface@(\d+),", line):
        focused = m[1]
sys.exit(0 if focused is not None and focused == locals().get("wanted") else 1)
PY
        sleep 0.05
    done
    return 1
}

# Waits until file holds text.
wait_text() {
    local i
    for i in $(seq "$WAIT_STEPS"); do
        grep -qF "$2" "$1" 2>/dev/null && return 0
        sleep 0.05
    done
    return 1
}

WAYLAND_DEBUG=1 "$VXCONF" --simulate --sim-option=--mode --sim-option=2 2>"$WORK/vxconf.log" &
PIDS+=($!)
wait_text "$WORK/vxconf.log" 'set_title("VX310 Configuration")' || fail "no main window"
# The seat has a keyboard, and the window the keyboard's focus, once the first key came.
mkfifo "$WORK/keys"
/usr/bin/python3 "$(dirname "$0")/remote_keys.py" <"$WORK/keys" >"$WORK/keys.log" 2>&1 &
PIDS+=($!)
exec 7>"$WORK/keys"
wait_text "$WORK/keys.log" ready || fail "no RemoteDesktop keyboard: $(cat "$WORK/keys.log")"
wait_keyboard "VX310 Configuration" || fail "the main window has not the keyboard"
echo alt+c >&7
wait_keyboard "Mode 2 Configuration" || fail "Mode 2 has not the keyboard"
echo alt+h >&7
VIEWER_LOG=$WORK/cache/vxconf/help-viewer.log
wait_text "$VIEWER_LOG" 'set_title("VXCONF Help")' ||
    fail "the help viewer showed no window: $(grep -v '^\[' "$VIEWER_LOG" | tail -n 3)"
# It stays: a viewer that refuses its options ends at once, and the program says so in a
# window of its own, with the same title.
sleep 6
pgrep -f "assistant.*vxconf.qhc" >/dev/null || fail "the help viewer ended: $(grep -v '^\[' "$VIEWER_LOG" | tail -n 3)"
[ "$(grep -c 'set_title("VXCONF Help")' "$WORK/vxconf.log")" = 0 ] ||
    fail "the program reported a help viewer that failed"
echo "PASS: help beside Mode 2 on Wayland"

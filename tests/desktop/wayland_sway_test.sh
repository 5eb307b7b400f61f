#!/bin/bash
# Natively on Wayland, under sway run headless: the window opens and has the keyboard, and a
# run that the desktop ends (swaymsg kill, as a close box would) leaves the remembered
# position as it was, for the next run on X11. sway refuses to run as root, so as root the
# test runs sway and the program as a user of its own, from a copy it can reach.
set -u
for tool in sway swaymsg; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
ls /usr/lib/*/qt6/plugins/platforms/libqwayland-generic.so >/dev/null 2>&1 ||
    { echo "SKIP: qt6-wayland is not installed"; exit 77; }

WORK=$(mktemp -d /tmp/vxwaylandXXXXXX)
chmod 755 "$WORK"
USER_NAME=$(id -un)
if [ "$(id -u)" = 0 ]; then
    USER_NAME=vxconftest
    id "$USER_NAME" >/dev/null 2>&1 || useradd -M -s /bin/sh "$USER_NAME" ||
        { echo "SKIP: no user to run sway as"; exit 77; }
fi
as_user() {
    if [ "$(id -un)" = "$USER_NAME" ]; then
        env "$@"
    else
        su "$USER_NAME" -s /bin/sh -c "$(printf '%q ' env "$@")"
    fi
}
SWAY_PID=
cleanup() {
    pkill -u "$USER_NAME" -f "$WORK" 2>/dev/null
    [ -n "$SWAY_PID" ] && kill "$SWAY_PID" 2>/dev/null
    wait 2>/dev/null
    [ "${KEEP:-0}" = 1 ] || rm -rf "$WORK"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# The program beside its help files, and a runtime folder, as the user can reach them.
mkdir -p "$WORK/bin" "$WORK/run" "$WORK/home/config"
cp "$VXCONF" "$VX310SIM" "$WORK/bin/"
for help in vxconf.qhc vxconf.qch; do
    cp "$(dirname "$VXCONF")/$help" "$WORK/bin/" 2>/dev/null
done
printf 'output HEADLESS-1 resolution 1366x768\n' >"$WORK/sway.conf"
chmod -R a+rX "$WORK"
chown -R "$USER_NAME" "$WORK/run" "$WORK/home"
chmod 700 "$WORK/run"
BASE=(XDG_RUNTIME_DIR="$WORK/run" HOME="$WORK/home" XDG_CONFIG_HOME="$WORK/home/config")

as_user "${BASE[@]}" WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 \
    sway -c "$WORK/sway.conf" >"$WORK/sway.log" 2>&1 &
SWAY_PID=$!
for i in $(seq 400); do
    SOCK=$(ls "$WORK"/run/sway-ipc.*.sock 2>/dev/null | head -n 1)
    [ -n "$SOCK" ] && [ -e "$WORK/run/wayland-1" ] && break
    sleep 0.05
done
[ -n "${SOCK:-}" ] || fail "sway did not start: $(tail -n 3 "$WORK/sway.log")"
SWAY=("${BASE[@]}" SWAYSOCK="$SOCK" WAYLAND_DISPLAY=wayland-1)
tree() { as_user "${SWAY[@]}" swaymsg -t get_tree; }
# Whether the window named $1 has the keyboard, from sway's tree.
focused() {
    tree | /usr/bin/python3 -c '
import json, sys
def nodes(node):
    yield node
    for child in node.get("nodes", []) + node.get("floating_nodes", []):
        yield from nodes(child)
sys.exit(0 if any(n.get("name") == sys.argv[1] and n.get("focused")
                  for n in nodes(json.load(sys.stdin))) else 1)' "$1"
}

printf '[FormPos]\nLeftPos=300\nTopPos=150\n' >"$WORK/home/config/vxconf.ini"
chown "$USER_NAME" "$WORK/home/config/vxconf.ini"
as_user "${SWAY[@]}" QT_QPA_PLATFORM=wayland VX310SIM="$WORK/bin/vx310sim" \
    "$WORK/bin/vxconf" --simulate >"$WORK/vxconf.log" 2>&1 &
APP=$!
for i in $(seq 400); do
    tree | grep -q '"name": "VX310 Configuration"' && break
    sleep 0.05
done
focused 'VX310 Configuration' ||
    fail "the main window has not the keyboard: $(tree | grep -E '"name"|"focused": true')"
as_user "${SWAY[@]}" swaymsg '[title="^VX310 Configuration$"] kill' >/dev/null
for i in $(seq 400); do
    kill -0 "$APP" 2>/dev/null || break
    sleep 0.05
done
kill -0 "$APP" 2>/dev/null && fail "the program did not end when its window was closed"
grep -q '^LeftPos=300' "$WORK/home/config/vxconf.ini" &&
    grep -q '^TopPos=150' "$WORK/home/config/vxconf.ini" ||
    fail "the remembered position was lost: $(grep -E 'Pos=' "$WORK/home/config/vxconf.ini" | tr '\n' ' ')"
grep -q '^Port=comm255' "$WORK/home/config/vxconf.ini" || fail "the settings were not written"
echo "PASS: on Wayland the window has the keyboard and the remembered position survives"

#!/bin/bash
# Three starts and exits leave the main window where it was, at scale 1 and 2.
. "$(dirname "$0")/desktop.sh"
start_desktop

for scale in 1 2; do
    printf '[FormPos]\nLeftPos=300\nTopPos=150\n' >"$XDG_CONFIG_HOME/vxconf.ini"
    for run in 1 2 3; do
        QT_SCALE_FACTOR=$scale start_vxconf
        x=$(xwininfo -id "$MAIN" | awk '/Absolute upper-left X/ {print $NF}')
        y=$(xwininfo -id "$MAIN" | awk '/Absolute upper-left Y/ {print $NF}')
        [ "$x,$y" = "$((300 * scale)),$((150 * scale))" ] ||
            fail "scale $scale, run $run: the window is at $x,$y"
        exit_vxconf
        grep -q '^LeftPos=300' "$XDG_CONFIG_HOME/vxconf.ini" &&
            grep -q '^TopPos=150' "$XDG_CONFIG_HOME/vxconf.ini" ||
            fail "scale $scale, run $run wrote $(grep -E 'Pos=' "$XDG_CONFIG_HOME/vxconf.ini" | tr '\n' ' ')"
    done
done
echo "PASS: the window stays where it was put"

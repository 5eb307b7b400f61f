#!/bin/bash
# The operator's station window on a desktop, driven from the keyboard and read as a screen
# reader reads it (AT-SPI): units whose links appear in the watched folder are provisioned
# and each tile says its result, a failed unit's tile gives its reason, the counters add up,
# Stop while units run leaves no tile running, and the operator set by a scan is the one
# the history records.
. "$(dirname "$0")/desktop.sh"
on_session_bus "$@"
start_accessibility_bus
start_desktop
SIMS=()
trap 'kill "${SIMS[@]}" 2>/dev/null; stop_accessibility_bus; cleanup' EXIT
export A11Y_APP=vxconf-station

# Units: three good ones, one whose replies are corrupt, two that answer late (for Stop).
mkdir -p "$WORK/units" "$WORK/watch"
sim() {
    "$VX310SIM" --no-pacing --link "$WORK/units/$1" "${@:2}" >/dev/null 2>&1 &
    SIMS+=($!)
}
sim good1 --serial 6001
sim good2 --serial 6002
sim good3 --serial 6003
sim corrupt --serial 6004 --corrupt
sim slow1 --serial 6005 --delay 1500
sim slow2 --serial 6006 --delay 1500
for u in good1 good2 good3 corrupt slow1 slow2; do
    for i in $(seq "$WAIT_STEPS"); do [ -L "$WORK/units/$u" ] && break; sleep 0.05; done
done
"$VXCONF_CLI" --device "$WORK/units/good1" save "$WORK/base.vxc" 2>"$WORK/save.log" ||
    fail "no base file: $(cat "$WORK/save.log")"
printf 'serialNumber,mode2.address\n6001,1\n6002,2\n6003,3\n6004,4\n6005,5\n6006,6\n' >"$WORK/plan.csv"
"$VXCONF_CLI" job new "$WORK/line.vxjob" --config "$WORK/base.vxc" --plan "$WORK/plan.csv" \
    --unique mode2.address --name "Line 7" >/dev/null || fail "no job"

"$VXCONF_STATION" "$WORK/line.vxjob" --watch-dir "$WORK/watch" --history "$WORK/history.sqlite" \
    --station bench-3 >"$WORK/station.log" 2>&1 &
APP_PID=$!
MAIN=$(wait_window '^Line 7 - VXCONF Station$') || fail "no station window"
wait_active "$MAIN" || fail "the station window did not get the keyboard"

# Waits until some named node matches (grep -E), and gives the matching lines. A walk of
# the tree takes a while itself, so the deadline is a time, 30 s, not a count of steps.
wait_names() {
    local out end=$((SECONDS + 30))
    while [ "$SECONDS" -lt "$end" ]; do
        out=$($CHECK names 2>/dev/null | grep -E "$1") && { echo "$out"; return 0; }
        sleep 0.05
    done
    $CHECK names >"$WORK/names.txt" 2>&1
    return 1
}

# Every control a user reaches has a name a screen reader can say.
for i in $(seq 40); do
    out=$($CHECK check 'Line 7 - VXCONF Station') && break
    sleep 0.25
done
[ -z "$out" ] || fail "unnamed controls: $out"

# A badge scanned into the operator field (a keyboard wedge types it and presses Return).
xdotool key alt+e
xdotool type --delay 20 "anna"
xdotool key Return
wait_names '^operator: anna' >/dev/null || fail "the scanned operator is not shown"
xdotool key alt+s
wait_names '^Watching: plug units in' >/dev/null || fail "watching did not start"
for u in good1 good2 good3 corrupt; do
    ln -s "$(readlink "$WORK/units/$u")" "$WORK/watch/$u"
done
for u in good1 good2 good3; do
    wait_names "^Slot $WORK/watch/$u: serial: 600[1-3], ended, ok" >/dev/null ||
        fail "the tile of $u does not say ok (names in $WORK/names.txt)"
done
wait_names "^Slot $WORK/watch/corrupt: serial: -, ended, FAILED: .+" >/dev/null ||
    fail "the failed tile gives no reason (names in $WORK/names.txt)"
wait_names $'^Counters\tok 3 \\| failed 1 \\| yield 75.0 %' >/dev/null ||
    fail "the counters do not add up (names in $WORK/names.txt)"

# Stop while two units run: each finishes its step, and no tile is left running.
for u in slow1 slow2; do
    ln -s "$(readlink "$WORK/units/$u")" "$WORK/watch/$u"
done
wait_names "^Slot $WORK/watch/slow2: .*running" >/dev/null || fail "the slow units did not start"
xdotool key alt+t
wait_names $'^Stopped\t' >/dev/null || fail "the station did not stop"
$CHECK names | grep -E '^Slot .*running' && fail "a tile is left running after Stop"
[ "$(active_window)" = "$MAIN" ] || fail "the station window lost the keyboard: $(active_name)"

# The history has the scanned operator on every unit that ended.
"$VXCONF_CLI" history --history "$WORK/history.sqlite" --json >"$WORK/history.json" ||
    fail "no history"
[ "$(grep -c '"operator":"anna"' "$WORK/history.json")" = 6 ] ||
    fail "the history does not name the operator on every run: $(cat "$WORK/history.json")"
grep -q '"station":"bench-3"' "$WORK/history.json" || fail "the history does not name the station"

xdotool key ctrl+q
for i in $(seq "$WAIT_STEPS"); do
    kill -0 "$APP_PID" 2>/dev/null || { APP_PID=; break; }
    sleep 0.05
done
[ -z "$APP_PID" ] || fail "Ctrl+Q did not close the station"
echo "PASS"

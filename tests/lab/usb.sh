#!/usr/bin/env bash
# The lab's USB bridge cable: a virtual meter behind QEMU's USB-serial adapter,
# which the guest's ftdi_sio driver makes /dev/ttyUSB0; closing the adapter's
# socket is a real hot-unplug.
# usage: usb.sh CASE VM_DIR BUILD_DIR
set -u
CASE=$1 VM=$2 BUILD=$3
. "$(dirname "$0")/lab-lib.sh"

# The guest waits for the adapter's node to come (or go, with "gone").
wait_node() {
    cat <<'EOS'
want=$1
for _ in $(seq 1 100); do
    if [ "$want" = gone ]; then [ -e /dev/ttyUSB0 ] || exit 0; else [ -c /dev/ttyUSB0 ] && exit 0; fi
    sleep 0.1
done
echo "/dev/ttyUSB0 did not $( [ "$want" = gone ] && echo go || echo come)"; exit 1
EOS
}

case $CASE in
found)
    # No KQMETER_BRIDGE_DEVICES: the programs find the adapter themselves.
    plug_meter --values 12.34,5.67 --rate 10
    wait_node | guest here >/dev/null || { echo "FAIL: the adapter never appeared"; exit 1; }
    guest "$BUILD" >"$work/out" <<'EOS'
B=$1
"$B/tools/kqmeter-cli" devices
echo "-- monitor"
timeout 30 "$B/tools/kqmeter-cli" monitor --usb --count 4
echo "-- rc $?"
EOS
    cat "$work/out"
    check "devices lists the adapter's line" \
        grep -qx '  /dev/ttyUSB0' <(sed -n '/^USB bridge lines:/,$p' "$work/out")
    check "monitor --usb decodes four frames and ends" grep -qx -- '-- rc 0' "$work/out"
    check "each line a reading the meter sent" test \
        "$(sed -n '/^-- monitor/,/^-- rc/p' "$work/out" | grep -cE $'^[0-9:]+\t(12\.34|5\.67)\tlux\t')" -eq 4
    pull_meter
    wait_node | guest gone >/dev/null
    ;;
pull)
    # A recording while the adapter is pulled out, then plugged back in.
    plug_meter --values 1.00,2.00,3.00,4.00 --rate 10
    wait_node | guest here >/dev/null || { echo "FAIL: the adapter never appeared"; exit 1; }
    guest "$BUILD" >"$work/start" <<'EOS'
B=$1
rm -rf /tmp/rec && mkdir /tmp/rec
setsid "$B/tools/kqmeter-cli" record --usb /tmp/rec/log.txt >/tmp/rec/out 2>/tmp/rec/err </dev/null &
echo $! >/tmp/rec/pid
# Readings arrive: the file gains rows.
for _ in $(seq 1 100); do
    [ -f /tmp/rec/log.txt ] && [ "$(wc -l </tmp/rec/log.txt)" -ge 4 ] && exit 0
    sleep 0.1
done
echo "no rows were recorded"; cat /tmp/rec/err; exit 1
EOS
    check "the recording takes readings" test $? -eq 0
    cat "$work/start"
    pull_meter
    guest >"$work/pulled" <<'EOS'
pid=$(cat /tmp/rec/pid)
for _ in $(seq 1 100); do [ -e /dev/ttyUSB0 ] || break; sleep 0.1; done
# Give it a second with the cable gone: a program that spins on the dead line
# uses that second up.
t0=$(awk '{print $14 + $15}' /proc/$pid/stat 2>/dev/null || echo 0)
sleep 1
t1=$(awk '{print $14 + $15}' /proc/$pid/stat 2>/dev/null || echo "$t0")
echo "cpu ticks in the second after the pull: $((t1 - t0))"
for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$pid" 2>/dev/null; then
    echo "still running after the pull"; kill -INT "$pid"; sleep 1
fi
wait "$pid" 2>/dev/null
echo "-- err"; cat /tmp/rec/err
echo "-- log"; cat /tmp/rec/log.txt
EOS
    cat "$work/pulled"
    ticks=$(sed -n 's/^cpu ticks in the second after the pull: //p' "$work/pulled")
    check "no busy loop on the pulled line (${ticks:-?} of 100 ticks)" test "${ticks:-100}" -lt 20
    check "the pull is told in words" grep -qiE 'not connected|gone|pulled|unplugged|disconnected' \
        <(sed -n '/^-- err/,/^-- log/p' "$work/pulled")
    check "no crash" bash -c "! grep -qiE 'segmentation|abort|core dumped|terminate called' '$work/pulled'"
    rows=$(sed -n '/^-- log/,$p' "$work/pulled" | grep -cE $'\t[1-4]\.00\t')
    check "every recorded row is a reading the meter sent ($rows rows)" test "$rows" -ge 4
    # Every reading the program took is in the file: rows numbered 1..N
    # without a gap, N as the program reported it.
    said=$(sed -n 's/^kqmeter-cli: \([0-9]*\) rows in .*/\1/p' "$work/pulled")
    check "the file holds every row the program logged (${said:-?})" bash -c "sed -n '/^-- log/,\$p' '$work/pulled' |
        awk -F'\t' 'NR > 2 { if (\$1 != NR - 2) bad = 1; n = \$1 } END { exit bad || n != ${said:-0} }'"
    # Plugged back in: the adapter comes back and connecting works again.
    plug_meter --values 7.00 --rate 10
    wait_node | guest here >/dev/null || { echo "FAIL: the adapter did not come back"; exit 1; }
    guest "$BUILD" >"$work/again" <<'EOS'
timeout 30 "$1/tools/kqmeter-cli" monitor --usb --count 2
EOS
    check "connecting again after the replug works" test "$(grep -c $'\t7\.00\t' "$work/again")" -eq 2
    pull_meter
    ;;
window)
    # The window under Xvfb finds the adapter itself (no KQMETER_BRIDGE_DEVICES)
    # once "USB Connect " is pressed (by --connect usb), and logs the meter's readings: its
    # recovery journal gains a row a second.
    plug_meter --values 12.34,5.67 --rate 10
    wait_node | guest here >/dev/null || { echo "FAIL: the adapter never appeared"; exit 1; }
    rm -rf "$VM/share/window"
    guest "$BUILD" >"$work/out" <<'EOS'
B=$1
for tool in xvfb-run Xvfb xdotool import; do
    command -v "$tool" >/dev/null || { echo "-- missing $tool"; exit 1; }
done
s=/lab/window
mkdir -p "$s/data" "$s/config"
export XDG_DATA_HOME=$s/data XDG_CONFIG_HOME=$s/config
cat >/tmp/window.sh <<'EOW'
"$1/src/kqmeter" --defaults --connect usb >/tmp/window.err 2>&1 &
win=$!
trap 'kill $win 2>/dev/null; wait $win 2>/dev/null' EXIT
wid=$(timeout 60 xdotool search --sync --onlyvisible --name "Interface Program" | head -1)
[ -n "$wid" ] || { echo "-- no window"; cat /tmp/window.err; exit 1; }
journal=$XDG_DATA_HOME/kqmeter/recovery.txt
for _ in $(seq 1 200); do
    n=$(grep -cE $'\t(12\\.34|5\\.67)\t' "$journal" 2>/dev/null)
    [ "${n:-0}" -ge 3 ] && break
    sleep 0.1
done
sleep 0.5
import -window root /lab/usb-window.png
echo "-- journal"
cat "$journal" 2>/dev/null | tr -d '\r'
echo "-- window"
cat /tmp/window.err
EOW
began=$(date +%s)
timeout -k 5 90 xvfb-run -a -s "-screen 0 1024x768x24" bash /tmp/window.sh "$B"
echo "-- rc $? in $(($(date +%s) - began)) s"
EOS
    cat "$work/out"
    rows=$(sed -n '/^-- journal/,/^-- window/p' "$work/out" | grep -cE $'\t(12\\.34|5\\.67)\t')
    check "the window logs the meter's readings in its journal ($rows rows)" test "$rows" -ge 3
    check "the window ran and ended" grep -qE -- '^-- rc 0 ' "$work/out"
    check "no crash" bash -c "! grep -qiE 'segmentation|abort|core dumped|terminate called' '$work/out'"
    check "a screenshot of the window was taken" test -s "$VM/share/usb-window.png"
    keep_shot usb-window
    rm -rf "$VM/share/window"
    pull_meter
    wait_node | guest gone >/dev/null
    ;;
window-pull)
    # The adapter is pulled while the window records, then plugged back in.
    # The window and its X server live across the guest scripts.
    plug_meter --values 1.00,2.00,3.00,4.00 --rate 10
    wait_node | guest here >/dev/null || { echo "FAIL: the adapter never appeared"; exit 1; }
    trap 'echo win_end | in_window >/dev/null; lab_cleanup' EXIT
    in_window >"$work/before" <<'EOS'
win_x && win_open --connect usb || exit 1
journal_wait 4 20 '[1-4]\.00' || { echo "-- no readings"; win_end; exit 1; }
win_shot usb-before-pull
EOS
    check "the window records the meter's readings" test $? -eq 0
    cat "$work/before"
    pull_meter
    in_window >"$work/pulled" <<'EOS'
for _ in $(seq 1 100); do [ -e /dev/ttyUSB0 ] || break; sleep 0.1; done
sleep 0.5
n=$(journal_rows '[1-4]\.00')
win_cost 3
echo "-- rows: $n, three seconds on: $(journal_rows '[1-4]\.00')"
echo "-- box: $(box_text 1 | tr '\n' ' ')"
win_shot usb-pulled
box_ok
win_alive && echo "-- the window runs"
echo "-- journal"
tr -d '\r' <"$journal"
echo "-- end"
EOS
    cat "$work/pulled"
    read -r ticks wakeups < <(sed -n 's/^-- cost in 3 s: \([0-9]*\) ticks \([0-9]*\) wakeups/\1 \2/p' "$work/pulled")
    check "no busy loop on the pulled line (${ticks:-?} of 300 ticks, ${wakeups:-?} wake-ups)" \
        test "${ticks:-300}" -lt 30 -a "${wakeups:-100000}" -lt 150
    check "the pull is told in words" grep -qiE '^-- box: .*(unplugged|pulled|gone)' "$work/pulled"
    check "no crash" grep -qx -- '-- the window runs' "$work/pulled"
    # Every reading logged is in the journal: rows numbered 1..N, no gap.
    check "the journal holds every row logged before the pull" bash -c "sed -n '/^-- journal/,/^-- end/p' '$work/pulled' |
        awk -F'\t' '\$3 ~ /^[1-4]\.00\$/ { n++; if (\$1 != n) bad = 1 } END { exit bad || n < 4 }'"
    plug_meter --values 7.00 --rate 10
    wait_node | guest here >/dev/null || {
        echo "FAIL: the adapter did not come back as /dev/ttyUSB0"
        keep_shot usb-before-pull usb-pulled
        exit 1
    }
    in_window >"$work/again" <<'EOS'
win_press USB # "USB Connect " again, in the same window
journal_wait 2 20 '7\.00' && echo "-- reads again"
echo "-- boxes: $(win_boxes | wc -l)"
win_shot usb-replugged
win_end
EOS
    cat "$work/again"
    check "connecting again after the replug works" grep -qx -- '-- reads again' "$work/again"
    keep_shot usb-before-pull usb-pulled usb-replugged
    pull_meter
    wait_node | guest gone >/dev/null
    ;;
access)
    # An ordinary user and an adapter only root may open: the command line and
    # the window refuse with the advice that gets the user in.
    plug_meter --values 1.00 --rate 10
    wait_node | guest here >/dev/null || { echo "FAIL: the adapter never appeared"; exit 1; }
    trap 'echo win_end | in_window >/dev/null; lab_cleanup' EXIT
    in_window >"$work/out" <<'EOS'
chmod 600 /dev/ttyUSB0
echo "-- monitor"
setpriv --reuid 65534 --regid 65534 --clear-groups timeout 20 "$B/tools/kqmeter-cli" monitor --usb --count 1 2>&1
echo "-- rc $?"
win_x 65534 && win_open as 65534 --connect usb || exit 1
echo "-- box: $(box_text 10 | tr '\n' ' ')"
win_shot usb-access
box_ok
win_alive && echo "-- the window runs"
win_end
EOS
    cat "$work/out"
    sed -n '/^-- monitor/,/^-- rc/p' "$work/out" >"$work/cli"
    check "the command line refuses" grep -qx -- '-- rc 1' "$work/cli"
    for where in cli box; do
        [ $where = box ] && grep '^-- box:' "$work/out" >"$work/box"
        check "$where: says the open failed" grep -q 'Open the equipments mistake' "$work/$where"
        check "$where: says this user may not open it, and how to be let in" \
            grep -q 'may not open .*sudo adduser $USER dialout' "$work/$where"
    done
    check "no crash" grep -qx -- '-- the window runs' "$work/out"
    keep_shot usb-access
    pull_meter
    wait_node | guest gone >/dev/null
    ;;
*)
    echo "usb.sh: no case $CASE" >&2
    exit 2
    ;;
esac
finish_case

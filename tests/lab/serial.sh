#!/usr/bin/env bash
# The lab's serial port: the guest's second 8250 UART (/dev/ttyS1), whose
# other end is a socket the host's virtual meter writes to.
# usage: serial.sh CASE VM_DIR BUILD_DIR
set -u
CASE=$1 VM=$2 BUILD=$3
. "$(dirname "$0")/lab-lib.sh"

case $CASE in
monitor)
    # The meter at the pace of a 2400 bit/s line.
    "$lab_here/meter-plug" "$VM/serial.sock" "$BUILD/tools/kqmeter-sim" --serial 12b --baud 2400 \
        --values 3.21,6.54 --rate 4 &
    bg_pids+=($!)
    guest "$BUILD" >"$work/out" <<'EOS'
B=$1
timeout 30 "$B/tools/kqmeter-cli" monitor --serial /dev/ttyS1 --count 3 >/tmp/serial.out 2>&1 &
mon=$!
# The settings as stty reads them once the monitor has set the line up (a
# UART keeps them after the close, too).
line=
while kill -0 $mon 2>/dev/null; do
    line=$(stty -F /dev/ttyS1 2>&1 | tr '\n;' '  ')
    case $line in *"speed 2400 baud"*) break ;; esac
    sleep 0.2
done
wait $mon
rc=$?
case $line in *"speed 2400 baud"*) ;; *) line=$(stty -F /dev/ttyS1 2>&1 | tr '\n;' '  ') ;; esac
echo "-- stty: $line"
(exit $rc)
echo "-- rc $?"
cat /tmp/serial.out
EOS
    cat "$work/out"
    check "monitor --serial decodes frames on a real UART" \
        test "$(grep -cE $'^[0-9:]+\t(3\.21|6\.54)\tlux\t' "$work/out")" -eq 3
    check "it ends after them" grep -qx -- '-- rc 0' "$work/out"
    check "the line runs at 2400 bit/s as stty reads it" grep -q -- '-- stty: speed 2400 baud' "$work/out"
    ;;
settings)
    # The driver's settings, the custom speeds included, as the UART keeps them.
    guest "$BUILD" >"$work/out" <<'EOS'
KQ_LAB_UART=/dev/ttyS1 "$1/tests/kq_unit_tests" --gtest_filter='SerialUart.*' 2>&1
EOS
    cat "$work/out"
    check "the settings reach the UART" grep -q '^\[  PASSED  \] 1 test' "$work/out"
    check "not skipped" bash -c "! grep -q '^\[  SKIPPED' '$work/out'"
    ;;
window)
    # The window under Xvfb on the real UART: Connect -> START (by keyboard,
    # Alt+C then S) opens COM1 and logs the meter's readings in the journal.
    "$lab_here/meter-plug" "$VM/serial.sock" "$BUILD/tools/kqmeter-sim" --serial 12b --baud 2400 \
        --values 3.21,6.54 --rate 4 &
    bg_pids+=($!)
    rm -rf "$VM/share/window"
    guest "$BUILD" >"$work/out" <<'EOS'
s=/lab/window
mkdir -p "$s/data" "$s/config"
export XDG_DATA_HOME=$s/data XDG_CONFIG_HOME=$s/config KQMETER_COM1=/dev/ttyS1
cat >/tmp/window.sh <<'EOW'
"$1/src/kqmeter" --defaults >/tmp/window.err 2>&1 &
win=$!
trap 'kill $win 2>/dev/null; wait $win 2>/dev/null' EXIT
wid=$(timeout 60 xdotool search --sync --onlyvisible --name "Interface Program" | head -1)
[ -n "$wid" ] || { echo "-- no window"; cat /tmp/window.err; exit 1; }
sleep 1
xdotool windowfocus --sync "$wid" key alt+c
sleep 0.5
xdotool key s
journal=$XDG_DATA_HOME/kqmeter/recovery.txt
for _ in $(seq 1 200); do
    n=$(grep -cE $'\t(3\\.21|6\\.54)\t' "$journal" 2>/dev/null)
    [ "${n:-0}" -ge 2 ] && break
    sleep 0.1
done
import -window root /lab/serial-window.png
echo "-- journal"
cat "$journal" 2>/dev/null | tr -d '\r'
echo "-- window"
cat /tmp/window.err
EOW
timeout -k 5 90 xvfb-run -a -s "-screen 0 1024x768x24" bash /tmp/window.sh "$1"
echo "-- rc $?"
EOS
    cat "$work/out"
    rows=$(sed -n '/^-- journal/,/^-- window/p' "$work/out" | grep -cE $'\t(3\\.21|6\\.54)\t')
    check "START logs the meter's readings from the UART ($rows rows)" test "$rows" -ge 2
    check "the window ran and ended" grep -qx -- '-- rc 0' "$work/out"
    keep_shot serial-window
    rm -rf "$VM/share/window"
    ;;
access)
    # An ordinary user and a port only root may open: monitor and START in
    # the window refuse with the advice that gets the user in.
    trap 'echo win_end | in_window >/dev/null; lab_cleanup' EXIT
    in_window >"$work/out" <<'EOS'
chmod 600 /dev/ttyS1
echo "-- monitor"
setpriv --reuid 65534 --regid 65534 --clear-groups timeout 20 "$B/tools/kqmeter-cli" monitor --serial /dev/ttyS1 --count 1 2>&1
echo "-- rc $?"
export KQMETER_COM1=/dev/ttyS1
win_x 65534 && win_open as 65534 || exit 1
xdotool windowfocus --sync "$(win_wid)" key alt+c
sleep 0.5
xdotool key s # Connect -> START
echo "-- box: $(box_text 10 | tr '\n' ' ')"
win_shot serial-access
box_ok
win_alive && echo "-- the window runs"
win_end
chmod 660 /dev/ttyS1
EOS
    cat "$work/out"
    sed -n '/^-- monitor/,/^-- rc/p' "$work/out" >"$work/cli"
    grep '^-- box:' "$work/out" >"$work/box"
    check "the command line refuses" grep -qx -- '-- rc 1' "$work/cli"
    for where in cli box; do
        check "$where: says this user may not open the port, and how to be let in" \
            grep -q '/dev/ttyS1.* may not be opened by this user.*sudo adduser $USER dialout' "$work/$where"
    done
    check "no crash" grep -qx -- '-- the window runs' "$work/out"
    keep_shot serial-access
    ;;
*)
    echo "serial.sh: no case $CASE" >&2
    exit 2
    ;;
esac
finish_case

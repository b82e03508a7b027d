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
*)
    echo "serial.sh: no case $CASE" >&2
    exit 2
    ;;
esac
finish_case

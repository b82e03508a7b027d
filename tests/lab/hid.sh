#!/usr/bin/env bash
# The lab's HID cable: a cable made through the guest kernel's /dev/uhid, so
# that hidapi, hidraw and udev are the real ones.
# usage: hid.sh CASE VM_DIR BUILD_DIR
set -u
CASE=$1 VM=$2 BUILD=$3
. "$(dirname "$0")/lab-lib.sh"
SRC=$(cd "$lab_here/../.." && pwd)

# Report descriptors, vendor page, 64-byte input reports, a 9-byte feature report.
plain=0600ff0901a10115002600ff750895400901810295090901b102c0
# ID 5 on every report.
numbered=0600ff0901a10115002600ff7508850595400901810295090901b102c0
# ID 5 on the feature report only: the input reports carry none.
feature_id=0600ff0901a10115002600ff7508954009018102850595090901b102c0
# A second top-level collection (usage 2, a feature report of its own).
two=${plain}0600ff0902a101750895080902b102c0

# Guest-side helpers every case's script starts with: a cable in the
# background, its node, and the tools.
prelude() {
    cat <<EOS
B=$BUILD SRC=$SRC
CLI=\$B/tools/kqmeter-cli
rm -rf /tmp/hid && mkdir -p /tmp/hid
cable() { # options of uhid-cable; waits for the node
    rm -f /tmp/hid/node
    setsid /usr/bin/python3 "\$SRC/tests/lab/uhid-cable" --node-file /tmp/hid/node "\$@" \
        >/tmp/hid/cable.log 2>&1 </dev/null &
    cable_pid=\$!
    for _ in \$(seq 1 100); do [ -s /tmp/hid/node ] && return 0; sleep 0.1; done
    echo "the virtual cable did not appear"; cat /tmp/hid/cable.log; exit 1
}
unplug() { kill \$cable_pid 2>/dev/null; wait \$cable_pid 2>/dev/null; }
# Presses "USB Connect" of the window's cable band.
usbcon() { win_press USBCon; }
# A second after a press of it (usbcon, or the window's --connect hid): presses
# it again until the window has the cable in its list (it says so when it has
# none yet) and reads it.
cable_read() {
    for _ in \$(seq 1 10); do
        [ -z "\$(win_boxes)" ] && return 0
        box_ok
        sleep 1
        usbcon
        sleep 1
    done
    return 1
}
connect_cable() { usbcon; sleep 1; cable_read; }
udevd() { # with or without: the udev daemon runs or not
    if [ "\$1" = with ]; then
        /lib/systemd/systemd-udevd --daemon
        udevadm trigger --action=add >/dev/null 2>&1; udevadm settle -t 10
    else
        pkill -x systemd-udevd; rm -rf /run/udev
    fi
}
trap unplug EXIT
EOS
}

run_guest() { # script on stdin, after the prelude
    { prelude; cat; } | guest >"$work/out"
    local rc=$?
    cat "$work/out"
    return $rc
}

monitor_lines() { grep -cE $'^[0-9:]+\t[-0-9.]+\tlux\t' "$work/out"; }

case $CASE in
uhid)
    # The unit test of the machine's HID backend that no ordinary test
    # machine can run (no /dev/uhid there).
    run_guest <<'EOS'
"$B/tests/kq_unit_tests" --gtest_filter='HidUhid.*' 2>&1
EOS
    check "the uhid test passes" grep -q '^\[  PASSED  \] 1 test' "$work/out"
    check "none is skipped" bash -c "! grep -q '^\[  SKIPPED' '$work/out'"
    check "none fails" bash -c "! grep -q '^\[  FAILED' '$work/out'"
    ;;
monitor)
    # Unnumbered reports; the bit-rate report as the cable received it.
    run_guest <<EOS
cable --features /tmp/hid/features --descriptor $plain
"\$CLI" devices
echo "-- monitor"
timeout 30 "\$CLI" monitor --hid --count 3
echo "-- rc \$?"
echo "-- features"; cat /tmp/hid/features
EOS
    check "devices lists the cable read-write" grep -qE $'^  USB to Serial\t/dev/hidraw[0-9]+\tread-write' "$work/out"
    check "monitor --hid decodes three frames" test "$(monitor_lines)" -eq 3
    check "monitor ends after them" grep -qx -- '-- rc 0' "$work/out"
    # Report 0, ten bytes: the light meter's 19200 bit/s little-endian, then 3.
    check "the bit-rate report reached the cable byte for byte" \
        grep -qx '0 00 00 4b 00 00 03 00 00 00 00' "$work/out"
    ;;
numbered)
    run_guest <<EOS
cable --descriptor $numbered --input-id 5
timeout 30 "\$CLI" monitor --hid --count 3
echo "-- rc \$?"
EOS
    check "numbered reports are assembled into frames" test "$(monitor_lines)" -eq 3
    ;;
feature-id)
    # The kernel numbers input reports only when an input report has an ID.
    run_guest <<EOS
cable --descriptor $feature_id
timeout 20 "\$CLI" monitor --hid --count 3
echo "-- rc \$?"
EOS
    check "an ID on the feature report alone loses no frame" test "$(monitor_lines)" -eq 3
    ;;
collections)
    run_guest <<EOS
cable --descriptor $two
"\$CLI" devices
EOS
    check "a cable with two top-level collections is listed once" \
        test "$(grep -cE $'^  USB to Serial\t/dev/hidraw' "$work/out")" -eq 1
    ;;
pull)
    # The cable goes while the monitor reads.
    run_guest <<'EOS'
cable --frames 30 --rate 5
timeout 30 "$CLI" monitor --hid >/tmp/hid/out 2>/tmp/hid/err
echo "-- rc $?"
cat /tmp/hid/out; echo "-- err"; cat /tmp/hid/err
EOS
    check "frames before the pull are decoded" test "$(monitor_lines)" -ge 3
    check "the monitor ends with an error status" grep -qx -- '-- rc 1' "$work/out"
    check "it says the cable has gone" grep -q 'the HID cable has gone' "$work/out"
    check "one read error, not a stream of them" \
        test "$(grep -c 'READ ERROR' "$work/out")" -le 1
    check "no crash" bash -c "! grep -qiE 'segmentation|abort|terminate called' '$work/out'"
    ;;
access)
    # An ordinary user and a node only root may open; the advice must lead
    # to a rule that matches.
    run_guest <<EOS
cable --name "Meter Cable" --vid 1A2B --pid 00CD
node=\$(cat /tmp/hid/node)
chmod 600 "\$node"
as_user() { setpriv --reuid 65534 --regid 65534 --clear-groups "\$@"; }
as_user "\$CLI" devices
echo "-- monitor"
as_user timeout 20 "\$CLI" monitor --hid --device "\$node" --count 1
echo "-- rc \$?"
EOS
    check "devices tells the node cannot be read" grep -qE $'\t/dev/hidraw[0-9]+\tno read access' "$work/out"
    # On no USB device, udev can match the kernel's name of the HID device
    # only (upper-case hex, as the kernel writes it); the USB IDs in
    # lower case are the udev group's to check, on a real USB device.
    check "the line to add matches this cable" \
        grep -qF 'SUBSYSTEM=="hidraw", KERNELS=="0003:1A2B:00CD.*", TAG+="uaccess"' "$work/out"
    check "the monitor refuses with the permission advice" grep -q 'permission denied' "$work/out"
    check "the advice names no source-tree path" bash -c "! grep -q 'dist/udev' '$work/out'"
    check "the advice says why the rule cannot match this cable" grep -qi 'cannot match' "$work/out"
    ;;
hotplug)
    # Arrival and removal reach the controller through the udev monitor when
    # udevd runs, and through the kernel's own events when it does not.
    run_guest <<'EOS'
for mode in without with; do
    udevd $mode
    echo "-- udevd: $mode"
    "$B/tests/kq_unit_tests" --gtest_filter='HidUhidHotPlug.*' 2>&1 | grep -E '^\[ +(OK|FAILED|SKIPPED|PASSED) +\]|Failure|error:|Expected|Which|  Actual'
done
pkill -x systemd-udevd
true
EOS
    check "without udevd: arrival and removal are seen" \
        bash -c "sed -n '/^-- udevd: without/,/^-- udevd: with\$/p' '$work/out' | grep -q '^\[       OK \]'"
    check "with udevd: arrival and removal are seen" \
        bash -c "sed -n '/^-- udevd: with\$/,\$p' '$work/out' | grep -q '^\[       OK \]'"
    check "nothing failed or was skipped" bash -c "! grep -qE 'FAILED|SKIPPED' '$work/out'"
    ;;
window)
    # The window's cable band: the cable arrives and goes while the window is
    # open, with udevd and without it, and comes back.
    # One guest script per mode, each within the guest's time limit.
    for mode in without with; do
        { echo "mode=$mode"; cat; } <<'EOS' | run_guest
. "$SRC/tests/lab/window-lib.sh"
trap 'unplug; win_end >/dev/null 2>&1' EXIT
any='[-0-9.]+'
udevd $mode
echo "-- udevd: $mode"
began=$(date +%s)
win_x && win_open --cable-controls || exit 1
cable --rate 5
connect_cable
journal_wait 2 20 "$any" && echo "-- reads after the arrival"
win_shot hid-window-$mode
unplug
sleep 1
n1=$(journal_rows "$any")
win_cost 2
echo "-- rows after the removal: $n1, two seconds on: $(journal_rows "$any")"
cable --rate 5
# USB Connect stayed down: up, then down again reads the new cable.
usbcon
sleep 1
box_ok
connect_cable
journal_wait $((n1 + 2)) 20 "$any" && echo "-- reads after the second arrival"
echo "-- boxes: $(win_boxes | wc -l)"
unplug
win_alive && echo "-- the window runs"
echo "-- took $(($(date +%s) - began)) s"
win_end
[ $mode = without ] || pkill -x systemd-udevd
true
EOS
        cp "$work/out" "$work/$mode"
    done
    for mode in without with; do
        has() { grep -qE -- "$1" "$work/$mode"; }
        check "udevd $mode: the window reads a cable that arrives while it is open" \
            has '^-- reads after the arrival'
        check "udevd $mode: reading ends with the removal" \
            has '^-- rows after the removal: ([0-9]+), two seconds on: \1$'
        ticks=$(sed -n 's/^-- cost in 2 s: \([0-9]*\) ticks.*/\1/p' "$work/$mode")
        check "udevd $mode: the window rests with the cable gone (${ticks:-?} of 200 ticks)" \
            test "${ticks:-200}" -lt 20
        check "udevd $mode: the cable back, USB Connect reads it again" \
            has '^-- reads after the second arrival'
        check "udevd $mode: no message box" has '^-- boxes: 0$'
        check "udevd $mode: no crash" has '^-- the window runs$'
    done
    check "no crash" bash -c "! grep -qiE 'segmentation|abort|core dumped|terminate called' '$work/without' '$work/with'"
    keep_shot hid-window-without hid-window-with
    ;;
stall)
    # A cable that goes on reporting without meter data: the window's
    # connection timer releases it with its message.
    run_guest <<'EOS'
. "$SRC/tests/lab/window-lib.sh"
trap 'unplug; win_end >/dev/null 2>&1' EXIT
cable --stall --burst 10 --rate 100
win_x && win_open --cable-controls --connect hid || exit 1 # a second after the press
cable_read
began=$(date +%s)
echo "-- box: $(box_text 60 | tr '\n' ' ')"
echo "-- after $(($(date +%s) - began)) s"
win_shot hid-stall
box_ok
sleep 3
echo "-- boxes after OK: $(win_boxes | wc -l)"
win_alive && echo "-- the window runs"
EOS
    check "the stall check tells the user" grep -qF 'USB interface cable is connected properly, please check the USB connection status of the DMM.' "$work/out"
    check "it tells it once and stops reading" grep -qx -- '-- boxes after OK: 0' "$work/out"
    check "no crash" grep -qx -- '-- the window runs' "$work/out"
    keep_shot hid-stall
    ;;
*)
    echo "hid.sh: no case $CASE" >&2
    exit 2
    ;;
esac
finish_case

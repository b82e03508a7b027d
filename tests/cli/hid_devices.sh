#!/usr/bin/env bash
# kqmeter-cli devices and monitor --hid as far as a machine without a HID
# cable shows them: the listing, the bridge lines, the usage and exit codes.
# usage: hid_devices.sh CLI SIM DATA_DIR
set -u
CLI=$1
. "$(dirname "$0")/lib.sh"

# Bridge lines come from the override list; only serial lines that exist
# count (a character device, not a plain file).
touch "$work/plain"
KQMETER_BRIDGE_DEVICES="$work/plain:/dev/null:$work/missing" "$CLI" devices >"$work/out" 2>"$work/err"
check "devices exits 0" test $? -eq 0
check "devices has the HID heading" grep -qx "HID devices:" "$work/out"
check "devices lists the existing line" grep -qx "  /dev/null" "$work/out"
check "devices leaves out the missing line" bash -c "! grep -q missing '$work/out'"
check "devices leaves out a plain file" bash -c "! grep -q plain '$work/out'"
check "bridge heading after the HID list" bash -c \
    "[ \$(grep -n 'USB bridge lines:' '$work/out' | cut -d: -f1) -gt 1 ]"
if [ ! -d /sys/class/hidraw ]; then
    check "no hidraw said so" grep -q "no HID device nodes" "$work/out"
fi

"$CLI" devices extra >/dev/null 2>&1
check "devices takes no arguments" test $? -eq 2

"$CLI" monitor --hid --count 0 >/dev/null 2>"$work/err"
check "count 0 refused" test $? -eq 2
"$CLI" monitor --hid --device >/dev/null 2>&1
check "--device needs a path" test $? -eq 2

"$CLI" monitor --hid --device /dev/null --count 1 >"$work/out" 2>"$work/err"
check "a path that is no HID device fails" test $? -eq 1
check "and says which" grep -q "/dev/null" "$work/err"
check "and prints no reading" test ! -s "$work/out"

finish

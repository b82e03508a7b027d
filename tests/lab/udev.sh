#!/usr/bin/env bash
# The lab's udev rules: the install's 60-kqmeter.rules under the guest's real
# udevd, against a USB HID device (QEMU's USB tablet, which has a hidraw
# node on a real USB device) and a virtual cable made through /dev/uhid.
# No logind seat runs in the lab, so the "uaccess" tag never turns into an
# ACL here: the cases check that the tag is applied, which is all a seat needs.
# usage: udev.sh CASE VM_DIR BUILD_DIR
set -u
CASE=$1 VM=$2 BUILD=$3
. "$(dirname "$0")/lab-lib.sh"
SRC=$(cd "$lab_here/../.." && pwd)

run_guest() {
    {
        cat <<EOS
B=$BUILD SRC=$SRC
CLI=\$B/tools/kqmeter-cli
EOS
        cat
    } | guest >"$work/out"
    local rc=$?
    cat "$work/out"
    return $rc
}

case $CASE in
rules)
    run_guest <<'EOS'
rm -rf /tmp/udev && mkdir -p /tmp/udev
pgrep -x systemd-udevd >/dev/null || /lib/systemd/systemd-udevd --daemon
install -m 644 "$SRC/dist/udev/60-kqmeter.rules" /etc/udev/rules.d/60-kqmeter.rules
udevadm control --reload
tagged() { udevadm info -q property "$1" | grep -E '^(CURRENT_)?TAGS=' | grep -q ':uaccess:'; }
settle_node() { udevadm trigger --action=add --settle "/sys/class/hidraw/${1#/dev/}"; }

# QEMU's USB tablet (vendor 056a: a hex letter, so the case matters), a USB
# device that does not name itself "USB to Serial".
kbd=
for n in /sys/class/hidraw/*; do
    [ -e "$n" ] || continue
    udevadm info -a -p "$n" 2>/dev/null | grep -q 'ATTRS{idVendor}=="056a"' && kbd=/dev/${n##*/}
done
echo "tablet: $kbd"
[ -n "$kbd" ] || exit 1
settle_node "$kbd"
tagged "$kbd" && echo "tablet tagged by the shipped rules" || echo "tablet not tagged by the shipped rules"
chmod 600 "$kbd"
setpriv --reuid 65534 --regid 65534 --clear-groups "$CLI" devices >/tmp/udev/devices 2>&1
cat /tmp/udev/devices
usb=$(udevadm info -q path -n "$kbd")
while [ -n "$usb" ] && [ ! -f "/sys$usb/idVendor" ]; do usb=${usb%/*}; done
echo "sysfs: $(cat "/sys$usb/idVendor") $(cat "/sys$usb/idProduct")"
line=$(grep -A1 "$kbd" /tmp/udev/devices | grep -o 'SUBSYSTEM=="hidraw", [^ ]*, [^ ]*, TAG+="uaccess"' | head -1)
echo "advised: $line"
echo "$line" >/etc/udev/rules.d/61-kqmeter-local.rules
udevadm control --reload
settle_node "$kbd"
tagged "$kbd" && echo "tablet tagged by the advised line" || echo "tablet not tagged by the advised line"
udevadm test "/sys/class/hidraw/${kbd#/dev/}" 2>&1 | grep -i '61-kqmeter-local.rules' | head -3
echo "acl: $(getfacl -p "$kbd" 2>/dev/null | grep -c '^user:[^:]')"
rm -f /etc/udev/rules.d/61-kqmeter-local.rules

# A virtual cable named "USB to Serial", but on no USB device.
setsid /usr/bin/python3 "$SRC/tests/lab/uhid-cable" --node-file /tmp/udev/node --frames 0 \
    >/tmp/udev/cable.log 2>&1 </dev/null &
cable=$!
for _ in $(seq 1 100); do [ -s /tmp/udev/node ] && break; sleep 0.1; done
node=$(cat /tmp/udev/node)
udevadm control --reload
settle_node "$node"
tagged "$node" && echo "uhid tagged by the shipped rules" || echo "uhid not tagged by the shipped rules"
chmod 600 "$node"
setpriv --reuid 65534 --regid 65534 --clear-groups "$CLI" devices >/tmp/udev/devices 2>&1
cat /tmp/udev/devices
line=$(grep -A1 "$node" /tmp/udev/devices | grep -o 'SUBSYSTEM=="hidraw", [^ ]*, TAG+="uaccess"' | head -1)
echo "advised: $line"
echo "$line" >/etc/udev/rules.d/61-kqmeter-local.rules
udevadm control --reload
settle_node "$node"
tagged "$node" && echo "uhid tagged by the advised line" || echo "uhid not tagged by the advised line"
rm -f /etc/udev/rules.d/61-kqmeter-local.rules
kill $cable; wait $cable 2>/dev/null
true
EOS
    check "the tablet's IDs as listed are sysfs's own" bash -c "
        ids=\$(sed -n 's/^sysfs: \([0-9a-f]*\) \([0-9a-f]*\)/idVendor=\1 idProduct=\2/p' '$work/out')
        [ -n \"\$ids\" ] && grep -q \"\$ids\" '$work/out'"
    check "no upper-case ID that a rule would never match" bash -c "! grep -q '056A' '$work/out'"
    check "the shipped rule leaves a USB device of another name alone" grep -qx 'tablet not tagged by the shipped rules' "$work/out"
    check "the advised line for a USB device matches it" grep -qx 'tablet tagged by the advised line' "$work/out"
    check "udevadm test names the advised rule" grep -q '61-kqmeter-local.rules' <(grep -v '^advised' "$work/out")
    check "the shipped rule cannot match a cable on no USB device" grep -qx 'uhid not tagged by the shipped rules' "$work/out"
    check "and devices says so" grep -q 'cannot match this cable: it is no USB device' "$work/out"
    check "the advised line for it matches it" grep -qx 'uhid tagged by the advised line' "$work/out"
    ;;
*)
    echo "udev.sh: no case $CASE" >&2
    exit 2
    ;;
esac
finish_case

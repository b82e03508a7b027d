#!/usr/bin/env bash
# kqmeter-cli monitor --usb against the virtual meter: what a user reads on
# the terminal, the exit codes, and a meter that misbehaves or goes away.
# usage: monitor_usb.sh CLI SIM DATA_DIR
set -u
CLI=$1
SIM=$2
. "$(dirname "$0")/lib.sh"

monitor() { # device list, then monitor options; stdout, stderr and status into files
    local tag=$1 devices=$2
    shift 2
    KQMETER_BRIDGE_DEVICES=$devices timeout 60 "$CLI" monitor "$@" \
        >"$work/$tag.out" 2>"$work/$tag.err"
    echo $? >"$work/$tag.rc"
}

not_connected="USB interface cable is not connected properly, please check and re-try."

# A steady light meter: one line per frame, time, value, unit, verdict.
start_sim steady --values 19.99,20.00,0L --unit lux --rate 20 --count 400
pty=$(sim_path steady)
monitor steady "$pty" --usb --count 6
check_steady_monitor steady 6

# The two-row family on the same cable: the main row shows the cable's usb.1,
# the reading is the meter's, from the second row.
start_sim tworow --form usb24b --values 12.34 --unit ms --rate 20 --count 400
pty=$(sim_path tworow)
monitor tworow "$pty" --usb --count 3
check "two-row: exit 0" [ "$(cat "$work/tworow.rc")" = 0 ]
check "two-row: the meter's reading and unit" lines_match "$work/tworow.out" 3 "$time_re"$'\t12\\.34\tm\\|s\t'

# No cable, two cables, a device that is no serial line.
monitor none "" --usb --count 1
check "no device: exit 1" [ "$(cat "$work/none.rc")" = 1 ]
check "no device: the message" [ "$(cat "$work/none.err")" = "$not_connected" ]
check "no device: no output" [ ! -s "$work/none.out" ]
start_sim two --rate 2
pty=$(sim_path two)
monitor two "$pty:$pty" --usb --count 1
check "two devices: exit 1" [ "$(cat "$work/two.rc")" = 1 ]
check "two devices: the message" [ "$(cat "$work/two.err")" = "$not_connected" ]
monitor nottty /dev/null --usb --count 1
check "open fails: exit 1" [ "$(cat "$work/nottty.rc")" = 1 ]
check "open fails: the message" [ "$(cat "$work/nottty.err")" = "Open the equipments mistake" ]

# Garbage between frames and truncated frames: no hang, still whole lines.
start_sim garbage --values 1234,567 --rate 25 --stray-bytes --truncate-every 3 --seed 4
pty=$(sim_path garbage)
monitor garbage "$pty" --usb --count 10
check "garbage: exit 0" [ "$(cat "$work/garbage.rc")" = 0 ]
check "garbage: ten lines of four fields" \
    lines_match "$work/garbage.out" 10 "$time_re"$'\t[^\t]*\t[^\t]*\t[^\t]*$'
check "garbage: whole frames still decode" grep -Eq $'\t(1234|567)\tlux\t' "$work/garbage.out"

# The meter hangs up mid-stream: the monitor says so and ends.
start_sim hangup --values 42 --rate 20 --hangup-after 20 --start-delay 300
pty=$(sim_path hangup)
monitor hangup "$pty" --usb
check "hang-up: exit 1" [ "$(cat "$work/hangup.rc")" = 1 ]
check "hang-up: frames before it" grep -q $'\t42\tlux\t' "$work/hangup.out"
check "hang-up: told" grep -q "device has gone" "$work/hangup.err"

# Ctrl-C ends a monitor without --count cleanly.
start_sim sigint --values 7 --rate 20
pty=$(sim_path sigint)
KQMETER_BRIDGE_DEVICES=$pty "$CLI" monitor --usb >"$work/sigint.out" 2>"$work/sigint.err" &
mon=$!
for _ in $(seq 1 200); do
    [ -s "$work/sigint.out" ] && break
    sleep 0.05
done
kill -INT "$mon"
wait "$mon"
check "SIGINT: exit 0" [ $? = 0 ]
check "SIGINT: lines before it" grep -q $'\t7\tlux\t' "$work/sigint.out"

# Usage errors.
"$CLI" monitor >/dev/null 2>&1
check "no --usb: usage" [ $? = 2 ]
"$CLI" monitor --usb --count 0 >/dev/null 2>&1
check "--count 0: usage" [ $? = 2 ]
"$CLI" monitor --usb --count >/dev/null 2>&1
check "--count without a number: usage" [ $? = 2 ]

finish

#!/usr/bin/env bash
# kqmeter-cli monitor --serial against the virtual meter on a serial line:
# the port by name (KQMETER_COM1) or by device file, a line paced at 2400
# bit/s with stray bytes and split frames, a busy or missing port, a
# hang-up, Ctrl-C and usage errors.
# usage: monitor_serial.sh CLI SIM DATA_DIR
set -u
CLI=$1
SIM=$2
. "$(dirname "$0")/lib.sh"

monitor() { # tag, KQMETER_COM1, then monitor options; stdout, stderr, status into files
    local tag=$1 com1=$2
    shift 2
    KQMETER_COM1=$com1 timeout 60 "$CLI" monitor "$@" >"$work/$tag.out" 2>"$work/$tag.err"
    echo $? >"$work/$tag.rc"
}


# A light meter on COM1, named by KQMETER_COM1.
start_sim steady --serial 12b --values 19.99,20.00,0L --rate 20 --count 400
pty=$(sim_path steady)
monitor steady "$pty" --serial COM1 --count 6
check_steady_monitor steady 6

# The same meter by its device file; COM1 points nowhere.
monitor bypath /dev/kq-nothing --serial "$pty" --count 2
check "device file: exit 0" [ "$(cat "$work/bypath.rc")" = 0 ]
check "device file: two lines" lines_match "$work/bypath.out" 2 "$time_re"$'\t'

# A real cable's pace (2400 bit/s), stray bytes and frames cut in two.
start_sim paced --serial 12b --values 1234,567 --rate 8 --baud 2400 --stray-bytes \
    --split-every 2 --seed 3
pty=$(sim_path paced)
monitor paced "$pty" --serial COM1 --count 3
check "paced: exit 0" [ "$(cat "$work/paced.rc")" = 0 ]
check "paced: only whole readings" lines_match "$work/paced.out" 3 "$time_re"$'\t(1234|567)\tlux\t'

# A port that another monitor holds, and a port that does not exist.
start_sim busy --serial 12b --values 7 --rate 20
pty=$(sim_path busy)
KQMETER_COM1=$pty "$CLI" monitor --serial COM1 >"$work/holder.out" 2>&1 &
holder=$!
pids+=($holder)
for _ in $(seq 1 200); do
    [ -s "$work/holder.out" ] && break
    sleep 0.05
done
monitor busy "$pty" --serial COM1 --count 1
check "busy: exit 1" [ "$(cat "$work/busy.rc")" = 1 ]
check "busy: says so" grep -q "COM1 ($pty) is in use by another program" "$work/busy.err"
kill -TERM "$holder"
wait "$holder"
check "SIGTERM: exit 0" [ $? = 0 ]
check "holder: lines before it" grep -q $'\t7\tlux\t' "$work/holder.out"
monitor missing /dev/kq-no-such-port --serial COM1 --count 1
check "missing: exit 1" [ "$(cat "$work/missing.rc")" = 1 ]
check "missing: says which port and how to name it" \
    grep -q "COM1 (/dev/kq-no-such-port) does not exist.*KQMETER_COM1" "$work/missing.err"
check "missing: no output" [ ! -s "$work/missing.out" ]

# The meter hangs up mid-stream: the monitor says so and ends.
start_sim hangup --serial 12b --values 42 --rate 20 --hangup-after 20 --start-delay 300
pty=$(sim_path hangup)
monitor hangup "$pty" --serial COM1
check "hang-up: exit 1" [ "$(cat "$work/hangup.rc")" = 1 ]
check "hang-up: frames before it" grep -q $'\t42\tlux\t' "$work/hangup.out"
check "hang-up: told" grep -q "has stopped working" "$work/hangup.err"

# Usage errors.
"$CLI" monitor --serial >/dev/null 2>"$work/noport.err"
check "--serial without a port: usage" [ $? = 2 ]
check "--serial without a port: names the port" grep -qF -- "--serial needs a port" "$work/noport.err"
"$CLI" monitor --usb --serial COM1 >/dev/null 2>&1
check "two links: usage" [ $? = 2 ]

finish

#!/usr/bin/env bash
# The virtual meter's own command line: its options, where it says its line
# is, and the bytes it puts on the line in each frame form.
# usage: monitor_sim.sh CLI SIM DATA_DIR
set -u
SIM=$2
. "$(dirname "$0")/lib.sh"

refuses() { # options the meter must refuse with status 2 and a reason
    "$SIM" "$@" >/dev/null 2>"$work/refused.err"
    [ $? -eq 2 ] && grep -q "kqmeter-sim: " "$work/refused.err"
}

"$SIM" --help >"$work/help.out"
check "--help: status 0" [ $? -eq 0 ]
check "--help: usage on stdout" grep -q "^usage: kqmeter-sim" "$work/help.out"

check "rate 0" refuses --rate 0
check "rate not a number" refuses --rate fast
check "rate beyond 1000" refuses --rate 5000
check "five digits" refuses --values 12345
check "a minus sign" refuses --values 1,-2
check "empty value" refuses --values 1,,2
check "light unit on a two-row frame" refuses --form usb24b --unit lux
check "air unit on a light-meter frame" refuses --unit ms
check "unknown unit" refuses --unit furlong
check "unknown form" refuses --form usb36b
check "count 0" refuses --count 0
check "missing value" refuses --count
check "unknown option" refuses --colour red

# The line: first line of stdout, the path file and the link all agree.
"$SIM" --rate 50 --count 5 --path-file "$work/path" --link "$work/meter" >"$work/run.out" &
pids+=($!)
# The path file and stdout are written one after the other: wait for both.
for _ in $(seq 1 200); do
    [ -s "$work/path" ] && [ -s "$work/run.out" ] && break
    sleep 0.05
done
line=$(head -1 "$work/run.out")
check "path on stdout is a character device" [ -c "$line" ]
check "path file says the same" [ "$(cat "$work/path")" = "$line" ]
check "link points at the line" [ "$(readlink "$work/meter")" = "$line" ]
wait "${pids[-1]}"
check "--count: ends by itself with status 0" [ $? -eq 0 ]

# Bytes on the line, read raw as a program would.
capture() { # form, seconds; prints the bytes as hex, one per line
    local form=$1
    "$SIM" --form "$form" --values 1.234 --rate 20 --path-file "$work/$form.path" >/dev/null &
    local pid=$!
    pids+=($pid)
    for _ in $(seq 1 200); do
        [ -s "$work/$form.path" ] && break
        sleep 0.05
    done
    local p
    p=$(cat "$work/$form.path")
    stty -F "$p" raw -echo 2>/dev/null
    timeout 1 cat "$p" | od -An -v -tx1 | tr -s ' ' '\n' | grep -v '^$'
    kill "$pid" 2>/dev/null
}

capture serial12b >"$work/s12.hex"
# 14 bytes whose high digits run 1 to e in order.
check "serial 12B: numbered bytes" bash -c \
    "tr '\n' ' ' <'$work/s12.hex' | grep -Eq '1. 2. 3. 4. 5. 6. 7. 8. 9. a. b. c. d. e.'"

capture serial24b >"$work/s24.hex"
# LF, nine data bytes, CR.
check "serial 24B: LF, nine bytes, CR" bash -c \
    "tr '\n' ' ' <'$work/s24.hex' | grep -Eq '0a( [0-9a-f][0-9a-f]){9} 0d'"

capture usb12b >"$work/u12.hex"
check "USB 12B: frames end in CR LF" bash -c "tr '\n' ' ' <'$work/u12.hex' | grep -q '0d 0a'"

finish

#!/usr/bin/env bash
# kqmeter-sim's serial options: which values it takes and which it refuses.
# Arguments: CLI SIM DATA_DIR
set -uo pipefail
sim=$2
failed=0
expect() { # status wanted, then the options
    local want=$1
    shift
    "$sim" --count 1 --rate 1000 "$@" >/dev/null 2>&1
    local got=$?
    if [ "$got" != "$want" ]; then
        echo "FAIL: kqmeter-sim $* exited $got, want $want" >&2
        failed=1
    fi
}
expect 0 --serial 12b
expect 0 --serial 24b
expect 0 --serial 12b --baud 2400 --split-every 1
expect 0 --serial 24b --baud 19200 --stray-bytes
expect 2 --serial 36b
expect 2 --serial
expect 2 --serial 24b --unit lux   # a two-row frame carries no light unit
expect 2 --serial 12b --unit ms
expect 2 --baud 0
expect 2 --baud 49
expect 2 --baud 4000001
expect 2 --baud fast
expect 2 --split-every 0
exit $failed

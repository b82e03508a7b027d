#!/usr/bin/env bash
# kqmeter-cli decode takes the frame texts the window takes: only the 32 positions a
# decoder reads are checked, and a frame stopped by a bad character has still lit the
# connection indicator, as on the window.
# Arguments: CLI SIM DATA_DIR
set -uo pipefail
cli=$1
. "$(dirname "$0")/lib.sh"

lux1999=00D7D7DF0600000000800000000000DA
fixed=020000000000000000000000000000DA # the third frame form: over USB no decoder takes it
bad5=00D7g7DF0600000000800000000000DA  # 'g' at position 5, a light-meter frame otherwise

# Each row: what | frame lines (space-separated) | link | exit status | expectations
# ("LINE KEY JSON-VALUE", compared in compact form; LINE 0 means "no more lines than").
rows=(
    "junk after position 32|${lux1999}xyz ${lux1999}-_+|usb|0|1 value \"19.99\"|2 digits [\"1\",\"9\",\"9\",\"9\"]|2 minText \"19.99\"|0 lines 2"
    "lower case after position 32|${lux1999}abc|usb|0|1 value \"19.99\"|1 connected true"
    "a space after position 32|${lux1999} 1|usb|0|1 value \"19.99\""
    "bad character among the 32|$bad5|usb|2|1 connected true|1 error \"'g' is not a valid integer value\"|1 value \"\"|1 row null"
    "bad frame, then one no decoder takes|$bad5 $fixed|usb|2|1 connected true|2 decoder null|2 connected true"
    "bad frame after a reading keeps the reading|$lux1999 $bad5|usb|2|2 value \"19.99\"|2 verdict \"Pass\"|2 connected true"
    "bad character at position 33 and on|${lux1999}g|hid|0|1 value \"19.99\""
)

for row in "${rows[@]}"; do
    IFS='|' read -r -a f <<<"$row"
    what=${f[0]} frames=${f[1]} link=${f[2]} want=${f[3]}
    tr ' ' '\n' <<<"$frames" >"$work/frames"
    "$cli" decode --link "$link" "$work/frames" >"$work/out" 2>"$work/err"
    status=$?
    if [ "$status" -ne "$want" ]; then
        fail "$what: exit $status, expected $want ($(cat "$work/err"))"
        continue
    fi
    check_json "$what" "$work/out" "${f[@]:4}"
done

finish

#!/usr/bin/env bash
# kqmeter-cli decode: frames in, one JSON line per frame out, bad lines reported.
# Arguments: CLI SIM DATA_DIR
set -uo pipefail
cli=$1
. "$(dirname "$0")/lib.sh"


# 32-position frames: positions 3..10 the main-row patterns, 19 the unit, 31/32 "DA".
lux1999=00D7D7DF0600000000800000000000DA
overload=0000B0B70000000000400000000000DA
blank=000000000000000000000000000000DA
tworow=03603FAD6B0000000000000000000000
fixed=020000000000000000000000000000DA
lux100=00B7B7060000000000800000000000DA

# 1. A lux reading, twice: MIN/MAX enter on the second; overload fails; CR and blank lines.
printf '%s\n\n%s\r\n%s\n' "$lux1999" "$lux1999" "$overload" >"$work/frames"
"$cli" decode "$work/frames" >"$work/out" 2>"$work/err"
status=$?
[ $status -eq 0 ] || fail "good frames: exit $status ($(cat "$work/err"))"
[ "$(wc -l <"$work/out")" -eq 3 ] || fail "good frames: expected 3 lines, got $(wc -l <"$work/out")"
check_json "good frames" "$work/out" \
    '1 decoder "12B"' '1 digits ["1","9","9","9"]' '1 value "19.99"' '1 reading 1999' \
    '1 pointState 2' '1 unit "lux"' '1 minText ""' '1 maxUnit "lux"' \
    '1 shown ["LUX","LcdP2","T_dPoint1","T_dPoint2","usb1"]' \
    '1 verdict "Pass"' '1 connected true' \
    "2 frame \"$lux1999\"" '2 minText "19.99"' '2 maxText "19.99"' \
    '3 value "0L"' '3 reading 2000' '3 verdict "Fail"' '3 bar 20' '3 minUnit "fc"'

# 2. Standard input, the link's selection, frames no decoder takes.
printf '%s\n%s\n%s\n' "$tworow" "$fixed" "$blank" | "$cli" decode >"$work/usb" 2>"$work/err"
[ $? -eq 0 ] || fail "usb link: nonzero exit"
check_json "usb link" "$work/usb" \
    '1 decoder "24B"' '1 value "usb.1"' '2 decoder null' '3 decoder "12B"' \
    '3 digits ["","","",""]' '3 value ""' '3 reading 0'
printf '%s\n' "$fixed" | "$cli" decode --link hid >"$work/hid"
check_json "hid fixed display" "$work/hid" '1 decoder "36B"' '1 digits ["u","s","b","1"]' \
    '1 connected false'

# 3. Bad lines: reported with their number, exit status 2 at the end; each still prints
#    what the window shows after it (the decoder stops after the connection indicator).
printf '%s\n%s\n%s\n%s\n' "$lux1999" "${lux1999:0:10}g${lux1999:11}" \
    "$(echo "${lux1999:0:30}" | tr 'D' 'd')DA" "$overload" >"$work/bad"
"$cli" decode "$work/bad" >"$work/out" 2>"$work/err"
status=$?
[ $status -eq 2 ] || fail "bad lines: exit $status, expected 2"
[ "$(wc -l <"$work/out")" -eq 4 ] || fail "bad lines: expected 4 JSON lines, got $(wc -l <"$work/out")"
grep -q "line 2: 'g' is not a valid integer value" "$work/err" || fail "bad lines: no report of line 2"
grep -q "line 3: 'd' is not a valid integer value" "$work/err" || fail "bad lines: no report of line 3"
check_json "frame after bad lines" "$work/out" '2 error "'"'g'"' is not a valid integer value"' \
    '4 value "0L"'
head -c 5000 /dev/zero | tr '\0' '0' >"$work/long"
"$cli" decode "$work/long" >"$work/out" 2>"$work/err"
[ $? -eq 2 ] || fail "overlong line: expected exit 2"
[ -s "$work/out" ] && fail "overlong line: printed output"

# 4. Limits as if typed: a reading of 100 with high 100 passes, with high 99.5 fails.
printf '%s\n' "$lux100" | "$cli" decode --high 100 --low 100 >"$work/out"
check_json "limits 100/100" "$work/out" '1 value "100"' '1 verdict "Pass"'
printf '%s\n' "$lux100" | "$cli" decode --high 99.5 >"$work/out"
check_json "high 99.5" "$work/out" '1 verdict "Fail"'
printf '%s\n' "$lux100" | "$cli" decode --low abc >"$work/out" 2>"$work/err"
[ $? -eq 2 ] || fail "--low abc: expected exit 2"
grep -q "Numerical input errors" "$work/err" || fail "--low abc: no message"
# the edit falls back to the accepted -2000, so the reading still passes
check_json "--low abc" "$work/out" '1 verdict "Pass"'

# 5. Usage errors.
"$cli" decode --link serial </dev/null >/dev/null 2>&1
[ $? -eq 2 ] || fail "unknown link: expected exit 2"
"$cli" decode "$work/does-not-exist" </dev/null >/dev/null 2>&1
[ $? -eq 1 ] || fail "missing file: expected exit 1"

finish

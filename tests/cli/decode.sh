#!/usr/bin/env bash
# kqmeter-cli decode: frames in, one JSON line per frame out, bad lines reported.
# Arguments: CLI SIM DATA_DIR
set -uo pipefail
cli=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# The value of a top-level member of a JSON line (strings, numbers, null, booleans, arrays).
member() {
    python3 -c 'import json,sys; v=json.loads(sys.argv[1])[sys.argv[2]]; print(json.dumps(v, separators=(",", ":")))' "$1" "$2"
}

expect_member() { # line key expected description
    local got
    got=$(member "$1" "$2") || { fail "$4: line is not JSON: $1"; return; }
    [ "$got" = "$3" ] || fail "$4: $2 is $got, expected $3"
}

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
l1=$(sed -n 1p "$work/out"); l2=$(sed -n 2p "$work/out"); l3=$(sed -n 3p "$work/out")
expect_member "$l1" decoder '"12B"' "first frame"
expect_member "$l1" digits '["1","9","9","9"]' "first frame"
expect_member "$l1" value '"19.99"' "first frame"
expect_member "$l1" reading '1999' "first frame"
expect_member "$l1" pointState '2' "first frame"
expect_member "$l1" unit '"lux"' "first frame"
expect_member "$l1" minText '""' "first frame"
expect_member "$l1" maxUnit '"lux"' "first frame"
expect_member "$l1" shown '["LUX","LcdP2","T_dPoint1","T_dPoint2","usb1"]' "first frame"
expect_member "$l1" verdict '"Pass"' "first frame (limits 2000/-2000 of the built range)"
expect_member "$l1" connected 'true' "first frame"
expect_member "$l2" frame "\"$lux1999\"" "second frame (CR stripped)"
expect_member "$l2" minText '"19.99"' "second frame"
expect_member "$l2" maxText '"19.99"' "second frame"
expect_member "$l3" value '"0L"' "overload"
expect_member "$l3" reading '2000' "overload"
expect_member "$l3" verdict '"Fail"' "overload"
expect_member "$l3" bar '20' "overload"
expect_member "$l3" minUnit '"fc"' "overload"

# 2. Standard input, the link's selection, frames no decoder takes.
printf '%s\n%s\n%s\n' "$tworow" "$fixed" "$blank" | "$cli" decode >"$work/usb" 2>"$work/err"
[ $? -eq 0 ] || fail "usb link: nonzero exit"
expect_member "$(sed -n 1p "$work/usb")" decoder '"24B"' "usb two-row"
expect_member "$(sed -n 1p "$work/usb")" value '"usb.1"' "usb two-row"
expect_member "$(sed -n 2p "$work/usb")" decoder 'null' "usb fixed-display frame"
expect_member "$(sed -n 3p "$work/usb")" decoder '"12B"' "usb blank 12B"
expect_member "$(sed -n 3p "$work/usb")" digits '["","","",""]' "usb blank 12B"
expect_member "$(sed -n 3p "$work/usb")" value '""' "usb blank 12B"
expect_member "$(sed -n 3p "$work/usb")" reading '0' "usb blank 12B keeps the reading"
printf '%s\n' "$fixed" | "$cli" decode --link hid >"$work/hid"
expect_member "$(cat "$work/hid")" decoder '"36B"' "hid fixed display"
expect_member "$(cat "$work/hid")" digits '["u","s","b","1"]' "hid fixed display"
expect_member "$(cat "$work/hid")" connected 'false' "hid fixed display"

# 3. Bad lines: reported with their number, skipped, exit status 2 at the end.
printf '%s\n%s\n%s\n%s\n' "$lux1999" "${lux1999:0:10}g${lux1999:11}" \
    "$(echo "$lux1999" | tr 'D' 'd')" "$overload" >"$work/bad"
"$cli" decode "$work/bad" >"$work/out" 2>"$work/err"
status=$?
[ $status -eq 2 ] || fail "bad lines: exit $status, expected 2"
[ "$(wc -l <"$work/out")" -eq 2 ] || fail "bad lines: expected 2 JSON lines, got $(wc -l <"$work/out")"
grep -q "line 2: 'g' is not a valid integer value" "$work/err" || fail "bad lines: no report of line 2"
grep -q "line 3: 'd' is not a valid integer value" "$work/err" || fail "bad lines: no report of line 3"
expect_member "$(sed -n 2p "$work/out")" value '"0L"' "frame after bad lines"
head -c 5000 /dev/zero | tr '\0' '0' >"$work/long"
"$cli" decode "$work/long" >"$work/out" 2>"$work/err"
[ $? -eq 2 ] || fail "overlong line: expected exit 2"
[ -s "$work/out" ] && fail "overlong line: printed output"

# 4. Limits as if typed: a reading of 100 with high 100 passes, with high 99.5 fails.
printf '%s\n' "$lux100" | "$cli" decode --high 100 --low 100 >"$work/out"
expect_member "$(cat "$work/out")" value '"100"' "limit 100 frame"
expect_member "$(cat "$work/out")" verdict '"Pass"' "limits 100/100"
printf '%s\n' "$lux100" | "$cli" decode --high 99.5 >"$work/out"
expect_member "$(cat "$work/out")" verdict '"Fail"' "high 99.5"
printf '%s\n' "$lux100" | "$cli" decode --low abc >"$work/out" 2>"$work/err"
[ $? -eq 2 ] || fail "--low abc: expected exit 2"
grep -q "Numerical input errors" "$work/err" || fail "--low abc: no message"
expect_member "$(cat "$work/out")" verdict '"Pass"' "--low abc falls back to the accepted -2000"

# 5. Usage errors.
"$cli" decode --link serial </dev/null >/dev/null 2>&1
[ $? -eq 2 ] || fail "unknown link: expected exit 2"
"$cli" decode "$work/does-not-exist" </dev/null >/dev/null 2>&1
[ $? -eq 1 ] || fail "missing file: expected exit 1"

if [ $failures -ne 0 ]; then
    echo "$failures failure(s)" >&2
    exit 1
fi
echo "decode: all checks passed"

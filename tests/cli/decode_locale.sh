#!/usr/bin/env bash
# kqmeter-cli decode under locales the machine may not have: the reading keeps its
# decimal point and the log's time its separator.
# Arguments: CLI SIM DATA_DIR
set -uo pipefail
cli=$1
. "$(dirname "$0")/lib.sh"

# 19.99 lux twice: the second frame enters MIN/MAX.
lux1999=00D7D7DF0600000000800000000000DA
printf '%s\n%s\n' "$lux1999" "$lux1999" >"$work/frames"

# Each row: what, the decimal and the time separator expected, then the environment
# the command runs under.
run_row() {
    local what=$1 point=$2 colon=$3 env_args=$4
    # shellcheck disable=SC2086
    env -u LC_ALL -u LC_NUMERIC -u LC_TIME -u LANGUAGE $env_args \
        "$cli" decode --high 20 --low "19${point}98" "$work/frames" >"$work/out" 2>"$work/err"
    status=$?
    [ $status -eq 0 ] || { fail "$what: exit $status ($(cat "$work/err"))"; return; }
    python3 - "$what" "$work/out" "$point" "$colon" <<'PY' || failed=$((failed + 1))
import json, re, sys
what, path, point, colon = sys.argv[1:5]
lines = [json.loads(l) for l in open(path, encoding="utf-8").read().splitlines()]
bad = []
if len(lines) != 2:
    bad.append(f"{len(lines)} lines")
else:
    last = lines[1]
    text = "19" + point + "99"
    want = {"value": text, "reading": 1999, "measure": text, "maxText": text,
            "minText": text, "verdict": "Pass"}
    for key, value in want.items():
        if last.get(key) != value:
            bad.append(f"{key} is {last.get(key)!r}, expected {value!r}")
    row = last.get("row") or {}
    if row.get("Value") != text:
        bad.append(f"logged value {row.get('Value')!r}")
    c = re.escape(colon)
    if not re.fullmatch(f"[0-2][0-9]{c}[0-5][0-9]{c}[0-5][0-9]", row.get("Time") or ""):
        bad.append(f"logged time {row.get('Time')!r}")
for b in bad:
    print(f"FAIL: {what}: {b}", file=sys.stderr)
sys.exit(1 if bad else 0)
PY
}

while IFS='|' read -r what point colon env_args; do
    run_row "$what" "$point" "$colon" "$env_args"
done <<'ROWS'
LANG names a locale this machine may not have|.|:|LANG=en_US.UTF-8
LANG names a locale no machine has|.|:|LANG=xx_NOWHERE.UTF-8
LC_ALL names a locale no machine has|.|:|LC_ALL=xx_NOWHERE.UTF-8
LC_NUMERIC and LC_TIME name missing locales|.|:|LANG=C.UTF-8 LC_NUMERIC=xx_NOWHERE LC_TIME=xx_NOWHERE
the C locale|.|:|LANG=C
nothing set|.|:|
ROWS

# A locale that writes "19,99" and "10.15.02", built into a private folder (LOCPATH)
# from the system's locale sources.
# glibc keeps the folder list of every lookup under LOCPATH for the life of the process
# (a few bytes, inside the C library); a sanitizer build is told that this is no leak
# of the program's.
mkdir -p "$work/loc"
printf 'leak:__argz_add_sep\nleak:__argz_create_sep\n' >"$work/glibc-locale.supp"
lsan="LSAN_OPTIONS=suppressions=$work/glibc-locale.supp:print_suppressions=0"
if localedef -i fi_FI -f UTF-8 "$work/loc/fi_FI.UTF-8" >/dev/null 2>&1; then
    run_row "Finnish conventions" "," "." "$lsan LOCPATH=$work/loc LANG=fi_FI.UTF-8"
    run_row "Finnish numbers, C times" "," ":" \
        "$lsan LOCPATH=$work/loc LANG=C LC_NUMERIC=fi_FI.UTF-8"
else
    echo "note: no locale sources for fi_FI here; the comma locale is not tried"
fi

finish

# What the command-line tests share; each test sources it first:
#   . "$(dirname "$0")/lib.sh"
# A scratch folder $work, removed at the end; the processes a test adds to
# `pids`, ended at the end (with $end_signal, TERM unless the test sets it;
# a function before_cleanup, where the test has one, runs first),
# also when the test fails or is interrupted; the counts of `check`, `check_json` and `fail`.
work=$(mktemp -d)
pids=()
passed=0
failed=0
end_signal=TERM

cleanup() {
    if declare -F before_cleanup >/dev/null; then before_cleanup; fi
    for pid in "${pids[@]}"; do kill -"$end_signal" "$pid" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

check() { # name, then a command that must succeed
    local name=$1
    shift
    if "$@"; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAIL: $name" >&2
    fi
}

fail() { # what went wrong
    echo "FAIL: $*" >&2
    failed=$((failed + 1))
}

# Checks members of the JSON lines an output file holds, one count for all of them. Each
# expectation is "LINE KEY JSON-VALUE", the value compared in compact form (a missing key
# reads as null); "0 lines N" checks that the file has no more than N lines.
check_json() { # what, output file, expectations...
    local what=$1 file=$2
    shift 2
    if python3 - "$what" "$file" "$@" <<'PY'; then
import json, sys
what, path, expectations = sys.argv[1], sys.argv[2], sys.argv[3:]
lines = open(path, encoding="utf-8").read().splitlines()
bad = 0
for e in expectations:
    number, key, expected = e.split(" ", 2)
    if number == "0":
        if len(lines) > int(expected):
            print(f"FAIL: {what}: {len(lines)} lines, expected at most {expected}", file=sys.stderr)
            bad += 1
        continue
    try:
        got = json.dumps(json.loads(lines[int(number) - 1]).get(key), separators=(",", ":"))
    except Exception as error:
        print(f"FAIL: {what}: line {number}: {error!r}", file=sys.stderr)
        bad += 1
        continue
    if got != expected:
        print(f"FAIL: {what}: line {number}: {key} is {got}, expected {expected}", file=sys.stderr)
        bad += 1
sys.exit(1 if bad else 0)
PY
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
    fi
}

# Starts a virtual meter ($SIM) in this shell, so that the cleanup ends it;
# `pty=$(sim_path TAG)` then waits for the path of its line.
start_sim() { # tag, then the meter's options
    local tag=$1
    shift
    rm -f "$work/$tag.path"
    "$SIM" --path-file "$work/$tag.path" "$@" >/dev/null 2>"$work/$tag.simerr" &
    pids+=($!)
}
sim_path() { # tag
    for _ in $(seq 1 200); do
        [ -s "$work/$1.path" ] && { head -1 "$work/$1.path"; return 0; }
        sleep 0.05
    done
    echo "virtual meter did not start" >&2
    return 1
}

# The meter most tests read: 19.99, 20.00 and 0L lux at 20 frames a second, on the
# line the tool's USB link is told to take.
start_usb_meter() {
    start_sim sim --values 19.99,20.00,0L --unit lux --rate 20
    KQMETER_BRIDGE_DEVICES=$(sim_path sim) || exit 1
    export KQMETER_BRIDGE_DEVICES
}

# What monitor prints, one line a frame: time, value, unit and verdict.
time_re='^[0-2][0-9]:[0-5][0-9]:[0-5][0-9]'
lines_match() { # file, count, extended regex every line must match
    [ "$(wc -l <"$1")" -eq "$2" ] && ! grep -Evq "$3" "$1"
}
# The monitor run TAG (its .out, .err and .rc in $work) of a meter sending
# 19.99, 20.00 and 0L lux: COUNT well-formed lines with each value, and no word on stderr.
check_steady_monitor() { # tag, count
    local out=$work/$1.out
    check "$1: exit 0" [ "$(cat "$work/$1.rc")" = 0 ]
    check "$1: $2 well-formed lines" \
        lines_match "$out" "$2" "$time_re"$'\t(19\\.99|20\\.00|0L)\tlux\t(Pass|Fail)$'
    check "$1: every value of the meter appears" \
        bash -c "grep -q \$'\t19.99\t' '$out' && grep -q \$'\t20.00\t' '$out' && grep -q \$'\t0L\t' '$out'"
    check "$1: nothing on stderr" [ ! -s "$work/$1.err" ]
}

# The closing line and the test's status.
finish() {
    if [ "$passed" -gt 0 ]; then
        echo "$passed passed, $failed failed"
    elif [ "$failed" -eq 0 ]; then
        echo "all checks passed"
    else
        echo "$failed failure(s)" >&2
    fi
    [ "$failed" -eq 0 ]
}

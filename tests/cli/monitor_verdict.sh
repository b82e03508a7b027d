#!/usr/bin/env bash
# kqmeter-cli monitor --usb prints for each frame only what that frame decided: a
# light-meter reading its Pass or Fail, a frame without a reading (the two-row family,
# a blank display) no verdict at all, never the verdict of an earlier reading.
# usage: monitor_verdict.sh CLI SIM DATA_DIR
set -u
CLI=$1
. "$(dirname "$0")/lib.sh"

# A meter on a pseudo-terminal that sends the given frames in turn, over and over: one
# 32-byte read per frame, each byte carrying one hexadecimal position in its low nibble.
cat >"$work/meter.py" <<'PY'
import os, sys, time, tty
frames, path_file = sys.argv[1].split(","), sys.argv[2]
master, slave = os.openpty()
tty.setraw(slave)  # bytes pass unchanged whenever the monitor opens the line
with open(path_file + ".tmp", "w") as f:
    f.write(os.ttyname(slave) + "\n")
os.rename(path_file + ".tmp", path_file)
deadline = time.monotonic() + 120
while time.monotonic() < deadline:
    for frame in frames:
        os.write(master, bytes(int(c, 16) for c in frame))
        time.sleep(0.1)
PY

lux1999=00D7D7DF0600000000800000000000DA  # 19.99 lux: passes the limits -2000..2000
overload=0000B0B70000000000400000000000DA # 0L: fails
tworow=03603FAD6B0000000000000000000000   # the two-row family: no judgement
blank=000000000000000000000000000000DA    # a light-meter frame showing no number

# Each row: what | frames the meter repeats | lines to read
rows=(
    "reading, then a two-row frame|$lux1999,$tworow|8"
    "failing reading, then a blank display|$overload,$blank|8"
    "all four in turn|$lux1999,$tworow,$overload,$blank|12"
)
n=0
for row in "${rows[@]}"; do
    IFS='|' read -r what frames count <<<"$row"
    n=$((n + 1))
    python3 "$work/meter.py" "$frames" "$work/path$n" &
    pids+=($!)
    for _ in $(seq 1 200); do
        [ -s "$work/path$n" ] && break
        sleep 0.05
    done
    [ -s "$work/path$n" ] || { fail "$what: the scripted meter did not start"; continue; }
    KQMETER_BRIDGE_DEVICES=$(cat "$work/path$n") timeout 60 "$CLI" monitor --usb --count "$count" \
        >"$work/out$n" 2>"$work/err$n"
    status=$?
    kill "${pids[-1]}" 2>/dev/null
    [ $status -eq 0 ] || { fail "$what: exit $status ($(cat "$work/err$n"))"; continue; }
    # Every line: time, value, unit, verdict. A verdict belongs to a light-meter reading.
    python3 - "$what" "$work/out$n" "$count" "$frames" <<'PY' || failed=$((failed + 1))
import sys
what, path, count, frames = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
lines = [l.split("\t") for l in open(path, encoding="utf-8").read().splitlines()]
bad = []
if len(lines) != count:
    bad.append(f"{len(lines)} lines, expected {count}")
expected = {"19.99": "Pass", "0L": "Fail"}
seen = set()
for fields in lines:
    if len(fields) != 4:
        bad.append(f"line {fields!r} has {len(fields)} fields")
        continue
    value, verdict = fields[1], fields[3]
    want = expected.get(value, "")
    seen.add(value if value in expected else "other")
    if verdict != want:
        bad.append(f"value {value!r} unit {fields[2]!r}: verdict {verdict!r}, expected {want!r}")
# both kinds of frame of the row must have been read
kinds = {"00D7D7DF0600000000800000000000DA": "19.99", "0000B0B70000000000400000000000DA": "0L"}
for frame in frames.split(","):
    if kinds.get(frame, "other") not in seen:
        bad.append(f"no line for frame {frame}")
for b in bad:
    print(f"FAIL: {what}: {b}", file=sys.stderr)
sys.exit(1 if bad else 0)
PY
done

finish

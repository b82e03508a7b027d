#!/usr/bin/env bash
# kqmeter-cli decode with the reading log: the row, the chart point and the page
# that each frame's reading produced, under the repeat filter and the limit.
# Arguments: CLI SIM DATA_DIR
set -uo pipefail
cli=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A 12B frame showing one digit on the right, in lux: the digit's two pattern
# characters go to positions 3 and 4.
frame() { printf '00%s00000000000000800000000000DA\n' "$1"; }
five=$(frame D3)
six=$(frame F3)
blank=$(frame 00)

{ echo "$five"; echo "$five"; echo "$five"; echo "$six"; echo "$blank"; } >"$work/frames"
"$cli" decode --repeat off "$work/frames" >"$work/repeat-off.json" || exit 1
for i in $(seq 1 150); do echo "$five"; done >"$work/many"
"$cli" decode --max-records 120 "$work/many" >"$work/limited.json" || exit 1
"$cli" decode --repeat maybe "$work/frames" >/dev/null 2>&1 && { echo "FAIL: bad --repeat accepted"; exit 1; }

python3 - "$work" <<'PY'
import json, sys
work = sys.argv[1]
def lines(name):
    return [json.loads(l) for l in open(f"{work}/{name}", encoding="utf-8")]
failures = 0
def expect(what, got, want):
    global failures
    if got != want:
        print(f"FAIL: {what}: got {got!r}, want {want!r}", file=sys.stderr)
        failures += 1

# Repeat off, 5, 5, 5, 6: rows No 1 and No 4 (numbers count dropped repeats),
# a chart point for every reading, nothing at all for a blank display.
out = lines("repeat-off.json")
expect("row numbers", [l["row"] and l["row"]["No"] for l in out], [1, None, None, 4, None])
expect("row values", [l["row"]["Value"] for l in out if l["row"]], ["5", "6"])
expect("row units", [l["row"]["Unit"] for l in out if l["row"]], ["lux", "lux"])
expect("points", [l["point"] for l in out], [5, 5, 5, 6, None])
t = out[0]["row"]["Time"]
expect("time form", (len(t), t[2], t[5], t.replace(":", "").isdigit()), (8, ":", ":", True))

# Limit 120: rows and points stop after the 120th. The seed point counts, so the
# 100th reading already makes a second page.
out = lines("limited.json")
expect("rows under the limit", sum(1 for l in out if l["row"]), 120)
expect("last numbered row", max(l["row"]["No"] for l in out if l["row"]), 120)
expect("points under the limit", sum(1 for l in out if l["point"] is not None), 120)
expect("pages", [out[i]["page"] for i in (0, 98, 99, 100, 149)], [1, 1, 2, 2, 2])
sys.exit(1 if failures else 0)
PY

#!/usr/bin/env bash
# kqmeter-cli monitor --format: tsv lines of four fields, json objects with the reading's
# fields, csv rows that Python's csv module reads with the CSV log's header.
# usage: monitor_format.sh CLI SIM DATA_DIR
set -u
CLI=$1
SIM=$2
. "$(dirname "$0")/lib.sh"
end_signal=KILL

start_usb_meter

for format in tsv json csv; do
    timeout 20 "$CLI" monitor --usb --count 6 --format $format >"$work/$format.out" 2>"$work/$format.err"
    check "$format: exit 0" [ $? = 0 ]
done
check "tsv: four tab-separated fields a line" \
    awk -F'\t' 'NF != 4 || $3 != "lux" { exit 1 } END { exit NR != 6 }' "$work/tsv.out"
check "json and csv: the same readings, numbered, with their moment" python3 - "$work" <<'PY'
import csv, json, re, sys
work = sys.argv[1]
values = {"19.99": 19.99, "20.00": 20.0, "0L": None}
iso = re.compile(r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d$")
js = [json.loads(l) for l in open(work + "/json.out")]
raw = open(work + "/csv.out", newline="").read()
rows = list(csv.reader(raw.splitlines(keepends=True)))
ok = len(js) == 6 and rows[0] == ["no", "datetime", "time", "value", "unit", "verdict", "text"]
ok = ok and raw.count("\r\n") == 7 and len(rows) == 7
for i, m in enumerate(js, 1):
    ok = ok and m["no"] == i and m["unit"] == "lux" and m["value"] == values[m["text"]]
    ok = ok and iso.match(m["datetime"] or "") is not None
for i, r in enumerate(rows[1:], 1):
    no, dt, time, value, unit, verdict, text = r
    want = values[text]
    ok = ok and int(no) == i and unit == "lux" and dt[11:19] == time and iso.match(dt)
    ok = ok and (value == "" if want is None else float(value) == want)
if not ok:
    print(js, rows, file=sys.stderr)
sys.exit(0 if ok else 1)
PY
"$CLI" monitor --usb --format xml --count 1 2>"$work/bad.err"
check "an unknown format is refused (2)" [ $? = 2 ]

finish

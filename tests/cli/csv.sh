#!/usr/bin/env bash
# CSV logs as the tools people analyse readings with see them: kqmeter-cli
# convert to and from .csv, read back with Python's csv module and, when it is
# installed, with LibreOffice; and kqmeter-cli stats against Python's own
# statistics of the same readings.
# Arguments: CLI SIM DATA_DIR
set -uo pipefail
cli=$1
data=$3/files
. "$(dirname "$0")/lib.sh"

# Rows as the program logs them (over midnight, a comma locale, an overload,
# another unit, a west offset) and as another program may have left them.
printf '%s\r\n' \
    'no,datetime,time,value,unit,verdict,text' \
    '1,2026-12-31T23:59:59.900+01:00,23:59:59,12.5,lux,Pass,"12,5"' \
    '2,2027-01-01T00:00:00.100+01:00,00:00:00,,lux,Fail,0L' \
    '3,2027-01-01T00:00:01.000-05:30,00:00:01,-0.050,fc,,-0.050' \
    '4,,10:15:02,1999,lux,,1999' \
    '5,,"a""b",,"x,y",,"q""uote"' >"$work/in.csv"

"$cli" convert "$work/in.csv" "$work/out.csv" >"$work/stdout" 2>"$work/stderr" ||
    fail "convert in.csv out.csv: exit $? ($(cat "$work/stderr"))"
grep -qx "Save table to specified file: $work/out.csv Scuss!" "$work/stdout" ||
    fail "convert to csv: no success line"
cmp -s "$work/in.csv" "$work/out.csv" || fail "a CSV log read and written again changed"

"$cli" convert "$data/five_rows.txt" "$work/five.CSV" >/dev/null 2>"$work/stderr" ||
    fail "convert five_rows.txt five.CSV: $(cat "$work/stderr")"
"$cli" convert "$work/in.csv" "$work/back.txt" >/dev/null 2>"$work/stderr" ||
    fail "convert in.csv back.txt: $(cat "$work/stderr")"

python3 - "$work" <<'PY' || fail "python's csv module reads other values than were logged"
import csv, sys
work = sys.argv[1]
def rows(name):
    raw = open(f"{work}/{name}", "rb").read()
    assert not raw.startswith(b"\xef\xbb\xbf"), f"{name}: a byte-order mark"
    assert raw.count(b"\r\n") == raw.count(b"\n"), f"{name}: a line end that is not CRLF"
    with open(f"{work}/{name}", newline="", encoding="utf-8") as f:
        return list(csv.reader(f))
header = ["no", "datetime", "time", "value", "unit", "verdict", "text"]
expected = [
    header,
    ["1", "2026-12-31T23:59:59.900+01:00", "23:59:59", "12.5", "lux", "Pass", "12,5"],
    ["2", "2027-01-01T00:00:00.100+01:00", "00:00:00", "", "lux", "Fail", "0L"],
    ["3", "2027-01-01T00:00:01.000-05:30", "00:00:01", "-0.050", "fc", "", "-0.050"],
    ["4", "", "10:15:02", "1999", "lux", "", "1999"],
    ["5", "", 'a"b', "", "x,y", "", 'q"uote'],
]
got = rows("out.csv")
assert got == expected, f"out.csv: {got}"
for r in got[1:]:
    if r[3]:
        float(r[3])  # a plain number whatever the locale
five = rows("five.CSV")
assert five[0] == header, five[0]
assert five[1:] == [[str(10 + i), "", f"12:00:0{i - 1}", f"1.{i}", "lux", "", f"1.{i}"]
                    for i in range(1, 6)], five
# The text form keeps the four fields; the moment stays in the CSV only.
text = open(f"{work}/back.txt", "rb").read().decode()
assert text.startswith("No\tTime\tValue\tUnit\r\n1\t23:59:59\t12,5\tlux\r\n"), text
PY

# stats against Python's statistics of the same rows (lux has 12.5 and 1999;
# the overload is no number; fc and "x,y" are other units).
"$cli" stats "$work/in.csv" >"$work/stats.json" 2>"$work/stderr" ||
    fail "stats: exit $? ($(cat "$work/stderr"))"
[ "$(wc -l <"$work/stats.json")" = 1 ] || fail "stats: not one line"
python3 - "$work/stats.json" <<'PY' || fail "stats differs from python's statistics"
import json, math, statistics, sys
s = json.load(open(sys.argv[1]))
xs = [12.5, 1999.0]
assert list(s) == ["count", "mean", "stddev", "min", "max", "unit", "other_units"], list(s)
assert s["count"] == 2 and s["unit"] == "lux", s
assert math.isclose(s["mean"], statistics.mean(xs), rel_tol=1e-12), s
assert math.isclose(s["stddev"], statistics.stdev(xs), rel_tol=1e-12), s
assert s["min"] == min(xs) and s["max"] == max(xs), s
assert s["other_units"] == {"fc": 1, "x,y": 1}, s
PY
"$cli" stats "$work/missing.csv" >/dev/null 2>"$work/stderr"
[ $? -eq 1 ] || fail "stats of a missing file: exit status"
grep -qx 'Failed to Load File!' "$work/stderr" || fail "stats of a missing file: message"

# LibreOffice opens it without a wizard: numbers are numbers, texts stay texts.
if command -v soffice >/dev/null; then
    timeout 180 soffice -env:UserInstallation="file://$work/lo" --headless \
        --infilter="CSV:44,34,76,1" --convert-to fods --outdir "$work/lo-out" "$work/out.csv" \
        >"$work/lo.log" 2>&1 || fail "soffice --convert-to fods: $(cat "$work/lo.log")"
    python3 - "$work/lo-out/out.fods" <<'PY' || fail "LibreOffice reads other values than were logged"
import sys, xml.etree.ElementTree as ET
ns = {"table": "urn:oasis:names:tc:opendocument:xmlns:table:1.0",
      "office": "urn:oasis:names:tc:opendocument:xmlns:office:1.0",
      "text": "urn:oasis:names:tc:opendocument:xmlns:text:1.0"}
T, O = "{%s}" % ns["table"], "{%s}" % ns["office"]
sheet = ET.parse(sys.argv[1]).getroot().find(".//table:table", ns)
rows = []
for row in sheet.findall("table:table-row", ns):
    cells = []
    for cell in row:
        for _ in range(int(cell.get(T + "number-columns-repeated", "1"))):
            text = "".join(p.text or "" for p in cell.findall("text:p", ns))
            cells.append((cell.get(O + "value-type"), cell.get(O + "value"), text))
    rows.append(cells[:7])
rows = [r for r in rows if any(c[2] for c in r)]
assert [c[2] for c in rows[0]] == ["no", "datetime", "time", "value", "unit", "verdict", "text"]
values = {1: 12.5, 2: None, 3: -0.05, 4: 1999.0, 5: None}
for n, r in enumerate(rows[1:], start=1):
    assert r[0][0] == "float" and float(r[0][1]) == n, r[0]
    if values[n] is None:
        assert r[3][0] is None and r[3][2] == "", r[3]
    else:
        assert r[3][0] == "float" and float(r[3][1]) == values[n], r[3]
assert rows[2][6][2] == "0L" and rows[5][6][2] == 'q"uote' and rows[5][4][2] == "x,y"
assert rows[1][6][2] == "12,5" and rows[1][5][2] == "Pass"
PY
else
    echo "SKIP: LibreOffice is not installed (apt-get install libreoffice-calc-nogui): only Python's csv module read the file"
fi

finish

#!/usr/bin/env bash
# kqmeter-cli record against the virtual meter: the file left by Ctrl-C,
# SIGTERM, the record-count limit and SIGKILL, in both forms, loads back.
# usage: record.sh CLI SIM DATA_DIR
set -u
CLI=$1
SIM=$2
. "$(dirname "$0")/lib.sh"
# A recorder still running at the end is ended the hard way, as a crash would.
end_signal=KILL

start_usb_meter

# Rows of a text log (header left out), waiting until there are at least N.
rows_of() { tail -n +2 "$1" 2>/dev/null | grep -c $'\r$'; }
wait_rows() { # file, count
    for _ in $(seq 1 300); do
        [ "$(rows_of "$1")" -ge "$2" ] && return 0
        sleep 0.1
    done
    return 1
}
# Numbers 1..n without a gap and only values the meter sent.
rows_well_formed() {
    awk -F'\t' 'NR > 1 { sub(/\r$/, "", $4)
                         if ($1 != NR - 1 || $3 !~ /^(19\.99|20\.00|0L)$/ || $4 != "lux") exit 1 }
                END { exit NR < 2 }' "$1"
}
# The core loads the file (convert reads it and writes it again).
loads() { "$CLI" convert "$1" "$work/loaded-$(basename "$1").txt" >/dev/null 2>&1; }

start_record() { # tag, then record options
    local tag=$1
    shift
    # The files are the user's, made as any program makes a file: what the
    # umask leaves of 0666 (the window's own journal is the private one).
    (umask 022 && exec "$CLI" record --usb "$@") >"$work/$tag.out" 2>"$work/$tag.err" &
    rec=$!
    pids+=($rec)
}

# Text file, ended by SIGTERM: complete, and a load saves it back byte for byte.
start_record term "$work/term.txt"
check "term: rows reach the disk while recording" wait_rows "$work/term.txt" 25
kill -TERM $rec
wait $rec
check "term: exit 0" [ $? = 0 ]
check "term: rows numbered, values of the meter" rows_well_formed "$work/term.txt"
check "term: readable like any saved file (644)" [ "$(stat -c %a "$work/term.txt")" = 644 ]
check "term: loads" loads "$work/term.txt"
check "term: saved back the same" cmp -s "$work/term.txt" "$work/loaded-term.txt.txt"
check "term: says how many rows" \
    grep -qx "kqmeter-cli: $(rows_of "$work/term.txt") rows in $work/term.txt" "$work/term.err"

# XML file, ended by Ctrl-C: the packet is written and its row file goes.
start_record int "$work/int.xml" --max-records 100000
check "xml: rows beside it while recording" wait_rows "$work/int.xml.rows.txt" 25
kill -INT $rec
wait $rec
check "xml: exit 0" [ $? = 0 ]
check "xml: row file gone" [ ! -e "$work/int.xml.rows.txt" ]
check "xml: packet loads" loads "$work/int.xml"
check "xml: every row in the packet" \
    grep -qx "kqmeter-cli: $(rows_of "$work/loaded-int.xml.txt") rows in $work/int.xml" \
    "$work/int.err"
check "xml: rows numbered, values of the meter" rows_well_formed "$work/loaded-int.xml.txt"

# SIGKILL: no packet, but every row of the last second onwards is readable.
start_record kill "$work/kill.xml"
check "kill: rows beside it" wait_rows "$work/kill.xml.rows.txt" 25
kill -KILL $rec
{ wait $rec; } 2>/dev/null
check "kill: no packet" [ ! -e "$work/kill.xml" ]
check "kill: rows well formed" rows_well_formed "$work/kill.xml.rows.txt"
check "kill: rows file 644" [ "$(stat -c %a "$work/kill.xml.rows.txt")" = 644 ]
check "kill: rows load" loads "$work/kill.xml.rows.txt"
start_record killtxt "$work/kill.txt"
check "kill text: rows" wait_rows "$work/kill.txt" 25
kill -KILL $rec
{ wait $rec; } 2>/dev/null
check "kill text: rows well formed" rows_well_formed "$work/kill.txt"

# A recording restarted on the same name (a service after a crash) leaves the
# rows of the one before alone and does not start.
cp "$work/kill.txt" "$work/kill.txt.before"
cp "$work/kill.xml.rows.txt" "$work/kill.rows.before"
for out in kill.txt kill.xml; do
    timeout 30 "$CLI" record --usb --max-records 3 "$work/$out" >/dev/null 2>"$work/again.err"
    check "again on $out: exit 1" [ $? = 1 ]
    check "again on $out: one line says why" [ "$(wc -l <"$work/again.err")" = 1 ]
done
check "again: text rows untouched" cmp -s "$work/kill.txt" "$work/kill.txt.before"
check "again: xml rows untouched" cmp -s "$work/kill.xml.rows.txt" "$work/kill.rows.before"
check "again: no packet" [ ! -e "$work/kill.xml" ]

# Two recordings started at once onto one name: one of them takes it, the
# other does not start; the file holds the rows of the one that runs.
start_record twoA "$work/two.txt"
recA=$rec
start_record twoB "$work/two.txt"
recB=$rec
for _ in $(seq 1 100); do
    kill -0 $recA 2>/dev/null && kill -0 $recB 2>/dev/null || break
    sleep 0.1
done
sleep 1.5
kill -TERM $recA $recB 2>/dev/null
wait $recA
statusA=$?
wait $recB
statusB=$?
check "two at once: one refused, one recorded" \
    bash -c "[ '$statusA$statusB' = 01 ] || [ '$statusA$statusB' = 10 ]"
check "two at once: the rows of one recording" rows_well_formed "$work/two.txt"

# A file saved under an XML recording's name while it runs is left alone; the
# packet goes to a free name, which is reported.
start_record appear "$work/appear.xml"
check "appear: rows beside it" wait_rows "$work/appear.xml.rows.txt" 5
printf 'theirs\n' >"$work/appear.xml"
kill -INT $rec
wait $rec
check "appear: exit 0" [ $? = 0 ]
check "appear: their file untouched" [ "$(cat "$work/appear.xml")" = theirs ]
check "appear: packet under a free name" loads "$work/appear-2.xml"
check "appear: the name reported" grep -q "rows in $work/appear-2.xml\$" "$work/appear.err"
check "appear: rows file gone" [ ! -e "$work/appear.xml.rows.txt" ]

# The record-count limit ends the recording; Repeat off logs no value twice in a row.
timeout 30 "$CLI" record --usb --repeat off --max-records 7 "$work/limit.txt" \
    >/dev/null 2>"$work/limit.err"
check "limit: exit 0" [ $? = 0 ]
check "limit: seven rows" [ "$(rows_of "$work/limit.txt")" = 7 ]
check "limit: no repeats" bash -c "tail -n +2 '$work/limit.txt' | cut -f3 | uniq -d | grep -q . && exit 1 || exit 0"

# A .csv name records CSV rows as they come, each with its date and time.
csv_rows_ok() { # file, count
    python3 - "$1" "$2" <<'PY'
import csv, re, sys
with open(sys.argv[1], newline="", encoding="utf-8") as f:
    raw = f.read()
rows = list(csv.reader(raw.splitlines(keepends=True)))
ok = raw.endswith("\r\n") and rows[0] == ["no", "datetime", "time", "value", "unit", "verdict", "text"]
body = rows[1:]
ok = ok and len(body) == int(sys.argv[2])
iso = re.compile(r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d$")
for i, (no, dt, tm, value, unit, verdict, text) in enumerate(body, 1):
    ok = ok and no == str(i) and iso.match(dt) and dt[11:19] == tm and unit == "lux"
    ok = ok and text in ("19.99", "20.00", "0L") and verdict in ("Pass", "Fail", "")
    ok = ok and (value == "" if text == "0L" else float(value) == float(text))
sys.exit(0 if ok else 1)
PY
}
timeout 30 "$CLI" record --usb --max-records 5 "$work/rec.csv" >/dev/null 2>"$work/csv.err"
check "csv: exit 0" [ $? = 0 ]
check "csv: five rows with their date, CRLF, plain numbers" csv_rows_ok "$work/rec.csv" 5
check "csv: loads back" loads "$work/rec.csv"

# Options: a one-line reason and status 2; no cable: status 1 and no file.
bad() { # expected reason, then options
    local reason=$1
    shift
    "$CLI" record "$@" >/dev/null 2>"$work/bad.err"
    [ $? = 2 ] && [ "$(wc -l <"$work/bad.err")" = 1 ] && grep -qF -- "$reason" "$work/bad.err"
}
check "bad: no link" bad "exactly one of" "$work/x.txt"
check "bad: two links" bad "exactly one of" --usb --serial COM1 "$work/x.txt"
check "bad: usb and hid" bad "exactly one of" --usb --hid "$work/x.txt"
check "bad: device without hid" bad "--device goes with --hid" --usb --device /dev/hidraw0 "$work/x.txt"
check "bad: no file" bad "no output file" --usb
check "bad: two files" bad "one output file" --usb a.txt b.txt
check "bad: repeat" bad "on or off" --usb --repeat yes "$work/x.txt"
check "bad: interval 0" bad "--interval" --usb --interval 0 "$work/x.txt"
check "bad: interval text" bad "--interval" --usb --interval 1s "$work/x.txt"
check "bad: max 0" bad "--max-records" --usb --max-records 0 "$work/x.txt"
check "bad: max too big" bad "--max-records" --usb --max-records 10000001 "$work/x.txt"
KQMETER_BRIDGE_DEVICES= "$CLI" record --usb "$work/none.txt" >/dev/null 2>&1
check "no cable: exit 1" [ $? = 1 ]
check "no cable: no file" [ ! -e "$work/none.txt" ]
timeout 30 "$CLI" record --usb --max-records 3 "$work/no/such/folder.txt" >/dev/null 2>"$work/nodir.err"
check "no folder: exit 1" [ $? = 1 ]
check "no folder: names the file" \
    grep -qF "Cannot write file $work/no/such/folder.txt: No such file or directory" "$work/nodir.err"
check "no folder: one line, at the start" [ "$(wc -l <"$work/nodir.err")" = 1 ]
timeout 30 "$CLI" record --usb --max-records 3 "$work/no/such/folder.xml" >/dev/null 2>"$work/nodir.err"
check "no folder, xml: exit 1" [ $? = 1 ]
check "no folder, xml: names no file that is not there" \
    bash -c "! grep -q 'rows are in' '$work/nodir.err'"

# The serial cable: the same rules, the port given as a device file.
start_sim ser --serial 12b --values 19.99,20.00,0L --unit lux --rate 20
"$CLI" record --serial "$(sim_path ser)" "$work/serial.txt" >/dev/null 2>&1 &
rec=$!
pids+=($rec)
check "serial: rows reach the disk" wait_rows "$work/serial.txt" 10
kill -TERM $rec
wait $rec
check "serial: exit 0" [ $? = 0 ]
check "serial: rows numbered, values of the meter" rows_well_formed "$work/serial.txt"
"$CLI" record --serial "$work/no-such-port" "$work/noport.txt" >/dev/null 2>&1
check "serial, no port: exit 1" [ $? = 1 ]
check "serial, no port: no file" [ ! -e "$work/noport.txt" ]
# No such HID device: status 1 and no file (with or without hidraw on this machine).
"$CLI" record --hid --device /nonexistent/hidraw "$work/nohid.txt" >/dev/null 2>&1
check "hid, no device: exit 1" [ $? = 1 ]
check "hid, no device: no file" [ ! -e "$work/nohid.txt" ]

echo "record: $passed passed, $failed failed"
[ "$failed" = 0 ]

#!/usr/bin/env bash
# kqmeter-cli convert and report: log files loaded and saved exactly as the
# window does, byte for byte; failures reported and nothing old lost.
# Arguments: CLI SIM DATA_DIR
set -uo pipefail
cli=$1
data=$3/files
. "$(dirname "$0")/lib.sh"

same() { # produced expected description
    cmp -s "$1" "$2" || fail "$3: $1 differs from $2"
}

# Conversions whose result is known byte for byte.
while read -r in out expected; do
    "$cli" convert "$data/$in" "$work/$out" >"$work/stdout" 2>"$work/stderr" ||
        fail "convert $in $out: exit $? ($(cat "$work/stderr"))"
    same "$work/$out" "$data/$expected" "convert $in -> $out"
    grep -qx "Save table to specified file: $work/$out Scuss!" "$work/stdout" ||
        fail "convert $in $out: no success line"
done <<'LIST'
one_row.xml a.txt one_row.txt
one_row.xml b.XML one_row.xml
foreign_log.xml c.xml foreign_log.xml
escapes.xml d.xml escapes.xml
five_rows.txt e.xls five_rows.txt
empty.xml g.txt empty.txt
empty.txt h.xml empty.xml
LIST

# A text file loaded and saved as a packet: every row an inserted row.
"$cli" convert "$data/five_rows.txt" "$work/five.xml" >/dev/null 2>&1 || fail "five_rows to xml"
grep -q 'CHANGE_LOG="1 0 4 2 0 4 3 0 4 4 0 4 5 0 4"' "$work/five.xml" || fail "five.xml change log"
"$cli" convert "$work/five.xml" "$work/five_again.txt" >/dev/null 2>&1 || fail "five.xml back"
same "$work/five_again.txt" "$data/five_rows.txt" "text -> xml -> text"

# Load failures: the fixed message and exit 1, nothing written.
: >"$work/empty_file.txt"
printf 'No\tTime\r\n1 a b c d\r\n' >"$work/five_fields.txt"
printf '<DATAPACKET>' >"$work/broken.xml"
# (null_texts.txt holds a row without No, which the text form cannot load back.)
cp "$data/null_texts.txt" "$work/null_texts.txt"
for bad in empty_file.txt five_fields.txt broken.xml missing.txt null_texts.txt; do
    "$cli" convert "$work/$bad" "$work/out_$bad.txt" >/dev/null 2>"$work/stderr"
    status=$?
    [ $status -eq 1 ] || fail "convert $bad: exit $status, expected 1"
    grep -qx 'Failed to Load File!' "$work/stderr" || fail "convert $bad: no load failure message"
    [ ! -e "$work/out_$bad.txt" ] || fail "convert $bad: wrote an output"
done

# Save failures: the window's messages and exit 1.
"$cli" convert "$data/one_row.txt" "$work/missing/a.txt" >/dev/null 2>"$work/stderr"
[ $? -eq 1 ] || fail "save into a missing folder: exit status"
grep -qx "Could not save table to specified file: $work/missing/a.txt" "$work/stderr" ||
    fail "text save failure message"
"$cli" convert "$data/one_row.txt" "$work/missing/a.xml" >/dev/null 2>"$work/stderr"
[ $? -eq 1 ] || fail "xml save into a missing folder: exit status"
grep -q "No such file or directory" "$work/stderr" || fail "xml save failure text"

# A write error part-way (file size limit) leaves the old file as it was.
awk 'BEGIN { printf "No\tTime\tValue\tUnit\r\n"; for (i = 1; i <= 100000; i++) printf "%d\t10:00:00\t%d.5\tlux\r\n", i, i }' >"$work/big.txt"
printf 'old contents\r\n' >"$work/keep.txt"
(
    trap '' XFSZ
    ulimit -f 64
    exec "$cli" convert "$work/big.txt" "$work/keep.txt"
) >/dev/null 2>"$work/stderr"
[ $? -eq 1 ] || fail "write error: exit status"
[ "$(cat "$work/keep.txt")" = "$(printf 'old contents\r')" ] || fail "write error: old file changed"
ls -a "$work" | grep -q '\.tmp$' && fail "write error: temporary file left behind"

# report: the same layout to PDF. An A4 page less its 10 mm margins holds the
# page header, the column titles and the page footer (10.6 mm each) and
# (297 - 20 - 31.8) / 6.6 = 37 detail rows; an empty log still gives one page.
# The page count is read from the PDF itself (pdfinfo, poppler-utils).
command -v pdfinfo >/dev/null || fail "pdfinfo (poppler-utils) is not installed"
while read -r log pages; do
    "$cli" report --date 09/12/2026 "$log" "$work/r.pdf" >"$work/stdout" 2>"$work/stderr" ||
        fail "report $log: exit $? ($(cat "$work/stderr"))"
    head -c 4 "$work/r.pdf" | grep -q '%PDF' || fail "report $log: not a PDF"
    in_pdf=$(pdfinfo "$work/r.pdf" 2>/dev/null | awk '/^Pages:/ { print $2 }')
    [ "$in_pdf" = "$pages" ] || fail "report $log: the PDF has ${in_pdf:-no} pages, expected $pages"
    grep -q "pages $pages\$" "$work/stdout" || fail "report $log: $(cat "$work/stdout"), expected $pages pages"
    rm -f "$work/r.pdf"
done <<LIST
$data/empty.txt 1
$data/five_rows.txt 1
$work/big.txt 2703
LIST
"$cli" report "$work/broken.xml" "$work/r.pdf" >/dev/null 2>"$work/stderr"
[ $? -eq 1 ] || fail "report of a broken log: exit status"
grep -qx 'Failed to Load File!' "$work/stderr" || fail "report of a broken log: message"

finish

#!/usr/bin/env bash
# kqmeter-cli record --split ROWS and --duration against the virtual meter:
# pieces named STEM-YYYYMMDD-HHMM[-N].EXT, each complete and loadable alone,
# together every row once; a duration ends the recording by itself.
# usage: record_split.sh CLI SIM DATA_DIR
set -u
CLI=$1
SIM=$2
. "$(dirname "$0")/lib.sh"
end_signal=KILL

start_usb_meter

# The pieces, loaded one by one (convert reads each alone), their rows joined
# in the order of their first numbers: 1..N once each, at most ROWS a piece.
pieces_whole() { # form (txt or xml), rows per piece, files...
    local form=$1 per=$2
    shift 2
    local f
    : >"$work/all"
    for f in "$@"; do
        "$CLI" convert "$f" "$work/one.txt" >/dev/null 2>&1 || { echo "$f does not load" >&2; return 1; }
        tail -n +2 "$work/one.txt" | tr -d '\r' >"$work/rows"
        [ "$(wc -l <"$work/rows")" -le "$per" ] || { echo "$f holds more than $per rows" >&2; return 1; }
        cat "$work/rows" >>"$work/all"
        rm -f "$work/one.txt"
    done
    sort -n -k1,1 "$work/all" | awk -F'\t' -v per="$per" '
        $1 != NR { print "row " NR " is numbered " $1 > "/dev/stderr"; exit 1 }
        END { if (NR < 2 * per) { print "only " NR " rows" > "/dev/stderr"; exit 1 } }'
}

for form in txt xml; do
    "$CLI" record --usb --split 20 --duration 4s "$work/piece.$form" >"$work/$form.out" 2>"$work/$form.err"
    check "$form: --duration ends the recording with 0" [ $? = 0 ]
    mapfile -t files < <(ls "$work"/piece-[0-9]*."$form" 2>/dev/null)
    check "$form: several pieces (${#files[@]})" [ "${#files[@]}" -ge 3 ]
    check "$form: names STEM-YYYYMMDD-HHMM[-N].EXT" bash -c '
        for f in "$@"; do [[ $(basename "$f") =~ ^piece-20[0-9]{6}-[0-2][0-9][0-5][0-9](-[0-9]+)?\.'$form'$ ]] || exit 1; done' \
        _ "${files[@]}"
    check "$form: every piece loads alone; every row once, none lost" \
        pieces_whole "$form" 20 "${files[@]}"
    check "$form: no OUT itself, no rows file left" \
        bash -c '! ls "$1"/piece."$2" "$1"/*.rows.txt 2>/dev/null | grep -q .' _ "$work" "$form"
    check "$form: each piece told" [ "$(grep -c ' rows in .*/piece-' "$work/$form.err")" = "${#files[@]}" ]
    rm -f "$work"/piece-*
done

# The settings file of the systemd unit: the same options.
cat >"$work/rec.conf" <<CONF
# a bench meter
cable = usb
output = $work/set.txt
split = 1000
duration = 2s
CONF
"$CLI" record --settings "$work/rec.conf" >/dev/null 2>"$work/set.err"
check "settings: exit 0" [ $? = 0 ]
check "settings: one piece of the named file" bash -c 'ls "$1"/set-2*.txt >/dev/null' _ "$work"
printf 'cable = usb\nspeed = 9\noutput = x.txt\n' >"$work/bad.conf"
"$CLI" record --settings "$work/bad.conf" >/dev/null 2>"$work/bad.err"
check "settings: an unknown key is refused (2)" [ $? = 2 ]
"$CLI" record --usb --split weekly "$work/w.txt" 2>/dev/null
check "--split weekly is refused (2)" [ $? = 2 ]
"$CLI" record --usb --duration 8x "$work/w.txt" 2>/dev/null
check "--duration 8x is refused (2)" [ $? = 2 ]

echo "record_split: $passed passed, $failed failed"
[ "$failed" -eq 0 ]

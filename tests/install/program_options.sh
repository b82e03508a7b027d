#!/usr/bin/env bash
# Every program answers --help and --version, and refuses a bad command line
# with exit status 2 and one line that names the program and the fault.
# usage: program_options.sh KQMETER KQMETER_CLI KQMETER_SIM VERSION
set -u
declare -A path=([kqmeter]=$1 [kqmeter-cli]=$2 [kqmeter-sim]=$3)
version=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passed=0
failed=0
check() { # name, then a command that succeeds when the check holds
    local name=$1
    shift
    if "$@"; then
        passed=$((passed + 1))
    else
        echo "FAIL: $name" >&2
        failed=$((failed + 1))
    fi
}
lines() { wc -l <"$1" | tr -d ' '; }

# --help and --version work without a screen: the window is not reached.
for program in kqmeter kqmeter-cli kqmeter-sim; do
    env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "${path[$program]}" --help \
        >"$work/out" 2>"$work/err"
    check "$program --help: exit 0" [ $? -eq 0 ]
    check "$program --help: usage on stdout" grep -q "^usage: .*$program" "$work/out"
    check "$program --help: names --version" grep -q -- "--version" "$work/out"
    check "$program --help: nothing on stderr" [ ! -s "$work/err" ]

    env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "${path[$program]}" --version \
        >"$work/out" 2>"$work/err"
    check "$program --version: exit 0" [ $? -eq 0 ]
    check "$program --version: first line" [ "$(head -1 "$work/out")" = "$program $version" ]
    check "$program --version: nothing on stderr" [ ! -s "$work/err" ]
done

# Each command of kqmeter-cli says what it does, and runs nothing then (record
# with --help must not start a recording, nor make its file).
for command in decode monitor record devices convert stats report; do
    (cd "$work" && "${path[kqmeter-cli]}" "$command" --usb out.txt --help) >"$work/out" 2>"$work/err"
    check "kqmeter-cli $command --help: exit 0" [ $? -eq 0 ]
    check "kqmeter-cli $command --help: its usage, then what it does" \
        bash -c "grep -qE '^usage: kqmeter-cli $command( |\$)' '$work/out' && [ \$(wc -l <'$work/out') -ge 2 ]"
    check "kqmeter-cli $command --help: nothing on stderr" [ ! -s "$work/err" ]
done
check "kqmeter-cli record --help: no file made" [ ! -e "$work/out.txt" ]

# Bad command lines: program|arguments (the window's run offscreen, as the
# window system's options are taken out before its own are judged).
bad=(
    "kqmeter|--bogus"
    "kqmeter|-x"
    "kqmeter|one.txt two.txt"
    "kqmeter|--defaults --no-such-thing"
    "kqmeter|--connect"
    "kqmeter|--connect bluetooth"
    "kqmeter-cli|"
    "kqmeter-cli|--bogus"
    "kqmeter-cli|nosuchcommand"
    "kqmeter-sim|--bogus"
    "kqmeter-sim|--rate"
    "kqmeter-sim|--rate fast"
    "kqmeter-sim|--form usb99"
    "kqmeter-sim|--count -3"
)
for row in "${bad[@]}"; do
    program=${row%%|*}
    read -r -a args <<<"${row#*|}"
    QT_QPA_PLATFORM=offscreen timeout 60 "${path[$program]}" "${args[@]}" \
        >"$work/out" 2>"$work/err"
    status=$?
    grep -v '^QStandardPaths: ' "$work/err" >"$work/reason"
    check "$program ${args[*]}: exit 2 (got $status)" [ $status -eq 2 ]
    check "$program ${args[*]}: one line of reason" [ "$(lines "$work/reason")" = 1 ]
    check "$program ${args[*]}: the line names the program" grep -q "^$program: " "$work/reason"
    check "$program ${args[*]}: nothing on stdout" [ ! -s "$work/out" ]
done

# The window ends on SIGTERM (a logout, a shutdown) as on its Exit item, minus
# the question nobody is there to answer: status 0 and its settings written.
home=$work/home
XDG_CONFIG_HOME=$home/config XDG_DATA_HOME=$home/data QT_QPA_PLATFORM=offscreen \
    "${path[kqmeter]}" >"$work/out" 2>"$work/err" &
window=$!
trap 'kill -9 $window 2>/dev/null; rm -rf "$work"' EXIT
# The window is built once it holds its journal's lock; a signal sent before
# its event loop runs waits for it.
for _ in $(seq 600); do
    [ -e "$home/data/kqmeter/journal.lock" ] && break
    sleep 0.05
done
kill -TERM $window
for _ in $(seq 200); do
    kill -0 $window 2>/dev/null || break
    sleep 0.05
done
check "kqmeter ends on SIGTERM" bash -c "! kill -0 $window 2>/dev/null"
wait $window
status=$?
check "kqmeter on SIGTERM: exit 0 (got $status)" [ $status -eq 0 ]
check "kqmeter on SIGTERM: settings written" [ -s "$home/config/kqmeter/kqmeter.conf" ]

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]

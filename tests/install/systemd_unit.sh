#!/usr/bin/env bash
# The packaged systemd user unit: systemd-analyze verifies it, and the command
# it starts, with %h and %i filled in, records a meter from a settings file.
# usage: systemd_unit.sh UNIT CLI SIM   (exit 77: skipped)
set -u
UNIT=$1
CLI=$2
SIM=$3
if ! command -v systemd-analyze >/dev/null; then
    echo "SKIP: systemd-analyze is not installed (Debian package systemd)"
    exit 77
fi
work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill -KILL "$pid" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
failed=0
fail() {
    echo "FAIL: $*" >&2
    failed=1
}

# The unit names the program without a folder (systemd finds it in /usr/bin
# or /usr/local/bin): verified where the built program stands in for it.
mkdir -p "$work/bin" "$work/units"
cp "$CLI" "$work/bin/kqmeter-cli"
cp "$UNIT" "$work/units/"
ln -s "$(basename "$UNIT")" "$work/units/kqmeter-record@lab.service"
if [ "$(id -u)" -eq 0 ] && command -v unshare >/dev/null; then
    unshare -m sh -c 'mount --bind "$1" /usr/local/bin && exec systemd-analyze verify --man=no "$2"' \
        sh "$work/bin" "$work/units/kqmeter-record@lab.service" >"$work/verify.out" 2>&1 ||
        fail "systemd-analyze verify: $(cat "$work/verify.out")"
    # A unit that verifies says nothing; a warning is a fault to mend.
    [ "$failed" -ne 0 ] || [ ! -s "$work/verify.out" ] ||
        fail "systemd-analyze said: $(cat "$work/verify.out")"
else
    # Without a mount namespace only the program's absence may be reported.
    systemd-analyze verify --man=no "$work/units/kqmeter-record@lab.service" >"$work/verify.out" 2>&1
    grep -v "Command kqmeter-cli is not executable" "$work/verify.out" >"$work/other" || true
    [ ! -s "$work/other" ] || fail "systemd-analyze verify: $(cat "$work/other")"
fi

# The unit's command line, as systemd starts it for instance "lab".
exec_start=$(sed -n 's/^ExecStart=//p' "$UNIT")
[ -n "$exec_start" ] || fail "no ExecStart"
grep -qx 'Restart=on-failure' "$UNIT" || fail "no Restart=on-failure"
home=$work/home
mkdir -p "$home/.config/kqmeter"
"$SIM" --path-file "$work/sim.path" --values 1.00,2.00 --unit lux --rate 20 >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 1 200); do
    [ -s "$work/sim.path" ] && break
    sleep 0.05
done
cat >"$home/.config/kqmeter/record-lab.conf" <<CONF
# the meter on the lab bench
cable = usb
output = $work/lab.txt
duration = 2s
CONF
command=${exec_start//%h/$home}
command=${command//%i/lab}
read -r -a words <<<"$command"
[ "${words[0]}" = kqmeter-cli ] || fail "ExecStart starts ${words[0]}, not kqmeter-cli"
KQMETER_BRIDGE_DEVICES=$(head -1 "$work/sim.path") timeout 20 "$CLI" "${words[@]:1}" \
    >"$work/rec.out" 2>"$work/rec.err"
status=$?
[ "$status" -eq 0 ] || fail "the unit's command ended with $status: $(cat "$work/rec.err")"
rows=$(tail -n +2 "$work/lab.txt" 2>/dev/null | grep -c $'\r$')
[ "$rows" -ge 10 ] || fail "the unit's command recorded $rows rows in 2 s"
[ $failed -eq 0 ] && echo "systemd unit: verified, its command recorded $rows rows"
exit $failed

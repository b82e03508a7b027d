# Shared by the lab's group scripts: sourced with the case name, the group's
# machine folder and the build folder set as CASE, VM and BUILD.
# Every case runs in the machine its group booted (lab-vm start); a case
# whose machine could not boot here is skipped with the reason.
lab_here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
LAB_VM=$lab_here/lab-vm
work=$(mktemp -d)
bg_pids=()

lab_cleanup() {
    local pid
    for pid in "${bg_pids[@]}"; do kill "$pid" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$work"
}
trap lab_cleanup EXIT

if [ -f "$VM/skip" ]; then
    echo "skipped: $(cat "$VM/skip")"
    exit 77
fi
if [ ! -f "$VM/share/ready" ]; then
    echo "the lab machine in $VM is not running (its boot case failed)" >&2
    exit 1
fi

# Runs the script on stdin as root in the guest, with the arguments given;
# the guest sees BUILD (read-only) and the share at /lab.
guest() {
    cat >"$work/guest.sh"
    "$LAB_VM" run "$VM" "$work/guest.sh" "$@"
}

# The same after the window's helpers (tests/lab/window-lib.sh).
in_window() {
    { echo "B=$BUILD; . $lab_here/window-lib.sh"; cat; } | guest
}

failed=0
check() { # name, then a command that must succeed
    local name=$1
    shift
    if "$@"; then
        echo "ok: $name"
    else
        echo "FAIL: $name" >&2
        failed=$((failed + 1))
    fi
}

# Plugs a virtual meter into the guest's USB-serial adapter (sim options follow).
plug_meter() {
    "$lab_here/meter-plug" "$VM/usb.sock" "$BUILD/tools/kqmeter-sim" "$@" &
    meter_pid=$!
    bg_pids+=("$meter_pid")
}
pull_meter() {
    kill "$meter_pid" 2>/dev/null
    wait "$meter_pid" 2>/dev/null
    return 0
}

# Keeps the screenshots the guest left in its share (NAME.png) beside the
# machine, and in KQ_LAB_SHOTS if that is set, to be looked at.
keep_shot() {
    local name
    for name in "$@"; do
        [ -s "$VM/share/$name.png" ] || {
            echo "no screenshot $name"
            continue
        }
        mv "$VM/share/$name.png" "$VM/$name.png"
        echo "screenshot: $VM/$name.png"
        if [ -n "${KQ_LAB_SHOTS:-}" ] && mkdir -p "$KQ_LAB_SHOTS"; then
            cp "$VM/$name.png" "$KQ_LAB_SHOTS/$name.png"
        fi
    done
}

finish_case() {
    [ "$failed" -eq 0 ]
}

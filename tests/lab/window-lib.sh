# The window in the lab guest, sourced by a case's guest script with B (the
# build folder) set: an X server of its own, the window, its message boxes,
# the readings its recovery journal took, and what the window process costs.
# A window and its X server outlive the script that started them (a case pulls
# a cable between two scripts); win_end ends both.
#
# The data and settings folders live in the guest's /tmp/win, which an
# ordinary user can write, too.
W=/tmp/win
export DISPLAY=:7 XDG_DATA_HOME=$W/data XDG_CONFIG_HOME=$W/config
journal=$XDG_DATA_HOME/kqmeter/recovery.txt
title="Interface Program"

# Starts the X server (as the user given, root if none).
win_x() {
    rm -rf "$W" /tmp/.X7-lock /tmp/.X11-unix/X7
    mkdir -p "$W/data" "$W/config"
    [ -z "${1:-}" ] || chown -R "$1" "$W"
    setsid Xvfb :7 -screen 0 1280x800x24 -nolisten tcp >"$W/xvfb.log" 2>&1 </dev/null &
    echo $! >/tmp/win.xpid
    for _ in $(seq 1 100); do [ -S /tmp/.X11-unix/X7 ] && return 0; sleep 0.1; done
    echo "-- no X server"
    cat "$W/xvfb.log"
    return 1
}

# Opens the window (options follow; a leading "as USER" runs it as that user)
# and waits until it shows.
win_open() {
    local run=()
    if [ "${1:-}" = as ]; then
        run=(setpriv --reuid "$2" --regid "$2" --clear-groups env HOME=$W)
        shift 2
    fi
    setsid "${run[@]}" "$B/src/kqmeter" --defaults "$@" >"$W/window.err" 2>&1 </dev/null &
    echo $! >/tmp/win.pid
    # The window, not a message box that --connect opened over it at once: the widest.
    timeout 60 xdotool search --sync --onlyvisible --name "$title" >/dev/null
    wid=$(for w in $(xdotool search --onlyvisible --name "$title"); do
        eval "$(xdotool getwindowgeometry --shell "$w")"
        echo "$WIDTH $w"
    done | sort -n | tail -1 | cut -d' ' -f2)
    [ -n "$wid" ] || {
        echo "-- no window"
        cat "$W/window.err"
        return 1
    }
    echo "$wid" >/tmp/win.wid
    sleep 1
}

win_pid() { cat /tmp/win.pid; }
win_wid() { cat /tmp/win.wid; }
win_alive() { kill -0 "$(win_pid)" 2>/dev/null; }

# Presses a connect button of the open window by its name in the program: USB
# ("USB Connect ") or USBCon (the HID cable's "USB Connect", with the cable
# controls shown). A button has no X window of its own to be found by, so the
# press goes to its place in the client area, which lies under the menu bar:
# the client is 544 pixels high, whatever height the menu's font gives the bar.
win_press() {
    local x y WINDOW X Y WIDTH HEIGHT SCREEN
    case $1 in
    USB) x=55 y=13 ;;     # 109 x 25 at 1,1
    USBCon) x=810 y=13 ;; # 100 x 25 at 760,1
    *)
        echo "win_press: no button $1" >&2
        return 2
        ;;
    esac
    eval "$(xdotool getwindowgeometry --shell "$(win_wid)")"
    xdotool mousemove --window "$(win_wid)" "$x" $((HEIGHT - 544 + y)) click 1
}

# The message boxes over the window: the other visible windows of its title.
win_boxes() {
    local w
    for w in $(xdotool search --onlyvisible --name "$title" 2>/dev/null); do
        [ "$w" = "$(win_wid)" ] || echo "$w"
    done
}

# Waits up to $1 seconds for a message box and prints its text as the X
# selection holds it when the mouse selects it: from a point on its first
# line back to the start, then from there on past the end (where the text
# starts depends on the box's icon). Fails when no box comes.
box_text() {
    local box= _
    for _ in $(seq 1 $(($1 * 10))); do
        box=$(win_boxes | head -1)
        [ -n "$box" ] && break
        sleep 0.1
    done
    [ -n "$box" ] || return 1
    sleep 0.3
    eval "$(xdotool getwindowgeometry --shell "$box")"
    # The first click only makes the box the active window.
    xdotool mousemove --window "$box" 100 14 click 1
    sleep 0.3
    box_select "$box" 0 0
    # A press inside a selection would drag it: a click elsewhere clears it.
    xdotool mousemove --window "$box" 150 14 click 1
    sleep 0.3
    box_select "$box" $((WIDTH - 2)) $((HEIGHT - 2))
    echo
}
box_select() { # box, the point the selection is dragged to from the first line
    xdotool mousemove --window "$1" 100 14 mousedown 1
    sleep 0.2
    xdotool mousemove --window "$1" $((($2 + 100) / 2)) $((($3 + 14) / 2))
    sleep 0.2
    xdotool mousemove --window "$1" "$2" "$3"
    sleep 0.2
    xdotool mouseup 1
    sleep 0.3
    timeout 5 xclip -o -selection primary 2>/dev/null
}

# Presses OK on every message box.
box_ok() {
    local box
    for box in $(win_boxes); do xdotool windowfocus --sync "$box" key Return; done
    sleep 0.3
}

# Readings in the journal whose value matches the pattern given.
journal_rows() {
    local n
    n=$(grep -cE $'\t('"$1"$')\t' "$journal" 2>/dev/null)
    echo "${n:-0}"
}

# Waits up to $2 seconds for the journal to hold at least $1 rows matching $3.
journal_wait() {
    local _
    for _ in $(seq 1 $(($2 * 10))); do
        [ "$(journal_rows "$3")" -ge "$1" ] && return 0
        sleep 0.1
    done
    return 1
}

# What the window process does in $1 seconds: CPU ticks (1/100 s) and
# wake-ups (context switches of all its threads).
win_cost() {
    local pid t0 t1 w0 w1
    pid=$(win_pid)
    wakeups() { cat /proc/"$pid"/task/*/status 2>/dev/null | awk '/ctxt_switches/ { n += $2 } END { print n + 0 }'; }
    t0=$(awk '{ print $14 + $15 }' /proc/"$pid"/stat)
    w0=$(wakeups)
    sleep "$1"
    t1=$(awk '{ print $14 + $15 }' /proc/"$pid"/stat)
    w1=$(wakeups)
    echo "-- cost in $1 s: $((t1 - t0)) ticks $((w1 - w0)) wakeups"
}

win_shot() { import -window root "/lab/$1.png"; }

win_end() {
    local pid
    for f in /tmp/win.pid /tmp/win.xpid; do
        pid=$(cat "$f" 2>/dev/null) || continue
        kill "$pid" 2>/dev/null
        for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        kill -9 "$pid" 2>/dev/null
        rm -f "$f"
    done
    echo "-- window said:"
    cat "$W/window.err" 2>/dev/null
}

#!/usr/bin/env bash
# Fault injection on every path that writes readings: a text save, an XML
# save, a save in place (a hard-linked file, growing and shrinking), a
# recording (text and XML) and the recovery journal. Each run fails one
# system call of the path, in turn the 1st, 2nd, ... of each kind (ENOSPC,
# EIO), or kills the program there (SIGKILL), until the whole sequence is
# covered; after each run the files must hold the old or the new content
# byte for byte, every row reported on disk must load back and no row may be
# torn. Then full disks, a read-only mount and a plain user, for real.
# usage: inject.sh CLI DRIVER DATA_DIR
set -u
CLI=$1
DRIVER=$2
DATA=$3/files
work=$(mktemp -d)
mounts=()
cleanup() {
    local m
    for m in "${mounts[@]}"; do umount -l "$m" 2>/dev/null; done
    rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
SYSCALLS=(openat write pwrite64 fsync fdatasync rename renameat2 link ftruncate fallocate)
trace_set=$(IFS=,; echo "${SYSCALLS[*]}")

# The input of the saves: 300 rows.
awk 'BEGIN { printf "No\tTime\tValue\tUnit\r\n"
             for (i = 1; i <= 300; i++) printf "%d\t10:00:00\t%d.5\tlux\r\n", i, i }' >"$work/in.txt"
head -c 200 "$work/in.txt" >"$work/short.txt"  # old content shorter than the new
awk 'BEGIN { printf "No\tTime\tValue\tUnit\r\n"
             for (i = 1; i <= 900; i++) printf "%d\t11:00:00\t%d.25\tlux\r\n", i, i }' >"$work/long.txt"

run=$work/run
# Lays out the files a path starts from, fresh for every run.
prepare() { # path
    rm -rf "$run" && mkdir -p "$run/data" "$run/tmp"
    case $1 in
    text) cp "$DATA/five_rows.txt" "$run/log.txt" ;;
    xml) cp "$DATA/one_row.xml" "$run/log.xml" ;;
    grow) cp "$work/short.txt" "$run/log.txt" && ln "$run/log.txt" "$run/twin.txt" ;;
    shrink) cp "$work/long.txt" "$run/log.txt" && ln "$run/log.txt" "$run/twin.txt" ;;
    esac
}
command_of() { # path
    case $1 in
    text | grow | shrink) echo "$CLI convert $work/in.txt $run/log.txt" ;;
    xml) echo "$CLI convert $work/in.txt $run/log.xml" ;;
    record) echo "$DRIVER record $run/rec.txt 6" ;;
    recordxml) echo "$DRIVER record $run/rec.xml 6" ;;
    journal) echo "$DRIVER journal $run/recovery.txt" ;;
    esac
}
old_of() {
    case $1 in
    text) echo "$DATA/five_rows.txt" ;;
    xml) echo "$DATA/one_row.xml" ;;
    grow) echo "$work/short.txt" ;;
    shrink) echo "$work/long.txt" ;;
    esac
}
target_of() { case $1 in xml) echo "$run/log.xml" ;; *) echo "$run/log.txt" ;; esac; }

# The last "disk A-B" a driver printed, as "A B" (empty: none).
# "disk none": the rows before were saved or let go, none is owed.
last_reported() { grep '^disk ' "$1" | tail -1 | sed 's/^disk //; s/-/ /; s/^none$//'; }
# The file holds rows first..last at least, whole and right.
holds() { # file first last
    local got
    got=$("$DRIVER" check "$1") || { echo "$1: $got"; return 1; }
    set -- $got "$2" "$3" # rows N [A-B] first last
    [ "$2" = 0 ] && { echo "no rows where $4-$5 were reported"; return 1; }
    local a=${3%-*} b=${3#*-}
    [ "$a" -le "$4" ] && [ "$b" -ge "$5" ] || { echo "rows $3, reported $4-$5"; return 1; }
}

# The invariant after one run; $1 path, $2 "kill" or "error", $3 exit status.
check_run() {
    local path=$1 how=$2 status=$3 out=$run.out
    case $path in
    text | xml | grow | shrink)
        local target old new
        target=$(target_of "$path")
        old=$(old_of "$path")
        new=$work/new-$path
        if cmp -s "$target" "$new"; then
            :
        elif cmp -s "$target" "$old"; then
            [ "$status" = 0 ] && { echo "failure reported as success"; return 1; }
        elif [ "$how" = kill ] && [ "$path" != text ] && [ "$path" != xml ]; then
            # The one case a copy cannot cover: it must then be kept.
            local kept
            kept=$(ls "$run/data/kqmeter/"*.before-save-* 2>/dev/null | head -1)
            [ -n "$kept" ] && cmp -s "$kept" "$old" || { echo "torn, and no copy of the old content"; return 1; }
        else
            echo "neither old nor new content"
            return 1
        fi
        if [ "$path" = grow ] || [ "$path" = shrink ]; then
            [ "$(stat -c %i "$run/twin.txt")" = "$(stat -c %i "$target")" ] || { echo "hard link broken"; return 1; }
            if [ "$how" = error ] && ls "$run/data/kqmeter/"*.before-save-* >/dev/null 2>&1; then
                echo "a copy of the old content left behind"
                return 1
            fi
        fi
        if [ "$how" = error ] && ls -a "$run" | grep -q '^\.log\.'; then
            echo "temporary file left behind"
            return 1
        fi
        ;;
    record | recordxml)
        local ext=txt rows=$run/rec.txt
        [ "$path" = recordxml ] && ext=xml rows=$run/rec.xml.rows.txt
        if grep -q '^complete ' "$out"; then
            local placed
            placed=$(grep '^complete ' "$out" | cut -d' ' -f2)
            holds "$placed" 1 18 || return 1
            [ "$status" = 0 ] || { echo "complete, yet exit $status"; return 1; }
            [ "$ext" = txt ] || [ ! -e "$rows" ] || { echo "rows file left beside the packet"; return 1; }
        else
            [ "$status" != 0 ] || { echo "exit 0 without a complete file"; return 1; }
            local reported
            reported=$(last_reported "$out")
            # Killed after the packet was complete and its rows file had gone.
            if [ "$ext" = xml ] && [ ! -e "$rows" ] && [ -e "$run/rec.xml" ]; then
                holds "$run/rec.xml" 1 18 || { echo "rows file gone, packet not complete"; return 1; }
            elif [ -n "$reported" ]; then
                holds "$rows" $reported || return 1
            elif [ -e "$rows" ] && [ "$(wc -c <"$rows")" -gt 0 ]; then
                "$DRIVER" check "$rows" >/dev/null || { echo "rows file damaged"; return 1; }
            fi
            if [ "$ext" = xml ] && [ -e "$run/rec.xml" ]; then
                holds "$run/rec.xml" 1 18 || { echo "a packet that is not complete"; return 1; }
            fi
        fi
        ;;
    journal)
        local reported
        reported=$(last_reported "$out")
        if [ -n "$reported" ]; then
            holds "$run/recovery.txt" $reported || return 1
        fi
        ;;
    esac
    return 0
}

# The clean run of each path: its new content, and the calls it makes.
PATHS=(text xml grow shrink record recordxml journal)
declare -A points
for path in "${PATHS[@]}"; do
    prepare "$path"
    cmd=$(command_of "$path")
    XDG_DATA_HOME=$run/data TMPDIR=$run/tmp HOME=$run \
        strace -f -qq -o "$work/trace-$path" -e trace="$trace_set" $cmd >"$run.out" 2>&1 ||
        fail "$path: the clean run failed: $(cat "$run.out")"
    case $path in
    text | grow | shrink) cp "$run/log.txt" "$work/new-$path" ;;
    xml) cp "$run/log.xml" "$work/new-$path" ;;
    esac
    check_run "$path" clean 0 >"$work/why" || fail "$path: clean run: $(cat "$work/why")"
done
# grow and shrink write the same new content as a plain text save.
cmp -s "$work/new-grow" "$work/new-text" && cmp -s "$work/new-shrink" "$work/new-text" ||
    fail "a save in place wrote other bytes than a save beside"

# Which calls of each kind are the path's own: every one but the opening of
# libraries, locales and system files before the program begins its work, and
# what it prints on standard output.
own_calls() { # trace file, syscall: prints the indexes (from 1) to fail
    awk -v sc="$2" -v run="$run" '
        { name = $2; sub(/\(.*/, "", name) }
        name == sc { n++
                     if (sc == "openat" && !index($0, run)) next
                     if (sc == "write" && $2 ~ /^write\(1,/) next # what the program prints
                     print n }' "$1"
}

for path in "${PATHS[@]}"; do
    cmd=$(command_of "$path")
    count=0
    for sc in "${SYSCALLS[@]}"; do
        for n in $(own_calls "$work/trace-$path" "$sc"); do
            for fault in error=ENOSPC error=EIO signal=SIGKILL; do
                prepare "$path"
                # (The shell's word on a killed program is not wanted here.)
                {
                    XDG_DATA_HOME=$run/data TMPDIR=$run/tmp HOME=$run \
                        strace -f -qq -o "$run.trace" -e trace="$sc" \
                        -e inject="$sc:$fault:when=$n" $cmd >"$run.out" 2>&1
                } 2>/dev/null
                status=$?
                if ! grep -q INJECTED "$run.trace" && [ "$fault" != signal=SIGKILL ]; then
                    fail "$path: $sc #$n ($fault) was not reached"
                    continue
                fi
                how=error
                [ "$fault" = signal=SIGKILL ] && how=kill
                if ! check_run "$path" "$how" "$status" >"$work/why"; then
                    fail "$path: $sc #$n $fault: $(cat "$work/why")"
                fi
                count=$((count + 1))
            done
        done
    done
    echo "injection points $path $count"
done

# For real: a full disk (a small tmpfs), a read-only mount, a plain user.
if [ "$(id -u)" = 0 ] && mkdir "$work/small" &&
    mount -t tmpfs -o size=64k kqmeter-faults "$work/small"; then
    mounts=("$work/small" "${mounts[@]}")
    chmod 755 "$work"
    small=$work/small
    awk 'BEGIN { printf "No\tTime\tValue\tUnit\r\n"
                 for (i = 1; i <= 10; i++) printf "%d\t09:00:00\t%d\tlux\r\n", i, i }' >"$work/ten.txt"
    awk 'BEGIN { printf "No\tTime\tValue\tUnit\r\n"
                 for (i = 1; i <= 5000; i++) printf "%d\t10:00:00\t%d.5\tlux\r\n", i, i }' >"$work/big.txt"
    mkdir -p "$work/data" "$work/tmp"
    saves_into() { # target data-folder, then what the message must say; the old file stays
        local target=$1 data=$2 said=$3
        XDG_DATA_HOME=$data TMPDIR=$work/tmp "$CLI" convert "$work/big.txt" "$target" \
            >/dev/null 2>"$work/err"
        [ $? = 1 ] || { echo "exit status"; return 1; }
        cmp -s "$target" "$work/ten.txt" || { echo "old content lost"; return 1; }
        grep -q "$said" "$work/err" || { echo "message: $(cat "$work/err")"; return 1; }
        ! ls "$data/kqmeter/"*.before-save-* >/dev/null 2>&1 || { echo "copy left"; return 1; }
    }
    # A hard-linked file on a full disk: 5000 rows onto 10.
    cp "$work/ten.txt" "$small/log.txt" && ln "$small/log.txt" "$small/twin.txt"
    saves_into "$small/log.txt" "$work/data" "the file is unchanged" >"$work/why" ||
        fail "full disk, hard link: $(cat "$work/why")"
    cmp -s "$small/twin.txt" "$work/ten.txt" || fail "full disk, hard link: the other name changed"
    # ... and the data folder on that disk as well: no room for the copy.
    head -c 100000 /dev/zero >"$small/fill" 2>/dev/null # until the disk is full
    saves_into "$small/log.txt" "$small/data" "Cannot keep a copy" >"$work/why" ||
        fail "full disk, no room for the copy: $(cat "$work/why")"
    rm -f "$small/fill" "$small/twin.txt"
    # A plain user in a folder they may not write (so in place), the disk full.
    mkdir -p "$small/shared" "$work/user-data" "$work/user-tmp"
    chmod 777 "$work/user-data" "$work/user-tmp"
    cp "$work/ten.txt" "$small/shared/log.txt"
    chown 65534:65534 "$small/shared/log.txt"
    setpriv --reuid=65534 --regid=65534 --clear-groups env XDG_DATA_HOME="$work/user-data" \
        TMPDIR="$work/user-tmp" "$CLI" convert "$work/big.txt" "$small/shared/log.txt" \
        >/dev/null 2>"$work/err"
    [ $? = 1 ] && cmp -s "$small/shared/log.txt" "$work/ten.txt" ||
        fail "plain user, full disk: old content lost ($(cat "$work/err"))"
    rm -rf "$small/shared" "$small/log.txt" "$small/data"
    # A recording that fills the disk: whole rows only, every reported one there.
    "$DRIVER" record "$small/rec.txt" 5000 >"$work/rec.out" 2>"$work/rec.err"
    [ $? = 1 ] || fail "full disk, recording: exit status"
    reported=$(last_reported "$work/rec.out")
    if [ -z "$reported" ]; then
        fail "full disk, recording: no row reached the disk"
    else
        holds "$small/rec.txt" $reported >"$work/why" || fail "full disk, recording: $(cat "$work/why")"
    fi
    rm -f "$small/rec.txt"
    # A read-only mount: refused, nothing changes.
    mkdir "$work/rw" "$work/ro"
    cp "$work/ten.txt" "$work/rw/log.txt"
    if mount --bind "$work/rw" "$work/ro" && mounts=("$work/ro" "${mounts[@]}") &&
        mount -o remount,bind,ro "$work/ro"; then
        saves_into "$work/ro/log.txt" "$work/data" "Read-only file system" >"$work/why" ||
            fail "read-only mount: $(cat "$work/why")"
    fi
    echo "full disk, read-only mount and plain user: checked"
else
    echo "full disk, read-only mount and plain user: skipped (needs root and tmpfs)"
fi

echo "faults: $failures failures"
[ "$failures" = 0 ]
